#include "DriverManager.h"

#include <QMap>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>

#ifdef _WIN32
#include <windows.h>  // MinGW's ODBC headers take their basic types from it
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

QStringList InstalledOdbcDrivers()
{
    QStringList drivers;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return drivers;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    // Wide by name, whatever UNICODE says (Qt defines it on Windows); sizes in characters.
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide text is UTF-16");
    SQLWCHAR name[512] = {};
    SQLWCHAR attributes[2048] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDriversW(env, direction, name, std::size(name) - 1, &nameLength, attributes,
                                     std::size(attributes) - 1, &attributesLength))) {
        drivers << QString::fromUtf16(reinterpret_cast<const char16_t*>(name));
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return drivers;
}

namespace {

SQLHDBC ConnectionHandle(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHDBC))
        return nullptr;
    return *static_cast<const SQLHDBC*>(handle.constData());
}

// One catalogue call's rows, the wanted columns (1-based) as text; nothing when the call fails.
// The wide calls by name, as everywhere here.
using TCatalogueCall = std::function<SQLRETURN(SQLHSTMT)>;
QList<QStringList> CatalogueRows(SQLHDBC hdbc, const TCatalogueCall& call, std::initializer_list<int> columns)
{
    QList<QStringList> rows;
    SQLHSTMT stmt = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &stmt)))
        return rows;
    if (SQL_SUCCEEDED(call(stmt))) {
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            QStringList row;
            for (int column : columns) {
                SQLWCHAR text[512] = {};
                SQLLEN length = 0;
                const SQLRETURN got = SQLGetData(stmt, SQLUSMALLINT(column), SQL_C_WCHAR, text, sizeof text, &length);
                row << (SQL_SUCCEEDED(got) && length != SQL_NULL_DATA
                            ? QString::fromUtf16(reinterpret_cast<const char16_t*>(text))
                            : QString());
            }
            rows << row;
        }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return rows;
}

}  // namespace

QString DbmsName(const QSqlDatabase& db)
{
    const SQLHDBC hdbc = ConnectionHandle(db);
    if (!hdbc)
        return {};
    // The wide call by name: the plain one is the ANSI or the wide one depending on UNICODE,
    // which Qt defines on Windows, and a wide answer read as bytes is one letter long.
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide text is UTF-16");
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(hdbc, SQL_DBMS_NAME, name, sizeof name - sizeof name[0], &length)))
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(name));
}

QStringList TableRowKey(const QSqlDatabase& db, const QString& table)
{
    const SQLHDBC hdbc = ConnectionHandle(db);
    if (!hdbc)
        return {};
    std::u16string name = table.toStdU16String();
    auto* wideName = reinterpret_cast<SQLWCHAR*>(name.data());

    // Columns that may hold NULL cannot name a row: a unique index over them lets many NULLs
    // in, and so does SQLite's primary key unless declared NOT NULL.
    QStringList nullable;
    for (const QStringList& row : CatalogueRows(
             hdbc, [&](SQLHSTMT s) { return SQLColumnsW(s, nullptr, 0, nullptr, 0, wideName, SQL_NTS, nullptr, 0); },
             {4, 11}))
        if (row[1].toInt() != SQL_NO_NULLS)
            nullable << row[0].toLower();

    // Candidate keys, the primary key first: each a list of columns in its own order. Some
    // drivers (SQLite's) list every unique index as a primary key when none is declared, each
    // under its own name.
    QList<QStringList> candidates;
    auto collect = [&](const QList<QStringList>& rows) {  // name, position, column
        QMap<QString, QMap<int, QString>> byName;
        QStringList order;
        for (const QStringList& row : rows) {
            if (!order.contains(row[0]))
                order << row[0];
            byName[row[0]][row[1].toInt()] = row[2];
        }
        for (const QString& key : order)
            candidates << byName[key].values();
    };
    collect(CatalogueRows(
        hdbc, [&](SQLHSTMT s) { return SQLPrimaryKeysW(s, nullptr, 0, nullptr, 0, wideName, SQL_NTS); }, {6, 5, 4}));
    // NON_UNIQUE, TYPE, INDEX_NAME, ORDINAL_POSITION, COLUMN_NAME; the table's own statistics
    // row (TYPE 0) names no index.
    QList<QStringList> unique;
    for (const QStringList& row : CatalogueRows(
             hdbc,
             [&](SQLHSTMT s) {
                 return SQLStatisticsW(s, nullptr, 0, nullptr, 0, wideName, SQL_NTS, SQL_INDEX_UNIQUE, SQL_QUICK);
             },
             {4, 7, 6, 8, 9}))
        if (row[0].toInt() == SQL_FALSE && row[1].toInt() != SQL_TABLE_STAT && !row[2].isEmpty())
            unique << row.mid(2);
    collect(unique);

    for (const QStringList& columns : candidates)
        if (!columns.isEmpty()
            && std::none_of(columns.begin(), columns.end(),
                            [&](const QString& c) { return c.isEmpty() || nullable.contains(c.toLower()); }))
            return columns;
    return {};
}
