#pragma once
// What ODBC itself is asked, outside any statement: the drivers the driver manager knows,
// the name the engine at the other end of an open connection gives itself, and its
// catalogue's keys of a table. The only
// calls into ODBC besides the statement handles, so that its headers (and Windows' own,
// which MinGW's need) stay in few places.

#include <QString>
#include <QStringList>

class QSqlDatabase;

// The ODBC drivers the driver manager knows (SQLDrivers).
QStringList InstalledOdbcDrivers();

// The name the other end gives itself (SQL_DBMS_NAME), asked of the ODBC connection under
// QODBC; empty when it cannot be read.
QString DbmsName(const QSqlDatabase& db);

// The columns that name one row of table on the open connection db: the primary key
// (SQLPrimaryKeys), else the first unique index (SQLStatistics) whose columns are all declared
// NOT NULL (SQLColumns); empty when there is neither or the driver cannot tell.
QStringList TableRowKey(const QSqlDatabase& db, const QString& table);
