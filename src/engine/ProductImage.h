#pragma once
// What a change does to each product it touches, read from the database itself inside the
// change's transaction: the columns the change writes, before its first statement and after
// its last. Products are paired by the product table's key, or, where it has none, by the
// columns the change leaves alone; they stream through a file, so a table of any size passes
// without the memory growing with it.

#include "TChangeRequest.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "TDbConnection.h"

class TRowWriter;

// A column of produtos that a change writes.
struct TImageColumn {
    enum TRole { Rate, Price, Other } role = Other;
    QString name;
    QString selector;  // a price's rate column: the rate its price carries
    bool recalculated = false;  // a price the change converts, not only rounds
};

struct TImageLayout {
    QStringList key;                // the table's own key; empty when it has none
    QStringList pairing;            // what pairs a product's two images: the key, or every column
                                    // the change leaves alone
    QList<TImageColumn> columns;    // what the change writes, as the images hold it
    QString filter;                 // the products the change may touch, as a WHERE condition
};

// The columns the change of request writes in the product table, and how the products are
// paired. Reads the table's columns (one probe) and its key from the driver's catalogue.
TImageLayout ProductImageLayout(TDbConnection& db, const TChangeRequest& request);

// How many products the change of request may touch (its layout's filter).
qint64 CountTouchedProducts(TDbConnection& db, const TImageLayout& layout);

// One product as the change leaves it: the values of the layout's columns, in its order, as
// the driver writes them (a null QString for NULL).
struct TProductChange {
    QStringList pairing;
    QStringList before;
    QStringList after;
};

class TProductImages {
public:
    explicit TProductImages(TImageLayout layout);
    ~TProductImages();
    TProductImages(const TProductImages&) = delete;
    TProductImages& operator=(const TProductImages&) = delete;

    // Inside the transaction, before the change's first statement: every product it may touch.
    void ReadBefore(TDbConnection& db);
    // What each column read holds, the pairing's first: every value is read as the exact text
    // of its kind (ExactTextOf).
    const QList<TColumnKind>& kinds() const { return kinds_; }

    // Each product read before with its values after, in the order of its pairing: both rows
    // hold the pairing's values, then the layout's columns, valid for the call. A product whose
    // pairing values another product shares cannot be told apart from it and is left out.
    using TEach = std::function<void(const TRowBytes& before, const TRowBytes& after)>;

    // After the change's last statement: the table as it leaves it, each product handed to
    // each as it comes, on a thread of its own: the transaction, whose locks hold the tills,
    // lasts no longer than the read. On failure the pairing is given up.
    void ReadAfter(TDbConnection& db, TEach each);
    // Waits for the pairing to end; raises what each raised.
    void Paired();
    qint64 unpaired() const { return unpaired_; }

private:
    struct Store;
    struct Pairing;
    // Every product where, in the order of the pairing, a page at a time where the table has a
    // key, to rows.
    void Read(TDbConnection& db, const QString& where, TRowWriter& rows);
    void Pair(const TEach& each);

    TImageLayout layout_;
    QList<TColumnKind> kinds_;
    std::unique_ptr<Store> beforeStore_;
    std::unique_ptr<Pairing> pairing_;
    qint64 unpaired_ = 0;
};
