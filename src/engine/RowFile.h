#pragma once
// Rows kept in a file as their values' UTF-8 bytes, the way a change's images hold them: each
// row a tag (which table it is of), its count of values, then each value's length in bytes
// (all ones for NULL) and its bytes, the numbers big-endian as QDataStream writes them. The
// simulation keeps its products so between its two reads. Both sides work in blocks: a million
// products pass without a string or a device call of their own for each value.

#include "TDbConnection.h"

#include <QByteArray>
#include <QIODevice>
#include <functional>

// A tag that ends a run of rows.
constexpr quint8 kRowsEnd = 0xFF;
// The length that stands for NULL.
constexpr quint32 kNullLength = 0xFFFFFFFF;

class TRowWriter {
public:
    // Hands each block to sink, which says whether it took it whole.
    using TSink = std::function<bool(const QByteArray& block)>;
    explicit TRowWriter(TSink sink) : sink_(std::move(sink)) {}
    explicit TRowWriter(QIODevice& device)
        : TRowWriter([&device](const QByteArray& block) { return device.write(block) == block.size(); })
    {
    }
    // Gathers the row; the device has it at the latest after Flush.
    void Write(quint8 tag, const TRowBytes& row);
    void WriteEnd();
    // Everything gathered, to the device; false when the device refused any of it.
    bool Flush();

private:
    TSink sink_;
    QByteArray pending_;
    bool failed_ = false;
};

// A row read back: its values are views of its own block.
struct TStoredRow {
    quint8 tag = 0;
    QByteArray block;
    TRowBytes values;

    void swap(TStoredRow& other) noexcept
    {
        std::swap(tag, other.tag);
        block.swap(other.block);  // the views go with their bytes
        std::swap(values, other.values);
    }
};

class TRowReader {
public:
    // Takes up to max bytes into into; says how many, 0 at the end, -1 on failure.
    using TSource = std::function<qint64(char* into, qint64 max)>;
    explicit TRowReader(TSource source) : source_(std::move(source)) {}
    // Reads from the device's current position on.
    explicit TRowReader(QIODevice& device)
        : TRowReader([&device](char* into, qint64 max) { return device.read(into, max); })
    {
    }
    // The next row. False at the end of the device, at a kRowsEnd tag, or at a row cut short
    // (broken() then says so).
    bool Read(TStoredRow& row);
    bool atRowsEnd() const { return rowsEnd_; }
    bool broken() const { return broken_; }

private:
    bool Have(qsizetype n);  // at least n bytes buffered from at_ on
    quint32 Number(qsizetype at) const;

    TSource source_;
    QByteArray buffer_;
    qsizetype at_ = 0;
    bool rowsEnd_ = false;
    bool broken_ = false;
};
