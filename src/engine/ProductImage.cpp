#include "ProductImage.h"

#include "ChangeSteps.h"
#include "PagedRead.h"
#include "RowFile.h"
#include "TDbConnection.h"

#include <QTemporaryFile>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

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
    auto add = [&](TImageColumn::TRole role, const QString& name, const QString& selector = QString(),
                   bool recalculated = false) {
        const QString spelled = Spelled(columns, name);
        if (spelled.isEmpty())
            return;
        for (const TImageColumn& c : layout.columns)
            if (c.name == spelled)
                return;
        layout.columns << TImageColumn{role, spelled, Spelled(columns, selector), recalculated};
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
        add(TImageColumn::Price, price.column, price.selector, price.recalculated);
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

// The products read before the change, one row each (pairing, then values), in a file of
// their own.
struct TProductImages::Store {
    QTemporaryFile file;
    TRowWriter writer{file};

    void flush()
    {
        if (!writer.Flush() || !file.flush())
            throw TFileError(QStringLiteral("Não foi possível gravar o ficheiro temporário dos produtos ")
                             + file.fileName());
        file.seek(0);
    }
};

namespace {

constexpr std::size_t kPipeBlocks = 8;

// Blocks of rows handed from the thread that reads the table to the one that pairs them, a
// few at a time: the memory stays flat whichever of the two is the faster.
class TRowPipe {
public:
    // The reading side's. Once the pairing side has given up, what comes is dropped.
    bool Put(const QByteArray& block)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return blocks_.size() < kPipeBlocks || abandoned_; });
        if (!abandoned_)
            blocks_.push_back(block);
        ready_.notify_one();
        return true;
    }
    void Close()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }
    // Either side's: nothing more passes.
    void Abandon()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
        blocks_.clear();
        room_.notify_all();
        ready_.notify_all();
    }
    // The pairing side's: up to max bytes, 0 once closed and emptied, or abandoned.
    qint64 Take(char* into, qint64 max)
    {
        if (at_ == current_.size()) {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [&] { return !blocks_.empty() || closed_ || abandoned_; });
            if (blocks_.empty() || abandoned_)
                return 0;
            current_ = blocks_.front();
            blocks_.pop_front();
            at_ = 0;
            room_.notify_one();
        }
        const qint64 n = qMin<qint64>(max, current_.size() - at_);
        std::memcpy(into, current_.constData() + at_, size_t(n));
        at_ += n;
        return n;
    }

private:
    std::mutex mutex_;
    std::condition_variable room_, ready_;
    std::deque<QByteArray> blocks_;
    bool closed_ = false;
    bool abandoned_ = false;
    QByteArray current_;  // the pairing side's
    qsizetype at_ = 0;
};

}  // namespace

struct TProductImages::Pairing {
    TRowPipe pipe;
    std::thread thread;
    std::exception_ptr failure;

    ~Pairing()
    {
        if (thread.joinable()) {
            pipe.Abandon();
            thread.join();
        }
    }
};

TProductImages::TProductImages(TImageLayout layout) : layout_(std::move(layout)) {}

TProductImages::~TProductImages() = default;

void TProductImages::Read(TDbConnection& db, const QString& where, TRowWriter& rows)
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
    kinds_ = ReadPaged(db, read, [&](const TRowBytes& row) { rows.Write(0, row); });
}

void TProductImages::ReadBefore(TDbConnection& db)
{
    beforeStore_ = std::make_unique<Store>();
    if (!beforeStore_->file.open())
        throw TFileError(QStringLiteral("Não foi possível criar um ficheiro temporário para os produtos: ")
                         + beforeStore_->file.errorString());
    Read(db, layout_.filter, beforeStore_->writer);
    beforeStore_->flush();
}

void TProductImages::ReadAfter(TDbConnection& db, TEach each)
{
    if (!beforeStore_)
        return;
    pairing_ = std::make_unique<Pairing>();
    Pairing& pairing = *pairing_;
    pairing.thread = std::thread([this, &pairing, each = std::move(each)] {
        try {
            Pair(each);
        } catch (...) {
            pairing.failure = std::current_exception();
            pairing.pipe.Abandon();
        }
    });
    // A failure leaves the pipe open: the pairing is given up when the images are dropped.
    TRowWriter rows([&pairing](const QByteArray& block) { return pairing.pipe.Put(block); });
    Read(db, QString(), rows);
    rows.Flush();
    pairing.pipe.Close();
}

void TProductImages::Paired()
{
    if (!pairing_)
        return;
    pairing_->thread.join();
    if (pairing_->failure)
        std::rethrow_exception(pairing_->failure);
}

void TProductImages::Pair(const TEach& each)
{
    const qsizetype pairs = layout_.pairing.size();
    TRowReader beforeRows(beforeStore_->file);
    TRowReader afterRows([this](char* into, qint64 max) { return pairing_->pipe.Take(into, max); });

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
    if (beforeRows.broken())
        throw TFileError(QStringLiteral("Não foi possível reler o ficheiro temporário dos produtos"));
}
