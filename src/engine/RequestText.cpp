#include "RequestText.h"
#include "TChangeRequest.h"

namespace {

bool AllAsciiDigits(const QString& text)
{
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

// Digits only, within 32 bits. The rate and places edits admit nothing else from the
// keyboard; a sign or a blank was pasted or hand-written into a settings file, and taking it
// for a number here would let the check accept a request that no statement can carry.
bool ParseInteger(const QString& text, int& value)
{
    if (text.isEmpty() || !AllAsciiDigits(text)) return false;
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
