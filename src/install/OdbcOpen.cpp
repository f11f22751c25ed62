#include "OdbcOpen.h"

#include <QSqlDatabase>

#ifndef _WIN32
#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#endif

namespace {

#ifndef _WIN32
// Qt hands the driver manager UTF-16. For a driver with only the narrow entry points (the
// SQLite driver among them) unixODBC converts it to the character set of the locale in
// force when the connection is made, and cuts each character that set cannot hold to its
// low byte: under LANG=C, or a locale that is not installed, "Intermédia" would be stored
// as Latin-1, which no UTF-8 reader takes. The connection is made under a UTF-8 character
// type, on this thread only and only while it is made; the conversion chosen then stays
// with the connection.
class TUtf8CharacterType {
public:
    TUtf8CharacterType()
    {
        const char* codeset = nl_langinfo(CODESET);
        if (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0)
            return;
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            const locale_t base = duplocale(uselocale(static_cast<locale_t>(nullptr)));
            if (base == static_cast<locale_t>(nullptr))
                return;
            utf8_ = newlocale(LC_CTYPE_MASK, name, base);
            if (utf8_ != static_cast<locale_t>(nullptr)) {
                previous_ = uselocale(utf8_);
                return;
            }
            freelocale(base);
        }
    }
    ~TUtf8CharacterType()
    {
        if (utf8_ == static_cast<locale_t>(nullptr))
            return;
        uselocale(previous_);
        freelocale(utf8_);
    }
    TUtf8CharacterType(const TUtf8CharacterType&) = delete;
    TUtf8CharacterType& operator=(const TUtf8CharacterType&) = delete;

private:
    locale_t utf8_ = static_cast<locale_t>(nullptr);
    locale_t previous_ = static_cast<locale_t>(nullptr);
};
#else
// Windows converts text for a narrow driver with the process's ANSI code page, which the C
// locale does not change.
struct TUtf8CharacterType {
};
#endif

}  // namespace

bool OpenOdbcDatabase(QSqlDatabase& db)
{
    [[maybe_unused]] const TUtf8CharacterType utf8{};
    return db.open();
}
