#include "TSqlDialect.h"
#include "QuotedSpan.h"

#include <QRegularExpression>

namespace {

bool IsIdentifierChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// Replaces GETDATE() outside string literals, quoted and bracketed identifiers.
QString TranslateGetDate(const QString& s)
{
    static const QRegularExpression call(QStringLiteral("GETDATE\\s*\\(\\s*\\)"),
                                         QRegularExpression::CaseInsensitiveOption);
    QString out;
    out.reserve(s.size() + 32);
    const int n = s.size();
    int i = 0;
    while (i < n) {
        const QChar c = s[i];
        if (c == u'\'' || c == u'"' || c == u'[') {
            const QChar close = c == u'[' ? QChar(u']') : c;
            const int j = int(QuotedSpanEnd(s, i, close));
            out += s.mid(i, j - i);
            i = j;
            continue;
        }
        if ((c == u'g' || c == u'G') && (i == 0 || !IsIdentifierChar(s[i - 1]))) {
            const auto m = call.match(s, i, QRegularExpression::NormalMatch,
                                      QRegularExpression::AnchorAtOffsetMatchOption);
            if (m.hasMatch()) {
                out += QLatin1String("datetime('now','localtime')");
                i += m.capturedLength();
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

}  // namespace

// The three further forms the images of a change are read with: the table hint that keeps the
// rows read as they are until the commit (SQLite's write transaction does that by itself), and
// the conversions to exact text of a binary fraction and of a moment.
QString TranslateImageForms(QString s)
{
    static const QRegularExpression hint(QStringLiteral("\\s+WITH\\s*\\(\\s*UPDLOCK\\s*,\\s*HOLDLOCK\\s*\\)"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression floatText(
        QStringLiteral("CONVERT\\(\\s*VARCHAR\\(\\s*\\d+\\s*\\)\\s*,\\s*([A-Za-z_][A-Za-z0-9_]*)\\s*,\\s*3\\s*\\)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression momentText(
        QStringLiteral("CONVERT\\(\\s*VARCHAR\\(\\s*\\d+\\s*\\)\\s*,\\s*([A-Za-z_][A-Za-z0-9_]*)\\s*,\\s*121\\s*\\)"),
        QRegularExpression::CaseInsensitiveOption);
    s.replace(hint, QString());
    // A binary fraction that is the nearest to a number of cents (nearly every price) comes as
    // that number of cents, an integer, which SQLite writes as text at a fraction of the cost of
    // 20 digits; the reader puts the decimal point back (ExactCents). Any other comes in the 20
    // digits it needs to come back whole, always with a point and an exponent ('!').
    // The cents are asked first: a NULL fails that test too, and is told apart only then.
    s.replace(floatText, QStringLiteral("CASE WHEN round(\\1 * 100) / 100 = \\1 AND abs(\\1) < 1e12 "
                                        "THEN CAST(round(\\1 * 100) AS INTEGER) "
                                        "WHEN \\1 IS NULL THEN NULL "
                                        "ELSE printf('%!.20e', \\1) END"));
    s.replace(momentText, QStringLiteral("CAST(\\1 AS TEXT)"));
    return s;
}

QString TranslateTSqlForSqlite(const QString& statement)
{
    QString s = statement.contains(QLatin1String("getdate"), Qt::CaseInsensitive)
                    ? TranslateGetDate(statement)
                    : statement;
    if (s.contains(QLatin1String("CONVERT"), Qt::CaseInsensitive) || s.contains(QLatin1String("HOLDLOCK"), Qt::CaseInsensitive))
        s = TranslateImageForms(s);
    static const QRegularExpression top(QStringLiteral("\\A(\\s*SELECT)\\s+TOP\\s+(\\d+)\\s+(.*?)\\s*\\z"),
                                        QRegularExpression::CaseInsensitiveOption
                                            | QRegularExpression::DotMatchesEverythingOption);
    const auto m = top.match(s);
    if (m.hasMatch())
        s = m.captured(1) + u' ' + m.captured(3) + QLatin1String(" LIMIT ") + m.captured(2);
    return s;
}

bool TranslatesTSqlFor(const QString& dbmsName)
{
    return dbmsName.trimmed().startsWith(QLatin1String("SQLite"), Qt::CaseInsensitive);
}
