#pragma once
#include <QString>

// The statements are Transact-SQL, sent to SQL Server exactly as built. When the database at
// the other end is SQLite (the demo and the tests), the only two T-SQL forms the program uses
// that SQLite lacks are rewritten: a leading "SELECT TOP n ..." becomes "SELECT ... LIMIT n",
// and GETDATE() becomes the local time. Text inside quotes and brackets is never touched.
QString TranslateTSqlForSqlite(const QString& statement);

// Whether statements for the engine that calls itself dbmsName (SQL_DBMS_NAME) are translated:
// only for SQLite. Any other name, or none that could be read, gets them as built.
bool TranslatesTSqlFor(const QString& dbmsName);
