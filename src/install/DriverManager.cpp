#include "DriverManager.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <iterator>

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

QString DbmsName(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHDBC))
        return {};
    const SQLHDBC hdbc = *static_cast<const SQLHDBC*>(handle.constData());
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
