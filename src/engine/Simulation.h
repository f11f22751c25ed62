#pragma once
// A change made and undone in one transaction, to see what it would do: every statement as a
// change now sends it, the rows each one changed, each product's old and new values, and the
// rounding's distance from the exact conversion. Nothing of it is kept in the database.

#include "ChangeRun.h"
#include "ProductImage.h"

#include <QList>
#include <QPair>
#include <array>

// What the statements of one ticked row changed.
struct TSimulatedRow {
    bool ran = false;
    bool rateInserted = false;          // the new rate was missing from iva
    qint64 rateDescribed = 0;           // iva rows given the new description
    qint64 rateDeleted = 0;             // the old rate's rows removed
    bool deletionRecorded = false;      // iva_apagar (Quibon)
    qint64 saleMoved = 0;               // products whose sale rate moved
    qint64 purchaseMoved = 0;
    qint64 otherRatesMoved = 0;         // iva2 and ivarevenda moved, empty iva2 filled (Quibon)
    QList<QPair<QString, qint64>> prices;     // price column: products recalculated
    QList<QPair<QString, qint64>> terminals;  // terminal default: terminals changed
};

struct TSimulation {
    std::array<TSimulatedRow, 3> rows;
    TImageLayout layout;
    qint64 products = 0;            // products whose old and new values were paired
    qint64 unpaired = 0;            // products that could not be told apart
    // Up to kSampleSize products, and the file with every one (empty without a key).
    QList<TProductChange> sample;
    QString productsFile;
    // With the rounding: new prices that lie half a cent or more from the exact conversion of
    // their old price, and the largest such distance.
    bool rounding = false;
    qint64 offByHalfCent = 0;
    double largestDifference = 0;
};

constexpr int kSampleSize = 20;

// Makes the change of request in a transaction and rolls it back: statement for statement as
// a change now. Without the table's key, the products are paired by their other columns for
// the rounding figures, and neither the sample nor the file is made. csvPath receives every
// product's old and new values (UTF-8 with a byte-order mark, ';' between fields, decimal
// comma), as Portuguese spreadsheets open it. Raises what the change raises (TDbCancelled
// after a cancel), having rolled it back.
TSimulation SimulateChange(TDbConnection& db, const TChangeRequest& request, TRunObserver* observer,
                           const QString& csvPath);
