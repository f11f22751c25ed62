#include "RowFile.h"

#include <cstring>

namespace {

constexpr qsizetype kBlock = 1 << 18;
constexpr quint32 kLongestValue = 1 << 26;  // beyond any column: a length read from a torn row

char* PutNumber(char* at, quint32 n)
{
    at[0] = char(n >> 24);
    at[1] = char(n >> 16);
    at[2] = char(n >> 8);
    at[3] = char(n);
    return at + 4;
}

}  // namespace

void TRowWriter::Write(quint8 tag, const TRowBytes& row)
{
    // The row's length first, then its bytes in place: one growth of the block a row.
    qsizetype length = 5;
    for (qsizetype i = 0; i < row.size(); ++i)
        length += 4 + (row.isNull(i) ? 0 : row.value(i).size());
    const qsizetype at = pending_.size();
    pending_.resize(at + length);
    char* p = pending_.data() + at;
    *p++ = char(tag);
    p = PutNumber(p, quint32(row.size()));
    for (qsizetype i = 0; i < row.size(); ++i) {
        if (row.isNull(i)) {
            p = PutNumber(p, kNullLength);
            continue;
        }
        const QByteArrayView value = row.value(i);
        p = PutNumber(p, quint32(value.size()));
        std::memcpy(p, value.data(), size_t(value.size()));
        p += value.size();
    }
    if (pending_.size() >= kBlock)
        Flush();
}

void TRowWriter::WriteEnd()
{
    pending_.append(char(kRowsEnd));
}

bool TRowWriter::Flush()
{
    if (!pending_.isEmpty())
        failed_ = failed_ || !sink_(pending_);
    pending_.resize(0);  // keeps its room for the next block
    return !failed_;
}

bool TRowReader::Have(qsizetype n)
{
    if (buffer_.size() - at_ >= n)
        return true;
    buffer_.remove(0, at_);
    at_ = 0;
    while (buffer_.size() < n) {
        const qsizetype had = buffer_.size();
        buffer_.resize(had + qMax(kBlock, n - had));
        const qint64 got = source_(buffer_.data() + had, buffer_.size() - had);
        buffer_.resize(had + qMax<qint64>(got, 0));
        if (got <= 0)
            return false;
    }
    return true;
}

quint32 TRowReader::Number(qsizetype at) const
{
    const auto* b = reinterpret_cast<const uchar*>(buffer_.constData() + at);
    return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | quint32(b[3]);
}

bool TRowReader::Read(TStoredRow& row)
{
    rowsEnd_ = false;
    if (!Have(1))
        return false;
    const quint8 tag = quint8(buffer_[at_]);
    if (tag == kRowsEnd) {
        ++at_;
        rowsEnd_ = true;
        return false;
    }
    // The row's extent first, then its bytes in one copy and the views on them.
    if (!Have(5)) {
        broken_ = true;
        return false;
    }
    const quint32 count = Number(at_ + 1);
    // Offsets from the row's start, which Have may move to the buffer's start.
    qsizetype length = 5;
    for (quint32 i = 0; i < count; ++i) {
        if (!Have(length + 4)) {
            broken_ = true;
            return false;
        }
        const quint32 n = Number(at_ + length);
        if (n != kNullLength && n > kLongestValue) {
            broken_ = true;
            return false;
        }
        length += 4 + (n == kNullLength ? 0 : qsizetype(n));
        if (!Have(length)) {
            broken_ = true;
            return false;
        }
    }
    const qsizetype end = at_ + length;
    row.tag = tag;
    row.block.resize(end - at_);
    std::memcpy(row.block.data(), buffer_.constData() + at_, size_t(end - at_));
    at_ = end;
    row.values.clear();
    const char* p = row.block.constData() + 5;
    for (quint32 i = 0; i < count; ++i) {
        const auto* b = reinterpret_cast<const uchar*>(p);
        const quint32 n = quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | quint32(b[3]);
        p += 4;
        if (n == kNullLength) {
            row.values.append(QByteArrayView());
            continue;
        }
        row.values.append(QByteArrayView(p, qsizetype(n)));
        p += n;
    }
    return true;
}
