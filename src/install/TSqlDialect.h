#pragma once
#include <QString>

// The statements are Transact-SQL, sent to SQL Server exactly as built. When the database at
// the other end is SQLite (the demo and the tests), the only two T-SQL forms the program uses
// that SQLite lacks are rewritten: a leading "SELECT TOP n ..." becomes "SELECT ... LIMIT n",
// and GETDATE() becomes the local time. Text inside quotes and brackets is never touched.
QString TranslateTSqlForSqlite(const QString& statement);
