#pragma once
#include "RunObserver.h"
#include "TChangeRequest.h"
#include <functional>

class TDbConnection;

// Which statements a row sends differs only on Quibon, in the first row of a scheduled run.
enum class TRunVariant { ChangeRun, ScheduledFirstRow, ScheduledLaterRow };

// The row sequence for one ticked row: rate table, prices and rounding, reassignment.
void RunRow(TDbConnection& db, const TRatePair& row, const TChangeOptions& options,
            const TAppKind& app, TRunVariant variant);

enum class TRunKind { Immediate, Scheduled };

// Called around the commit: beforeCommit after the last statement (a throw rolls the change
// back), afterCommit once the commit has returned, commitRolledBack when the commit returned
// an error and the rollback after it succeeded (nothing was committed). The scheduled run
// records its progress here so that a schedule is never applied twice nor dropped unmade.
// The observer, when given, sees the run's progress and counts.
struct TRunHooks {
    std::function<void()> beforeCommit;
    std::function<void()> afterCommit;
    std::function<void()> commitRolledBack;
    TRunObserver* observer = nullptr;
};

// Every ticked row in order, as one transaction: committed after the last statement of the
// last row, rolled back on any failure (the error then propagates unchanged). Rejects a
// request whose rate or places texts cannot stand in a statement, or that asks for the
// rounding without the sale update, before sending anything (TRequestError). A request with
// no ticked row sends nothing and calls no hook.
void RunChange(TDbConnection& db, const TChangeRequest& request, TRunKind kind,
               const TRunHooks& hooks = {});
