#include "Simulation.h"

#include "ProductCsv.h"
#include "RequestText.h"
#include "TDbConnection.h"

#include <QDateTime>
#include <QStringConverter>
#include <charconv>
#include <cmath>

namespace {

// A number as the driver writes it ("12.3456", "-1", "1.5e-05"), read without a detour through
// the locale: millions of them pass here.
bool Number(const QString& text, double& value)
{
    char buffer[64];
    const qsizetype n = text.size();
    if (n == 0 || n >= qsizetype(sizeof buffer))
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x7f)
            return false;
        buffer[i] = char(c);
    }
    const auto [end, error] = std::from_chars(buffer, buffer + n, value);
    return error == std::errc() && end == buffer + n;
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
                  const QList<bool>& numericKey)
        : result_(result), numericKey_(numericKey)
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
        for (int i = 0; i < layout.columns.size(); ++i)
            if (layout.columns[i].role == TImageColumn::Price && indexOf(layout.columns[i].selector) >= 0)
                prices_.push_back({i, indexOf(layout.columns[i].selector)});
        for (const TImageColumn& column : layout.columns)
            numberColumns_.push_back(column.role != TImageColumn::Other || column.name == QLatin1String("id"));
        if (!named_)
            return;
        file_ = std::make_unique<TProductCsv>(csvPath, QStringLiteral("Não foi possível gravar o ficheiro da simulação "));
        QStringList header = layout.key;
        for (const TImageColumn& column : layout.columns)
            header << column.name + QStringLiteral(" antes") << column.name + QStringLiteral(" depois");
        file_->Header(header);
    }

    void Add(const TProductChange& change)
    {
        ++result_.products;
        if (result_.rounding)
            Measure(change);
        if (!named_)
            return;
        if (result_.sample.size() < kSampleSize)
            result_.sample << change;
        for (int i = 0; i < change.pairing.size(); ++i)
            file_->Field(change.pairing[i], numericKey_.value(i));
        for (int i = 0; i < change.before.size(); ++i) {
            file_->Field(change.before[i], numberColumns_[i]);
            file_->Field(change.after.value(i), numberColumns_[i]);
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

    // The exact conversion of an old price follows the product's rate through the rows, as
    // the change moves it: 6 to 13 in row 1 and 13 to 23 in row 2 make one factor of 1.23/1.06.
    void Measure(const TProductChange& change)
    {
        for (const auto& [price, selector] : prices_) {
            const QString& afterText = change.after.value(price);
            if (afterText == change.before[price])
                continue;  // not converted, or converted to the same
            double before = 0, after = 0, startRate = 0;
            if (!Number(change.before[price], before) || !Number(afterText, after)
                || !Number(change.before[selector], startRate))
                continue;
            int rate = int(startRate);
            double factor = 1;
            for (const auto& [from, to] : steps_) {
                if (rate != from)
                    continue;
                factor = factor * (100.0 + to) / (100.0 + from);
                rate = to;
            }
            if (factor == 1)
                continue;  // the price was not converted
            const double distance = std::abs(after - before * factor);
            if (distance >= 0.005 - 1e-9)
                ++result_.offByHalfCent;
            result_.largestDifference = std::max(result_.largestDifference, distance);
        }
    }

    TSimulation& result_;
    QList<bool> numericKey_;
    bool named_ = false;
    std::vector<std::pair<int, int>> steps_;   // old and new rate of each ticked row, in order
    std::vector<std::pair<int, int>> prices_;  // a price's column and its rate's column
    std::vector<bool> numberColumns_;
    std::unique_ptr<TProductCsv> file_;
};

}  // namespace

TSimulation SimulateChange(TDbConnection& db, const TChangeRequest& request, TRunObserver* observer,
                           const QString& csvPath)
{
    TSimulation result;
    result.rounding = request.options.roundPrices;
    std::unique_ptr<TProductImages> images;
    TRowCounter counter(result, observer);
    TRunHooks hooks;
    hooks.observer = &counter;
    hooks.afterBegin = [&] {
        result.layout = ProductImageLayout(db, request);
        images = std::make_unique<TProductImages>(result.layout);
        images->ReadBefore(db);
    };
    hooks.beforeCommit = [&] { images->ReadAfter(db); };
    RunChange(db, request, TRunKind::Simulation, hooks);
    // Rolled back: the tills have the products again while they are compared.
    TProductTally tally(result, request, csvPath, images->numericPairing());
    images->Pair([&](const TProductChange& change) { tally.Add(change); });
    tally.Close();
    result.unpaired = images->unpaired();
    return result;
}
