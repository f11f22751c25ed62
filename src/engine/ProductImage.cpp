#include "ProductImage.h"

#include "ChangeSteps.h"
#include "PagedRead.h"
#include "RowFile.h"
#include "TDbConnection.h"

#include <QTemporaryFile>

namespace {

// The table's own spelling of a column, found without regard to case; empty when absent.
QString Spelled(const QStringList& columns, const QString& name)
{
    for (const QString& c : columns)
        if (c.compare(name, Qt::CaseInsensitive) == 0)
            return c;
    return QString();
}

QString Listed(const QStringList& names)
{
    return names.join(QStringLiteral(", "));
}

// The rates the ticked rows take away, as typed ("06" stands as it does in the statements).
QString OldRates(const TChangeRequest& request)
{
    QStringList rates;
    for (const TRatePair& row : request.rows)
        if (row.enabled)
            rates << row.existing;
    return QStringLiteral("(") + Listed(rates) + u')';
}

}  // namespace

TImageLayout ProductImageLayout(TDbConnection& db, const TChangeRequest& request)
{
    QStringList columns;
    {
        TOpenRead probe(db, kProductProbe);
        columns = db.FieldNames();
        probe.close();
    }
    TImageLayout layout;
    auto add = [&](TImageColumn::TRole role, const QString& name, const QString& selector = QString()) {
        const QString spelled = Spelled(columns, name);
        if (spelled.isEmpty())
            return;
        for (const TImageColumn& c : layout.columns)
            if (c.name == spelled)
                return;
        layout.columns << TImageColumn{role, spelled, Spelled(columns, selector)};
    };

    const TAppKind app = request.app;
    add(TImageColumn::Rate, SaleRateColumn(app));
    add(TImageColumn::Rate, QStringLiteral("ivacompra"));
    if (IsQuibon(app)) {
        add(TImageColumn::Rate, QStringLiteral("iva2"));
        add(TImageColumn::Rate, QStringLiteral("ivarevenda"));
    }
    const std::vector<TPriceColumn> prices = WrittenPriceColumns(request.options, app, PriceColumnsAmong(columns));
    for (const TPriceColumn& price : prices) {
        add(TImageColumn::Price, price.column, price.selector);
        if (price.stampsValidity)
            add(TImageColumn::Other, QStringLiteral("validade"));
    }
    if (IsQuibon(app))
        add(TImageColumn::Other, QStringLiteral("id"));
    // A price's rate column is read even where the change leaves it (Meltra's pvp4 goes by iva
    // while its products move by ivavenda): it tells which prices were converted.
    QStringList selectors;
    for (const TPriceColumn& price : prices) {
        add(TImageColumn::Other, price.selector);
        selectors << Spelled(columns, price.selector);
    }

    layout.key = db.RowKey(QStringLiteral("produtos"));
    layout.pairing = layout.key;
    if (layout.pairing.isEmpty()) {
        for (const QString& c : columns)
            if (std::none_of(layout.columns.begin(), layout.columns.end(),
                             [&](const TImageColumn& w) { return w.name == c; }))
                layout.pairing << c;
    }

    // Every rate column the rows rewrite selects by an old rate; an empty iva2 is given the
    // sale rate whatever it is.
    const QString rates = OldRates(request);
    QStringList touched;
    for (const TImageColumn& c : layout.columns)
        if (c.role == TImageColumn::Rate || selectors.contains(c.name))
            touched << c.name + QStringLiteral(" IN ") + rates;
    if (IsQuibon(app) && !Spelled(columns, QStringLiteral("iva2")).isEmpty())
        touched << Spelled(columns, QStringLiteral("iva2")) + QStringLiteral(" IS NULL");
    layout.filter = touched.join(QStringLiteral(" OR "));
    return layout;
}

qint64 CountTouchedProducts(TDbConnection& db, const TImageLayout& layout)
{
    TOpenRead read(db, QStringLiteral("SELECT COUNT(*) AS n FROM produtos WHERE ") + layout.filter);
    const qint64 n = db.FieldByName(QStringLiteral("n"));
    read.close();
    return n;
}

