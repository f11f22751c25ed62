#include "ProductCsv.h"

#include "Errors.h"

TProductCsv::TProductCsv(const QString& path, const QString& failure) : file_(path), failure_(failure)
{
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw TFileError(failure_ + path);
    pending_ = QString(QChar(0xFEFF));
}

void TProductCsv::Header(const QStringList& names)
{
    pending_ += names.join(u';') + QStringLiteral("\r\n");
}

void TProductCsv::Field(const QString& value, bool number)
{
    if (lineStarted_)
        pending_ += u';';
    lineStarted_ = true;
    if (value.isNull())
        return;
    if (number) {
        const qsizetype start = pending_.size();
        pending_ += value;
        QChar* c = pending_.data() + start;
        for (QChar* end = pending_.data() + pending_.size(); c != end; ++c)
            if (*c == u'.')
                *c = u',';
        return;
    }
    if (value.contains(u';') || value.contains(u'"') || value.contains(u'\n') || value.contains(u'\r')) {
        pending_ += u'"' + QString(value).replace(u'"', QStringLiteral("\"\"")) + u'"';
        return;
    }
    pending_ += value;
}

void TProductCsv::EndLine()
{
    pending_ += QStringLiteral("\r\n");
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
    const QByteArray bytes = pending_.toUtf8();
    written_ = written_ && file_.write(bytes) == bytes.size();
    pending_.clear();
}
