#include "ChangeRun.h"
#include "ChangeSteps.h"
#include "RequestText.h"
#include "TDbConnection.h"

#include <QElapsedTimer>

namespace {

// " da primeira linha" and so on.
QString RowLabel(int rowIndex)
{
    static const char* const ordinals[] = {"primeira", "segunda", "terceira"};
    return QStringLiteral(" da %1 linha").arg(QString::fromUtf8(ordinals[rowIndex]));
}

// A read's answer, kept so that a count can replay what the run has already seen.
struct TReadAnswer {
    bool hasRow = false;
    QStringList names;
    std::vector<bool> columns;
};

// Sends nothing: counts, answering reads as the run answered them so far and, past that,
// as the run most likely will (a new rate missing, the columns of the last probe).
class TCountingSink : public TStatementSink {
public:
    explicit TCountingSink(const std::vector<TReadAnswer>& known) : known_(known) {}
    int count() const { return count_; }

    qint64 Command(const QString&, const TStatementWhat&) override
    {
        ++count_;
        return -1;
    }
    bool HasRow(const QString&) override
    {
        ++count_;
        return reads_ < known_.size() ? known_[reads_++].hasRow : (++reads_, false);
    }
    std::vector<bool> HasColumns(const QString&, const QStringList& names) override
    {
        ++count_;
        if (reads_ < known_.size())
            return known_[reads_++].columns;
        ++reads_;
        for (auto it = known_.rbegin(); it != known_.rend(); ++it)
            if (it->names == names)
                return it->columns;
        return std::vector<bool>(names.size(), false);
    }

private:
    const std::vector<TReadAnswer>& known_;
    size_t reads_ = 0;
    int count_ = 0;
};

// Sends to the database, timing each statement for the observer.
class TDatabaseSink : public TStatementSink {
public:
    TDatabaseSink(TDbConnection& db, TRunObserver* observer, std::function<int(const std::vector<TReadAnswer>&)> count)
        : db_(db), observer_(observer), count_(std::move(count))
    {
    }

    void startRun()
    {
        if (observer_)
            observer_->TotalChanged(total_ = count_(answers_));
    }
    void setRow(int row) { row_ = row; }

    qint64 Command(const QString& sql, const TStatementWhat& what) override
    {
        QElapsedTimer timer;
        timer.start();
        SendCommand(db_, sql);
        const qint64 rows = db_.RowsAffected();
        report(sql, TStatementKind::Command, rows, timer.nsecsElapsed() / 1000, what);
        return rows;
    }
    bool HasRow(const QString& sql) override
    {
        QElapsedTimer timer;
        timer.start();
        TReadAnswer answer;
        {
            TOpenRead read(db_, sql);
            answer.hasRow = !db_.IsEmpty();
            read.close();
        }
        return learned(sql, timer, std::move(answer)).hasRow;
    }
    std::vector<bool> HasColumns(const QString& sql, const QStringList& names) override
    {
        QElapsedTimer timer;
        timer.start();
        TReadAnswer answer;
        answer.names = names;
        {
            TOpenRead read(db_, sql);
            for (const QString& name : names)
                answer.columns.push_back(db_.FindField(name));
            read.close();
        }
        return learned(sql, timer, std::move(answer)).columns;
    }

private:
    const TReadAnswer& learned(const QString& sql, const QElapsedTimer& timer, TReadAnswer answer)
    {
        const qint64 us = timer.nsecsElapsed() / 1000;
        answers_.push_back(std::move(answer));
        if (observer_) {
            const int total = count_(answers_);
            if (total != total_)
                observer_->TotalChanged(total_ = total);
        }
        report(sql, TStatementKind::Read, -1, us);
        return answers_.back();
    }

    void report(const QString& sql, TStatementKind kind, qint64 rows, qint64 us, const TStatementWhat& what = {})
    {
        ++done_;
        if (observer_)
            observer_->StatementDone({sql, kind, rows, us, row_, done_, total_, what});
    }

    TDbConnection& db_;
    TRunObserver* observer_;
    std::function<int(const std::vector<TReadAnswer>&)> count_;
    std::vector<TReadAnswer> answers_;
    int row_ = 0;
    int done_ = 0;
    int total_ = 0;
};

}  // namespace

