#pragma once
// The images of a change: every row it writes, as found before its first statement and as
// left after its last, read inside its own transaction with the rows kept as read until the
// commit, and kept in a file of its own beside the record. With them the change can be undone
// exactly (no reverse arithmetic: the old values themselves go back), and a commit whose end
// was lost can be told from one that never happened.

#include "PagedRead.h"
#include "ProductImage.h"
#include "TChangeRequest.h"
#include "TDbConnection.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// A table as its images hold it.
struct TImageTable {
    QString name;
    QStringList columns;
    QList<TColumnKind> kinds;
    // The columns that name a row: the table's key, or for a table without one, every column
    // but those the change writes.
    QStringList identity;
};

// The values of a row's identity columns.
QStringList IdentityOf(const TImageTable& table, const QStringList& row);
// "c = v", or "c IS NULL" where v is NULL: what a row must hold to be taken as the image's.
QString Holds(const QString& column, const QString& value, TColumnKind kind);
// Holds for each identity column of row, joined by AND.
QString IdentityHolds(const TImageTable& table, const QStringList& row);
// The table's rows that hold where, read exactly with the kinds the images know.
TPagedRead ExactReadOf(const TImageTable& table, const QString& where);

enum TImageTableIndex { kRates, kDeletedRates, kTerminals, kProducts, kImageTables };

// The file of a run's images, beside its record: "TaxasIVA.<id>.imagens".
QString ChangeImagePath(const QString& recordPath, const QString& runId);

// Writes the images of the change of request, in its transaction.
class TChangeImageWriter {
public:
    TChangeImageWriter(const QString& path, const QString& runId, const TChangeRequest& request);
    ~TChangeImageWriter();

    // Before the change's first statement: the write lock, then every row the change may
    // write. False, with nothing written, when the product table has no key: its products
    // could not be put back one by one. Raises TDbError, or TFileError when the file cannot
    // be written.
    bool ReadBefore(TDbConnection& db);
    // After the change's last statement: the same rows again. The file is whole and on the
    // disk when this returns.
    void ReadAfter(TDbConnection& db);
    // A file begun but not finished goes (the change is rolled back, or goes on without it).
    void Discard();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// One row of a table in its two images; before or after empty where the change made or
// removed it.
struct TImagedRow {
    QStringList before;
    QStringList after;
};

// A change's images, read back.
class TChangeImage {
public:
    // Raises TFileError when the file is missing, cut short or not an images file.
    explicit TChangeImage(const QString& path);
    ~TChangeImage();

    const TChangeRequest& request() const;
    const TImageTable& table(int index) const;
    // The rows of the rate table, iva_apagar and configpostos (few), paired by identity.
    QList<TImagedRow> SmallTable(int index) const;
    // How many products the images hold.
    qint64 ProductCount() const;
    // Every product, in the order of its key.
    void Products(const std::function<void(const TImagedRow&)>& each) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