// The products as read, one row each (pairing, then values), in a file of their own.
struct TProductImages::Store {
    QTemporaryFile file;
    std::unique_ptr<TRowWriter> writer;

    void flush()
    {
        if (!writer->Flush() || !file.flush())
            throw TFileError(QStringLiteral("Não foi possível gravar o ficheiro temporário dos produtos ")
                             + file.fileName());
        file.seek(0);
    }
};

TProductImages::TProductImages(TImageLayout layout) : layout_(std::move(layout)) {}

TProductImages::~TProductImages() = default;

void TProductImages::Read(TDbConnection& db, const QString& where, Store& store)
{
    TPagedRead read;
    read.table = QStringLiteral("produtos");
    read.columns = layout_.pairing;
    for (const TImageColumn& c : layout_.columns)
        read.columns << c.name;
    read.order = layout_.pairing;
    read.paged = !layout_.key.isEmpty();
    read.where = where;
    // Exact: the new prices as the change leaves them, and, where a price is a number of cents,
    // a far cheaper read on some drivers than the driver's own text of a binary fraction.
    read.exact = true;
    read.kinds = kinds_;
    kinds_ = ReadPaged(db, read, [&](const TRowBytes& row) { store.writer->Write(0, row); });
    store.flush();
}

std::unique_ptr<TProductImages::Store> TProductImages::OpenStore() const
{
    auto store = std::make_unique<Store>();
    if (!store->file.open())
        throw TFileError(QStringLiteral("Não foi possível criar um ficheiro temporário para os produtos: ")
                         + store->file.errorString());
    store->writer = std::make_unique<TRowWriter>(store->file);
    return store;
}

void TProductImages::ReadBefore(TDbConnection& db)
{
    beforeStore_ = OpenStore();
    Read(db, layout_.filter, *beforeStore_);
}

void TProductImages::ReadAfter(TDbConnection& db)
{
    afterStore_ = OpenStore();
    Read(db, QString(), *afterStore_);
}

void TProductImages::Pair(const std::function<void(const TRowBytes& before, const TRowBytes& after)>& each)
{
    if (!beforeStore_ || !afterStore_)
        return;
    const qsizetype pairs = layout_.pairing.size();
    TRowReader beforeRows(beforeStore_->file);
    TRowReader afterRows(afterStore_->file);

    // The next product read before that nothing else shares its pairing with.
    TStoredRow pending, next;
    bool havePending = false;
    bool stored = beforeRows.Read(next);
    auto advance = [&] {
        havePending = false;
        while (stored) {
            pending.swap(next);
            stored = beforeRows.Read(next);
            int twins = 0;
            while (stored && next.values.SameStart(pending.values, pairs)) {
                ++twins;
                stored = beforeRows.Read(next);
            }
            if (twins == 0) {
                havePending = true;
                return;
            }
            unpaired_ += twins + 1;
        }
    };
    advance();

    // The table after the change, one row behind, to see a pairing that two products share:
    // a row is settled once the next is known.
    TStoredRow row, held;
    bool isHeld = false, heldTwin = false;
    auto settle = [&] {
        if (!isHeld || !havePending || !held.values.SameStart(pending.values, pairs))
            return;
        if (heldTwin)
            ++unpaired_;
        else
            each(pending.values, held.values);
        advance();
    };
    while (havePending && afterRows.Read(row)) {
        if (isHeld && row.values.SameStart(held.values, pairs)) {
            heldTwin = true;
            continue;
        }
        settle();
        held.swap(row);
        isHeld = true;
        heldTwin = false;
    }
    settle();
    while (havePending) {
        ++unpaired_;
        advance();
    }
    if (beforeRows.broken() || afterRows.broken())
        throw TFileError(QStringLiteral("Não foi possível reler o ficheiro temporário dos produtos"));
}
