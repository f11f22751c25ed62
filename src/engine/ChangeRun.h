#pragma once
#include "RunObserver.h"
#include "TChangeRequest.h"
#include <functional>

class TDbConnection;

// Which statements a row sends differs only on Quibon, in the first row of a scheduled run.
enum class TRunVariant { ChangeRun, ScheduledFirstRow, ScheduledLaterRow };

// A simulation sends the statements of a change now, then rolls them back; an undo puts back
// what an earlier change replaced, from its images, at once or as a schedule's second stage.
enum class TRunKind { Immediate, Scheduled, Simulation, Undo, ScheduledUndo };
inline bool IsScheduled(TRunKind kind) { return kind == TRunKind::Scheduled || kind == TRunKind::ScheduledUndo; }
inline bool IsUndo(TRunKind kind) { return kind == TRunKind::Undo || kind == TRunKind::ScheduledUndo; }

// Called inside the transaction: afterBegin before its first statement, beforeCommit after
// its last (a throw from either rolls the change back). Then around the commit: afterCommit
// once it has returned, commitRolledBack when it returned an error and the rollback after it
// succeeded (nothing was committed). The scheduled run records its progress here so that a
// schedule is never applied twice nor dropped unmade. The observer, when given, sees the
// run's progress and counts.
struct TRunHooks {
    std::function<void()> afterBegin;
    std::function<void()> beforeCommit;
    std::function<void()> afterCommit;
    std::function<void()> commitRolledBack;
    TRunObserver* observer = nullptr;
};

// Runs body as one transaction and commits it when body returns true (a simulation returns
// false once it has been rolled back). On any failure it rolls back and rethrows the failure
// itself; hooks.commitRolledBack and hooks.afterCommit are called around the commit as said
// above. body calls afterBegin and beforeCommit, since only it knows where they fall.
void InOneTransaction(TDbConnection& db, const TRunHooks& hooks, const std::function<bool()>& body);

// Every ticked row in order, as one transaction: committed after the last statement of the
// last row (a simulation rolled back there instead), rolled back on any failure (the error
// then propagates unchanged). Rejects a
// request whose rate or places texts cannot stand in a statement, or that asks for the
// rounding without the sale update, before sending anything (TRequestError). A request with
// no ticked row sends nothing and calls no hook.
void RunChange(TDbConnection& db, const TChangeRequest& request, TRunKind kind,
               const TRunHooks& hooks = {});
