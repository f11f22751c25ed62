#pragma once
// What ODBC itself is asked, outside any statement: the drivers the driver manager knows,
// and the name the engine at the other end of an open connection gives itself. The only
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
