#pragma once
// The application's data-link file (.udl). Windows writes it as UTF-16, older tools as ANSI
// or UTF-8, with a header and comments around the one line that matters: the OLE DB
// connection string, which the rest of the data layer maps to ODBC.

#include <QByteArray>
#include <QString>

// The connection line of a data-link file's bytes: UTF-16 (with a byte-order mark, as
// Windows writes it, or without one), UTF-8 or ANSI; "[oledb]" and comment lines skipped.
// Throws TDbError when the file holds no connection line.
QString DataLinkConnectionLine(const QByteArray& bytes, const QString& fileNameForErrors);
