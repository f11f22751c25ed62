#include "ImageCheck.h"

#include "PagedRead.h"

#include <QHash>

namespace {

constexpr int kProductsAtOnce = 500;

// How the rows seen so far compare with the two images. A row the change did not alter
// (equal in both) says nothing either way.
struct TTally {
    bool allAfter = true;
    bool allBefore = true;
    bool telling = false;  // some row differs between the images

    void add(const QStringList& now, bool present, const TImagedRow& row)
    {
        const auto holds = [&](const QStringList& image) {
            return image.isEmpty() ? !present : present && now == image;
        };
        allAfter = allAfter && holds(row.after);
        allBefore = allBefore && holds(row.before);
        telling = telling || row.before != row.after;
    }
};

// The current rows of a table, keyed by their identity in the image.
QHash<QStringList, QStringList> CurrentRows(TDbConnection& db, const TImageTable& table, const QString& where)
{
    QHash<QStringList, QStringList> rows;
    ReadPaged(db, ExactReadOf(table, where), [&](const TRowBytes& bytes) {
        const QStringList row = bytes.texts();
        rows.insert(IdentityOf(table, row), row);
    });
    return rows;
}

QString KeyIn(const TImageTable& products, const QList<TImagedRow>& chunk)
{
    QStringList any;
    for (const TImagedRow& row : chunk)
        any << u'(' + IdentityHolds(products, row.before) + u')';
    return any.join(QStringLiteral(" OR "));
}

}  // namespace

TImageMatch MatchImages(TDbConnection& db, const TChangeImage& image)
{
    TTally tally;
    // The rate table, iva_apagar and configpostos are small: read whole.
    for (int index : {kRates, kDeletedRates, kTerminals}) {
        const TImageTable& table = image.table(index);
        if (table.name.isEmpty())
            continue;
        const QHash<QStringList, QStringList> now = CurrentRows(db, table, QString());
        for (const TImagedRow& row : image.SmallTable(index)) {
            const auto found = now.constFind(IdentityOf(table, row.before.isEmpty() ? row.after : row.before));
            tally.add(found == now.cend() ? QStringList() : *found, found != now.cend(), row);
        }
    }

    const TImageTable& products = image.table(kProducts);
    QList<TImagedRow> chunk;
    const auto compare = [&] {
        const QHash<QStringList, QStringList> now = CurrentRows(db, products, KeyIn(products, chunk));
        for (const TImagedRow& row : chunk) {
            const auto found = now.constFind(IdentityOf(products, row.before));
            tally.add(found == now.cend() ? QStringList() : *found, found != now.cend(), row);
        }
        chunk.clear();
    };
    image.Products([&](const TImagedRow& row) {
        // Once both are ruled out nothing read later can tell more.
        if (!tally.allAfter && !tally.allBefore)
            return;
        chunk << row;
        if (chunk.size() == kProductsAtOnce)
            compare();
    });
    if (!chunk.isEmpty())
        compare();

    if (tally.telling && tally.allAfter)
        return TImageMatch::After;
    if (tally.telling && tally.allBefore)
        return TImageMatch::Before;
    return TImageMatch::Neither;
}
