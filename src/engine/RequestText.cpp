#include "RequestText.h"
#include "TChangeRequest.h"

namespace {

bool AllAsciiDigits(const QString& text)
{
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

// Optional sign, then at least one digit, within 32 bits; no blanks. The rate edits filter
// typed characters, so anything else here was pasted or hand-written into a settings file.
bool ParseInteger(const QString& text, int& value)
{
    int start = 0;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) start = 1;
    const QString digits = text.mid(start);
    if (digits.isEmpty() || !AllAsciiDigits(digits)) return false;
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok) return false;
    value = v;
    return true;
}

}  // namespace

int RateInteger(const QString& text)
{
    int value = 0;
    if (!ParseInteger(text, value))
        throw TRequestError(QStringLiteral("'%1' não é um número inteiro válido.").arg(text));
    return value;
}

int IntegerOr(const QString& text, int fallback)
{
    int value = 0;
    return ParseInteger(text, value) ? value : fallback;
}

bool IsRateText(const QString& text)
{
    return (text.size() == 1 || text.size() == 2) && AllAsciiDigits(text);
}

bool IsPlacesText(const QString& text)
{
    return !text.isEmpty() && AllAsciiDigits(text);
}

QString FactorText(const QString& rate)
{
    return rate.size() == 1 ? QStringLiteral("1.0") + rate : QStringLiteral("1.") + rate;
}

QString QuotedText(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return out;
}