// A schedule's settings file can be edited by hand and a rate edit can take pasted text;
// neither may put anything but digits into a statement.
void ValidateRowTexts(const TRatePair& row, int rowIndex, const TChangeOptions& options)
{
    const QString where = RowLabel(rowIndex);
    if (!IsRateText(row.existing))
        throw TRequestError(QStringLiteral("A taxa existente%1 ('%2') não é válida: uma taxa tem "
                                           "um ou dois algarismos.")
                                .arg(where, row.existing));
    if (!IsRateText(row.replacement))
        throw TRequestError(QStringLiteral("A nova taxa%1 ('%2') não é válida: uma taxa tem um ou "
                                           "dois algarismos.")
                                .arg(where, row.replacement));
    if (options.roundPrices && !IsPlacesText(options.places))
        throw TRequestError(QStringLiteral("O número de casas de arredondamento ('%1') não é "
                                           "válido: indique só algarismos.")
                                .arg(options.places));
    if (options.roundPrices && !options.salePrices)
        throw TRequestError(RoundingWithoutSaleText());
}

static qint64 RunValidatedRow(TStatementSink& out, const TRatePair& row, const TChangeOptions& options,
                              const TAppKind& app, TRunVariant variant)
{
    // Prices and the reassignment select products by the old rate, so the move to the new
    // rate comes last; the rate table comes first so the new rate exists for the rest.
    UpdateRateTable(out, row, options.keepCurrentRate, app, variant);
    RecalculatePrices(out, row.existing, row.replacement, options, app);
    return ReassignRates(out, row.existing, row.replacement, app, variant);
}

// Every ticked row in order, into out; around each, the observer hears of it.
static void RunRows(TStatementSink& out, const TChangeRequest& request, TRunKind kind,
                    const std::function<void(int row)>& before = {},
                    const std::function<void(int row, qint64 moved)>& after = {})
{
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = request.rows[i];
        if (!row.enabled) continue;
        // The scheduled variant goes by position: row 1 is the first row whether or not
        // it is ticked, as the schedule's settings file numbers them.
        TRunVariant variant = TRunVariant::ChangeRun;
        if (kind == TRunKind::Scheduled)
            variant = i == 0 ? TRunVariant::ScheduledFirstRow : TRunVariant::ScheduledLaterRow;
        if (before) before(i);
        const qint64 moved = RunValidatedRow(out, row, request.options, request.app, variant);
        if (after) after(i, moved);
    }
}

void InOneTransaction(TDbConnection& db, const TRunHooks& hooks, const std::function<bool()>& body)
{
    db.BeginTransaction();
    bool committing = false;
    try {
        if (!body())
            return;
        committing = true;
        db.Commit();
    } catch (...) {
        // A half-made change is worse than none: prices may stand divided but not yet
        // multiplied. The rollback's own failure must not hide the error that caused it.
        bool rolledBack = false;
        try {
            db.Rollback();
            rolledBack = true;
        } catch (...) {
        }
        // A refused commit (a reader's lock, a full disk) that the rollback then undoes has
        // committed nothing. Without the rollback the outcome is unknown.
        if (committing && rolledBack && hooks.commitRolledBack) hooks.commitRolledBack();
        throw;
    }
    if (hooks.afterCommit) hooks.afterCommit();
}

void RunChange(TDbConnection& db, const TChangeRequest& request, TRunKind kind,
               const TRunHooks& hooks)
{
    bool anyRow = false;
    for (int i = 0; i < 3; ++i) {
        if (!request.rows[i].enabled) continue;
        ValidateRowTexts(request.rows[i], i, request.options);
        anyRow = true;
    }
    if (!anyRow) return;

    TRunObserver* observer = hooks.observer;
    TDatabaseSink out(db, observer, [&](const std::vector<TReadAnswer>& known) {
        TCountingSink counter(known);
        RunRows(counter, request, kind);
        return counter.count();
    });
    out.startRun();

    InOneTransaction(db, hooks, [&] {
        if (hooks.afterBegin) hooks.afterBegin();
        RunRows(
            out, request, kind,
            [&](int row) {
                out.setRow(row);
                if (observer) observer->RowStarted(row);
            },
            [&](int row, qint64 moved) {
                if (observer) observer->RowDone(row, moved);
            });
        if (hooks.beforeCommit) hooks.beforeCommit();
        if (kind != TRunKind::Simulation)
            return true;
        // Every statement was sent and read back: nothing of it is kept.
        db.Rollback();
        return false;
    });
}
