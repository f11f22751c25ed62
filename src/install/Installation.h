#pragma once
// Builds a working installation of a sibling application on SQLite: the database from the
// schema script of its kind, the data-link file as Windows writes it, the settings file the
// probe looks for. The demo and the tests use this same code.

#include <QString>
#include <QStringList>

struct TInstallationOptions {
    QString app = "Varlo";           // "Varlo", "Meltra", "Quibon" or "Tosvel"
    bool sampleData = true;          // a few hundred products; false: the tables only
    bool writeIni = true;            // "<app>.ini" beside the data-link file
    bool writeUdl = true;
    QString databaseName;            // default "<app lower>.db"
};

// Creates (or re-creates) the installation in folder; throws TDbError, TFileError, or
// TTaxasError for an unknown kind.
void MakeInstallation(const QString& folder, const TInstallationOptions& options);

// The schema script (SQLite SQL) of an application kind, from the program's resources.
QString SchemaScript(const QString& app);

// Runs a script of several statements against a SQLite database file through the SQLite
// ODBC driver (the same path the program uses).
void RunSqliteScript(const QString& databaseFile, const QString& script);

// The statements of a script, split at the semicolons that stand outside quotes, brackets
// and comments (comments dropped). Scripts hold no triggers.
QStringList SplitSqlScript(const QString& script);

// The ODBC connection string of the SQLite ODBC driver for databaseFile (absolute path);
// mayCreate false makes a missing file an error instead of a new empty database.
QString SqliteOdbcConnectionString(const QString& databaseFile, bool mayCreate);

// The text of a data-link file that opens databaseFile through the SQLite ODBC driver
// (provider MSDASQL), and writing it as UTF-16LE with a byte-order mark.
QString SqliteDataLinkText(const QString& databaseFile);
void WriteDataLinkFile(const QString& path, const QString& connectionLine);
