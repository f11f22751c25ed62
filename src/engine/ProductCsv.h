#pragma once
// A file of products as Portuguese spreadsheets open it: UTF-8 with a byte-order mark (Excel
// takes the file for UTF-8 by it), ';' between fields, CRLF after each line, numbers with a
// decimal comma, text quoted where it holds a separator, a quote or a line break. Lines are
// gathered and written in blocks: the simulation passes millions of values here.

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QStringList>

class TProductCsv {
public:
    // Opens path for writing, emptied. failure is the start of the message every TFileError
    // of this file carries, the path after it.
    TProductCsv(const QString& path, const QString& failure);

    // A line of names, as they are.
    void Header(const QStringList& names);
    // The next field of the current line; NULL (a null string, a view without data) writes
    // nothing between its separators. value as UTF-8 in the second.
    void Field(const QString& value, bool number);
    void Field(QByteArrayView value, bool number);
    void EndLine();
    // Writes what is gathered and closes the file. Raises TFileError when any of it could
    // not be written: a file cut short is not handed on as if whole.
    void Close();

    QString path() const { return file_.fileName(); }

private:
    void Write();

    QFile file_;
    QString failure_;
    QByteArray pending_;  // UTF-8
    bool lineStarted_ = false;
    bool written_ = true;
};
