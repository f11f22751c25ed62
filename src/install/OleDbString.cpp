#include "OleDbString.h"
#include "Errors.h"

QString NormalisedKeyword(const QString& key)
{
    return key.simplified().toLower();
}

TKeywordList ParseOleDbConnectionString(const QString& text)
{
    TKeywordList out;
    const int n = text.size();
    int i = 0;
    auto fail = [](int position) {
        throw TDbError(QStringLiteral("Cadeia de ligação OLE DB inválida (carácter %1)").arg(position + 1));
    };
    while (i < n) {
        while (i < n && (text[i] == u';' || text[i].isSpace()))
            ++i;
        if (i >= n)
            break;
        QString key;
        bool haveEquals = false;
        while (i < n) {
            if (text[i] == u'=') {
                if (i + 1 < n && text[i + 1] == u'=') {
                    key += u'=';
                    i += 2;
                    continue;
                }
                haveEquals = true;
                ++i;
                break;
            }
            if (text[i] == u';')
                break;
            key += text[i++];
        }
        key = key.trimmed();
        if (!haveEquals || key.isEmpty())
            fail(i - 1 < 0 ? 0 : i - 1);
        while (i < n && text[i].isSpace() && text[i] != u';')
            ++i;
        QString value;
        if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
            const QChar quote = text[i++];
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                fail(n - 1);
            while (i < n && text[i].isSpace())
                ++i;
            if (i < n && text[i] != u';')
                fail(i);
        } else {
            const int start = i;
            while (i < n && text[i] != u';')
                ++i;
            value = text.mid(start, i - start).trimmed();
        }
        out.append({key, value});
    }
    return out;
}

QString KeywordValue(const TKeywordList& keywords, const QString& key)
{
    const QString wanted = NormalisedKeyword(key);
    for (auto it = keywords.crbegin(); it != keywords.crend(); ++it)
        if (NormalisedKeyword(it->first) == wanted)
            return it->second;
    return {};
}

bool HasKeyword(const TKeywordList& keywords, const QString& key)
{
    const QString wanted = NormalisedKeyword(key);
    for (const auto& p : keywords)
        if (NormalisedKeyword(p.first) == wanted)
            return true;
    return false;
}
