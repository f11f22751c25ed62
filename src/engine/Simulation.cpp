#include "Simulation.h"

#include "ProductCsv.h"
#include "RequestText.h"
#include "TDbConnection.h"

#include <QByteArrayView>

#include <QDateTime>
#include <charconv>
#include <cmath>

namespace {

// A number as the driver writes it ("12.3456", "-1", "1.5e-05"), read without a detour through
// the locale or a string: millions of them pass here.
bool Number(QByteArrayView text, double& value)
{
    if (text.isEmpty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// A binary fraction as its exact text gives it ("8.13008130081300791e+00"), shown in the fewest
// digits that still make it ("8.130081300813008"); any other value as it is. scratch holds the
// shown text.
QByteArrayView Shown(QByteArrayView exact, bool fraction, QByteArray& scratch)
{
    double value = 0;
    if (!fraction || exact.isNull()
        || std::none_of(exact.begin(), exact.end(), [](char c) { return c == 'e' || c == 'E'; })
        || !Number(exact, value))
        return exact;
    char text[40];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    if (error != std::errc())
        return exact;
    scratch = QByteArray(text, end - text);
    return scratch;
}

// Hears the run: what each command of each row changed.
class TRowCounter : public TRunObserver {
public:
    TRowCounter(TSimulation& result, TRunObserver* next) : result_(result), next_(next) {}

    void TotalChanged(int total) override
    {
        if (next_)
            next_->TotalChanged(total);
    }
    void RowStarted(int row) override
    {
        result_.rows[row].ran = true;
        if (next_)
            next_->RowStarted(row);
    }
    void RowDone(int row, qint64 moved) override
    {
        if (next_)
            next_->RowDone(row, moved);
    }
    void StatementDone(const TStatementReport& report) override
    {
        TSimulatedRow& row = result_.rows[report.row];
        const qint64 n = qMax<qint64>(report.rowsAffected, 0);
        switch (report.what.kind) {
        case TStatementWhat::RateInserted: row.rateInserted = true; break;
        case TStatementWhat::RateDescribed: row.rateDescribed += n; break;
        case TStatementWhat::RateDeleted: row.rateDeleted += n; break;
        case TStatementWhat::RateDeletedRecorded: row.deletionRecorded = true; break;
        case TStatementWhat::PriceMultiplied: row.prices << qMakePair(report.what.column, n); break;
        case TStatementWhat::SaleRateMoved: row.saleMoved += n; break;
        case TStatementWhat::PurchaseRateMoved: row.purchaseMoved += n; break;
        case TStatementWhat::SecondRateMoved:
        case TStatementWhat::SecondRateFilled:
        case TStatementWhat::ResaleRateMoved: row.otherRatesMoved += n; break;
        case TStatementWhat::TerminalDefault: row.terminals << qMakePair(report.what.column, n); break;
        default: break;
        }
        if (next_)
            next_->StatementDone(report);
    }

private:
    TSimulation& result_;
    TRunObserver* next_;
};

// Every product's two images: the sample, the file, the rounding figures.
class TProductTally {
public:
    TProductTally(TSimulation& result, const TChangeRequest& request, const QString& csvPath,
                  const QList<TColumnKind>& kinds)
        : result_(result), pairs_(result.layout.pairing.size())
    {
        const TImageLayout& layout = result_.layout;
        named_ = !layout.key.isEmpty();
        for (const TRatePair& row : request.rows)
            if (row.enabled)
                steps_.push_back({RateInteger(row.existing), RateInteger(row.replacement)});
        auto indexOf = [&](const QString& name) {
            for (int i = 0; i < layout.columns.size(); ++i)
                if (layout.columns[i].name == name)
                    return i;
            return -1;
        };
        // A price only rounded, not converted, has no conversion to be measured against.
        for (int i = 0; i < layout.columns.size(); ++i)
            if (layout.columns[i].role == TImageColumn::Price && layout.columns[i].recalculated
                && indexOf(layout.columns[i].selector) >= 0)
                prices_.push_back({i, indexOf(layout.columns[i].selector)});
        for (qsizetype i = 0; i < pairs_; ++i)
            numbers_.push_back(kinds.value(i) != TColumnKind::Text && kinds.value(i) != TColumnKind::DateTime);
        for (const TImageColumn& column : layout.columns)
            numbers_.push_back(column.role != TImageColumn::Other || column.name == QLatin1String("id"));
        for (qsizetype i = 0; i < pairs_ + layout.columns.size(); ++i)
            fractions_.push_back(kinds.value(i) == TColumnKind::Float);
        if (!named_)
            return;
        file_ = std::make_unique<TProductCsv>(csvPath, QStringLiteral("Não foi possível gravar o ficheiro da simulação "));
        QStringList header = layout.key;
        for (const TImageColumn& column : layout.columns)
            header << column.name + QStringLiteral(" antes") << column.name + QStringLiteral(" depois");
        file_->Header(header);
    }

    // Each row holds the pairing's values, then the layout's columns.
    void Add(const TRowBytes& before, const TRowBytes& after)
    {
        ++result_.products;
        if (result_.rounding)
            Measure(before, after);
        if (!named_)
            return;
        if (result_.sample.size() < kSampleSize)
            result_.sample << TProductChange{Texts(before, 0, pairs_), Texts(before, pairs_, before.size()),
                                             Texts(after, pairs_, after.size())};
        for (qsizetype i = 0; i < pairs_; ++i)
            file_->Field(Shown(before.value(i), fractions_[size_t(i)], scratch_), numbers_[size_t(i)]);
        for (qsizetype i = pairs_; i < before.size(); ++i) {
            file_->Field(Shown(before.value(i), fractions_[size_t(i)], scratch_), numbers_[size_t(i)]);
            file_->Field(Shown(i < after.size() ? after.value(i) : QByteArrayView(), fractions_[size_t(i)], scratch_),
                         numbers_[size_t(i)]);
        }
        file_->EndLine();
    }

    void Close()
    {
        if (!named_)
            return;
        file_->Close();
        result_.productsFile = file_->path();
    }

private:
    QStringList Texts(const TRowBytes& row, qsizetype from, qsizetype end)
    {
        QStringList texts;
        for (qsizetype i = from; i < end; ++i)
            texts << (row.isNull(i) ? QString() : QString::fromUtf8(Shown(row.value(i), fractions_[size_t(i)], scratch_)));
        return texts;
    }

    // The exact conversion of an old price follows the product's rate through the rows, as
    // the change moves it: 6 to 13 in row 1 and 13 to 23 in row 2 make one factor of 1.23/1.06.
    void Measure(const TRowBytes& beforeRow, const TRowBytes& afterRow)
    {
        for (const auto& [price, selector] : prices_) {
            const qsizetype at = pairs_ + price;
            if (at >= afterRow.size() || (afterRow.isNull(at) == beforeRow.isNull(at)
                                          && afterRow.value(at) == beforeRow.value(at)))
                continue;  // not converted, or converted to the same
            const double factor = Factor(beforeRow, selector);
            double before = 0, after = 0;
            if (factor == 1 || !Number(beforeRow.value(at), before) || !Number(afterRow.value(at), after))
                continue;  // the price was not converted, or is no number
            const double distance = std::abs(after - before * factor);
            if (distance >= 0.005 - 1e-9)
                ++result_.offByHalfCent;
            result_.largestDifference = std::max(result_.largestDifference, distance);
        }
    }

    // What the rows make of the rate in a product's rate column, once a product: 1 where they
    // leave it (or it is no number).
    double Factor(const TRowBytes& row, int selector)
    {
        if (factorOf_.size() <= size_t(selector))
            factorOf_.resize(size_t(selector) + 1, {-1, 1});
        auto& [product, factor] = factorOf_[size_t(selector)];
        if (product == result_.products)
            return factor;
        product = result_.products;
        factor = 1;
        double startRate = 0;
        if (!Number(row.value(pairs_ + selector), startRate))
            return factor;
        int rate = int(startRate);
        for (const auto& [from, to] : steps_) {
            if (rate != from)
                continue;
            factor = factor * (100.0 + to) / (100.0 + from);
            rate = to;
        }
        return factor;
    }

    TSimulation& result_;
    qsizetype pairs_ = 0;  // the pairing's values come first in a row
    bool named_ = false;
    std::vector<std::pair<int, int>> steps_;   // old and new rate of each ticked row, in order
    std::vector<std::pair<int, int>> prices_;  // a price's column and its rate's column
    std::vector<std::pair<qint64, double>> factorOf_;  // a rate column's: for which product, what factor
    std::vector<bool> numbers_;    // each column of a row: written with a decimal comma
    std::vector<bool> fractions_;  // each column of a row: a binary fraction
    QByteArray scratch_;
    std::unique_ptr<TProductCsv> file_;
};

}  // namespace

TSimulation SimulateChange(TDbConnection& db, const TChangeRequest& request, TRunObserver* observer,
                           const QString& csvPath)
{
    TSimulation result;
    result.rounding = request.options.roundPrices;
    std::unique_ptr<TProductTally> tally;      // outlives the images' pairing, which feeds it
    std::unique_ptr<TProductImages> images;
    TRowCounter counter(result, observer);
    TRunHooks hooks;
    hooks.observer = &counter;
    hooks.afterBegin = [&] {
        result.layout = ProductImageLayout(db, request);
        images = std::make_unique<TProductImages>(result.layout);
        images->ReadBefore(db);
    };
    hooks.beforeCommit = [&] {
        tally = std::make_unique<TProductTally>(result, request, csvPath, images->kinds());
        images->ReadAfter(db, [&](const TRowBytes& before, const TRowBytes& after) { tally->Add(before, after); });
    };
    RunChange(db, request, TRunKind::Simulation, hooks);
    // Rolled back: the tills have the products again while the last of them are compared.
    if (!images)
        return result;  // no row ticked: nothing was sent
    images->Paired();
    tally->Close();
    result.unpaired = images->unpaired();
    return result;
}
