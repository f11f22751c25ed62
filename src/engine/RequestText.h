#pragma once
// How the texts of a request become pieces of statement text. Rates travel as the digits
// the operator typed; these helpers are the only places where that text is judged or shaped.

#include <QString>

// Whole-number reading of a rate text, as the "new rate differs from the existing one"
// rule needs it ("06" and "6" are equal). A text that is not all digits raises
// TRequestError with "'<text>' não é um número inteiro válido.".
int RateInteger(const QString& text);

// The same reading with a fallback instead of an error (the places rule: a non-number
// reads as 0).
int IntegerOr(const QString& text, int fallback);

// One or two ASCII digits: the only rate texts a statement may carry.
bool IsRateText(const QString& text);

// One or more ASCII digits: the only places texts ROUND may receive.
bool IsPlacesText(const QString& text);

// "1." followed by the rate as a two-digit text: "23" -> "1.23", "06" -> "1.06", and a
// one-digit rate gets its leading zero ("6" -> "1.06"), since "1.6" would raise by 60 %.
QString FactorText(const QString& rate);

// Text to be placed between single quotes: every embedded quote doubled.
QString QuotedText(const QString& text);
