#pragma once
// OLE DB connection strings, read as the OLE DB core services read them. The applications
// name their database this way (in the data-link file and in "FILE NAME=..."), and both the
// mapping to ODBC and the run record read them.

#include <QList>
#include <QPair>
#include <QString>

using TKeywordList = QList<QPair<QString, QString>>;

// OLE DB keyword syntax: "key=value;key='va;lue';key=""x""""y""". Keywords keep their
// spelling; a keyword holding '=' doubles it. Throws TDbError on a malformed string (the
// error never quotes the text, which may hold a password).
TKeywordList ParseOleDbConnectionString(const QString& text);

// The value of a keyword (compared without regard to case and inner blanks; the last
// occurrence wins, as in OLE DB); empty when absent.
QString KeywordValue(const TKeywordList& keywords, const QString& key);
bool HasKeyword(const TKeywordList& keywords, const QString& key);

// A keyword as the comparisons above see it: lower case, inner blanks made single.
QString NormalisedKeyword(const QString& key);
