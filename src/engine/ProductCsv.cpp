#include "ProductCsv.h"

#include "Errors.h"

TProductCsv::TProductCsv(const QString& path, const QString& failure) : file_(path), failure_(failure)
{
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw TFileError(failure_ + path);
    pending_ = QByteArray("\xEF\xBB\xBF");
}

void TProductCsv::Header(const QStringList& names)
{
    pending_ += names.join(u';').toUtf8() + "\r\n";
}

void TProductCsv::Field(const QString& value, bool number)
{
    const QByteArray utf8 = value.toUtf8();
    Field(value.isNull() ? QByteArrayView() : QByteArrayView(utf8.isNull() ? "" : utf8.constData(), utf8.size()),
          number);
}

void TProductCsv::Field(QByteArrayView value, bool number)
{
    if (lineStarted_)
        pending_ += ';';
    lineStarted_ = true;
    if (value.data() == nullptr)
        return;
    if (number) {
        const qsizetype start = pending_.size();
        pending_.append(value.data(), value.size());
        for (char* c = pending_.data() + start, *end = pending_.data() + pending_.size(); c != end; ++c)
            if (*c == '.')
                *c = ',';
        return;
    }
    // The separators are ASCII: a byte of theirs is never part of another character in UTF-8.
    bool quoted = false;
    for (char c : value)
        quoted = quoted || c == ';' || c == '"' || c == '\n' || c == '\r';
    if (!quoted) {
        pending_.append(value.data(), value.size());
        return;
    }
    pending_ += '"';
    for (char c : value) {
        if (c == '"')
            pending_ += '"';
        pending_ += c;
    }
    pending_ += '"';
}

void TProductCsv::EndLine()
{
    pending_ += "\r\n";
    lineStarted_ = false;
    if (pending_.size() > 1 << 16)
        Write();
}

void TProductCsv::Close()
{
    Write();
    file_.close();
    if (!written_ || file_.error() != QFileDevice::NoError)
        throw TFileError(failure_ + file_.fileName());
}

// The lines gathered so far, to the file in one write.
void TProductCsv::Write()
{
    written_ = written_ && file_.write(pending_) == pending_.size();
    pending_.resize(0);  // keeps its room
}
