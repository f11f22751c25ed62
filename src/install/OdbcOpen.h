#pragma once
class QSqlDatabase;

// Opens a QODBC database so that text travels to and from the driver as UTF-8 whatever the
// process's locale. Same result and error as QSqlDatabase::open().
bool OpenOdbcDatabase(QSqlDatabase& db);
