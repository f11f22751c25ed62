#include "QuotedSpan.h"

qsizetype QuotedSpanEnd(const QString& text, qsizetype open, QChar close)
{
    const qsizetype n = text.size();
    qsizetype j = open + 1;
    while (j < n) {
        if (text[j] == close) {
            if (j + 1 < n && text[j + 1] == close) {
                j += 2;
                continue;
            }
            return j + 1;
        }
        ++j;
    }
    return n;
}
