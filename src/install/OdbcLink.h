#pragma once
// The applications were written against OLE DB; here the same data-link file opens an ODBC
// connection. This is where an OLE DB provider and its keywords become the ODBC connection
// string of a driver installed here, with the passwords kept out of every message.

#include <QString>
#include <QStringList>

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
