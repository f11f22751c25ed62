#include "ChangeRun.h"
#include "ChangeSteps.h"
#include "RequestText.h"
#include "TDbConnection.h"

namespace {

// " da primeira linha" and so on; nothing when the row's place is not known.
QString RowLabel(int rowIndex)
{
    static const char* const ordinals[] = {"primeira", "segunda", "terceira"};
    if (rowIndex < 0 || rowIndex > 2) return QString();
    return QStringLiteral(" da %1 linha").arg(QString::fromUtf8(ordinals[rowIndex]));
}

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
}

static void RunValidatedRow(TDbConnection& db, const TRatePair& row, const TChangeOptions& options,
                            const TAppKind& app, TRunVariant variant)
{
    // Prices and the reassignment select products by the old rate, so the move to the new
    // rate comes last; the rate table comes first so the new rate exists for the rest.
    UpdateRateTable(db, row, options.keepCurrentRate, app, variant);
    RecalculatePrices(db, row.existing, row.replacement, options, app);
    ReassignRates(db, row.existing, row.replacement, app, variant);
}

void RunRow(TDbConnection& db, const TRatePair& row, const TChangeOptions& options,
            const TAppKind& app, TRunVariant variant)
{
    ValidateRowTexts(row, -1, options);
    RunValidatedRow(db, row, options, app, variant);
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

    db.BeginTransaction();
    try {
        for (int i = 0; i < 3; ++i) {
            const TRatePair& row = request.rows[i];
            if (!row.enabled) continue;
            // The scheduled variant goes by position: row 1 is the first row whether or not
            // it is ticked, as the schedule's settings file numbers them.
            TRunVariant variant = TRunVariant::ChangeRun;
            if (kind == TRunKind::Scheduled)
                variant = i == 0 ? TRunVariant::ScheduledFirstRow : TRunVariant::ScheduledLaterRow;
            RunValidatedRow(db, row, request.options, request.app, variant);
        }
        if (hooks.beforeCommit) hooks.beforeCommit();
        db.Commit();
    } catch (...) {
        // A half-made change is worse than none: prices may stand divided but not yet
        // multiplied. The rollback's own failure must not hide the error that caused it.
        try {
            db.Rollback();
        } catch (...) {
        }
        throw;
    }
    if (hooks.afterCommit) hooks.afterCommit();
}
