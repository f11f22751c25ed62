#include "ProductImage.h"

#include "ChangeSteps.h"
#include "TDbConnection.h"

#include <QDataStream>
#include <QTemporaryFile>
#include <optional>

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
    const QString sale = IsMeltra(app) ? QStringLiteral("ivavenda") : QStringLiteral("iva");
    add(TImageColumn::Rate, sale);
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

// The products read before the change, one record each (pairing, then values), in a file of
// their own; QDataStream keeps every value exactly as the driver gave it.
struct TProductImages::Store {
    QTemporaryFile file;
    QDataStream stream;

    bool read(QVariantList& pairing, QVariantList& values)
    {
        if (stream.atEnd())
            return false;
        stream >> pairing >> values;
        return stream.status() == QDataStream::Ok;
    }
};

TProductImages::TProductImages(TImageLayout layout) : layout_(std::move(layout)) {}

TProductImages::~TProductImages() = default;

void TProductImages::ReadBefore(TDbConnection& db)
{
    store_ = std::make_unique<Store>();
    if (!store_->file.open())
        throw TFileError(QStringLiteral("Não foi possível criar um ficheiro temporário para os produtos: ")
                         + store_->file.errorString());
    store_->stream.setDevice(&store_->file);
    QStringList names = layout_.pairing;
    for (const TImageColumn& c : layout_.columns)
        names << c.name;
    TOpenRead read(db, QStringLiteral("SELECT ") + Listed(names) + QStringLiteral(" FROM produtos WHERE ")
                           + layout_.filter + QStringLiteral(" ORDER BY ") + Listed(layout_.pairing));
    const int pairs = layout_.pairing.size();
    for (bool row = !db.IsEmpty(); row; row = db.Next()) {
        const QVariantList values = db.Row();
        store_->stream << values.mid(0, pairs) << values.mid(pairs);
        ++before_;
    }
    read.close();
    if (store_->stream.status() != QDataStream::Ok || !store_->file.flush())
        throw TFileError(QStringLiteral("Não foi possível gravar o ficheiro temporário dos produtos ")
                         + store_->file.fileName());
}

void TProductImages::ReadAfter(TDbConnection& db, const std::function<void(const TProductChange&)>& each)
{
    if (!store_)
        return;
    store_->file.seek(0);
    store_->stream.resetStatus();
    const int pairs = layout_.pairing.size();

    // The next product read before that nothing else shares its pairing with.
    std::optional<TProductChange> pending;
    bool stored = false;
    QVariantList nextPairing, nextValues;
    auto readStored = [&] { stored = store_->read(nextPairing, nextValues); };
    readStored();
    auto advance = [&] {
        pending.reset();
        while (stored) {
            TProductChange change{nextPairing, nextValues, {}};
            readStored();
            int twins = 0;
            while (stored && nextPairing == change.pairing) {
                ++twins;
                readStored();
            }
            if (twins == 0) {
                pending = std::move(change);
                return;
            }
            unpaired_ += twins + 1;
        }
    };
    advance();

    QStringList names = layout_.pairing;
    for (const TImageColumn& c : layout_.columns)
        names << c.name;
    TOpenRead read(db, QStringLiteral("SELECT ") + Listed(names) + QStringLiteral(" FROM produtos ORDER BY ")
                           + Listed(layout_.pairing));
    // One row ahead, to see a pairing that two products share.
    QVariantList current, following;
    bool hasCurrent = !db.IsEmpty();
    bool hasFollowing = false;
    if (hasCurrent) {
        current = db.Row();
        hasFollowing = db.Next();
        if (hasFollowing)
            following = db.Row();
    }
    auto step = [&] {
        current = following;
        hasCurrent = hasFollowing;
        hasFollowing = hasCurrent && db.Next();
        following = hasFollowing ? db.Row() : QVariantList();
    };
    while (hasCurrent && pending) {
        const QVariantList pairing = current.mid(0, pairs);
        if (pairing == pending->pairing) {
            if (hasFollowing && following.mid(0, pairs) == pairing) {
                ++unpaired_;
                while (hasCurrent && current.mid(0, pairs) == pairing)
                    step();
                advance();
                continue;
            }
            pending->after = current.mid(pairs);
            each(*pending);
            advance();
        }
        step();
    }
    read.close();
    while (pending) {
        ++unpaired_;
        advance();
    }
}
