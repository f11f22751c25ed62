#pragma once
// Quoted text as SQL, ODBC connection strings and Qt's date formats all write it: from an
// opening character to its close, where a doubled close stands for one inside the text.
// Whoever rewrites such text must step over these spans whole.

#include <QChar>
#include <QString>

// The position just past the close of the span that opens at text[open]; text.size() when
// the span is never closed.
qsizetype QuotedSpanEnd(const QString& text, qsizetype open, QChar close);
