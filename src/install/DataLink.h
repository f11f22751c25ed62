#pragma once
// The application's data-link file (.udl) and the ODBC connection it stands for.
// The applications were written against OLE DB; here the same file opens an ODBC connection,
// so the OLE DB keywords are read as the OLE DB core services read them and then mapped.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

using TKeywordList = QList<QPair<QString, QString>>;

// OLE DB keyword syntax: "key=value;key='va;lue';key=""x""""y""". Keywords keep their
// spelling; a keyword holding '=' doubles it. Throws TDbError on a malformed string (the
// error never quotes the text, which may hold a password).
TKeywordList ParseOleDbConnectionString(const QString& text);

// The value of a keyword (compared without regard to case and inner blanks; the last
// occurrence wins, as in OLE DB); empty when absent.
QString KeywordValue(const TKeywordList& keywords, const QString& key);
bool HasKeyword(const TKeywordList& keywords, const QString& key);

// The connection line of a data-link file's bytes: UTF-16 (with a byte-order mark, as
// Windows writes it, or without one), UTF-8 or ANSI; "[oledb]" and comment lines skipped.
// Throws TDbError when the file holds no connection line.
QString DataLinkConnectionLine(const QByteArray& bytes, const QString& fileNameForErrors);

// Finds path (absolute or relative to baseDir, '\' or '/' as separators) the way Windows
// would: each component without regard to case. Returns the existing path, or an empty
// string when there is none.
QString FindFileIgnoringCase(const QString& path, const QString& baseDir);

// The entry of folder called name without regard to case, as Windows finds it. The
// spellings a copied installation holds in practice (as given, lower case, upper case, a
// capital first letter with either case of extension) are tried by name first, so a folder
// that may be entered but not listed still answers; the folder is listed only for any
// other spelling. Returns the entry's path (which may be a broken link), or an empty
// string when there is none.
QString FindEntryIgnoringCase(const QString& folder, const QString& name);

// What TDbConnection needs to open a connection named by an OLE DB connection string
// ("FILE NAME=.\Varlo.UDL" or a full provider string).
struct TOdbcLink {
    QString connectionString;  // the ODBC connection string sent to the driver manager
    QString qtDatabaseName;    // the same, shaped for QODBC (which prefixes DSN=/FILEDSN= itself)
    QStringList secrets;       // passwords (and their quoted forms) to keep out of every error text
    int loginTimeout = 0;      // seconds; 0 leaves the driver's own
    QString target;            // server, database and login as the file names them, for messages
};

// Reads the data-link file named by the connection string (relative to currentDir) and maps
// it to ODBC. installedDrivers is the driver manager's list. Throws TDbError (Portuguese
// texts of our own) for a missing file, an unsupported provider, a missing SQL Server driver.
TOdbcLink OdbcLinkFor(const QString& connectionString, const QString& currentDir,
                      const QStringList& installedDrivers);

// The same mapping for an OLE DB provider string already read.
TOdbcLink OdbcLinkForProviderString(const QString& oleDb, const QStringList& installedDrivers);

// The SQL Server ODBC driver to use from the installed ones, best first; empty when none.
QString BestSqlServerDriver(const QStringList& installedDrivers);

// The ODBC drivers the driver manager knows (SQLDrivers).
QStringList InstalledOdbcDrivers();

// Replaces every occurrence of the secrets in text.
QString WithoutSecrets(QString text, const QStringList& secrets);

// The value of an attribute of an ODBC connection string, braces removed (the last one
// when repeated); empty when absent.
QString OdbcAttribute(const QString& odbcString, const QString& key);

// An ODBC attribute value, braced when it would otherwise break the string ('}' doubled
// inside braces, as Microsoft's drivers read it).
QString OdbcValue(const QString& value);

// The same for the FreeTDS driver, which reads a braced value up to the first "};" and keeps
// doubled braces as they are: braces only where needed, nothing doubled. Throws TDbError
// (naming keyword, never the value) for a value holding "};", which FreeTDS cannot receive.
QString FreeTdsValue(const QString& value, const QString& keyword);
