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

// A column of produtos that a change writes.
struct TImageColumn {
    enum TRole { Rate, Price, Other } role = Other;
    QString name;
    QString selector;  // a price's rate column: the rate its price carries
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

    // After the change's last statement: the table as it leaves it. Nothing but the reads is
    // done before the transaction ends, since its locks hold the tills meanwhile.
    void ReadAfter(TDbConnection& db);

    // Once both are read, each product read before with its values after, in the order of its
    // pairing: both rows hold the pairing's values, then the layout's columns, valid for the
    // call. A product whose pairing values another product shares cannot be told apart from it
    // and is left out.
    void Pair(const std::function<void(const TRowBytes& before, const TRowBytes& after)>& each);
    qint64 unpaired() const { return unpaired_; }

private:
    struct Store;
    std::unique_ptr<Store> OpenStore() const;
    // Every product where, in the order of the pairing, a page at a time where the table has a
    // key, into store.
    void Read(TDbConnection& db, const QString& where, Store& store);

    TImageLayout layout_;
    QList<TColumnKind> kinds_;
    std::unique_ptr<Store> beforeStore_;
    std::unique_ptr<Store> afterStore_;
    qint64 unpaired_ = 0;
};
