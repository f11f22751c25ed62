#pragma once
// Where a change stops being one that can be stopped. "Cancelar" and the run's last step
// before its commit meet here under one lock, so exactly one of them wins: a cancel that
// comes first interrupts the statement in flight and the commit is never sent; a commit that
// comes first makes every later cancel say that it is too late. Nobody waits here for a
// person: the run goes on while the operator is asked.

#include <mutex>

class TDbConnection;

class TCommitPoint {
public:
    // Before a run: nothing cancelled, nothing committing.
    void Reset();
    // On the run's thread, right before the commit is sent. Throws TDbCancelled when a
    // cancel came first.
    void Pass();
    // From any thread. True when the change will not be made: the statement in flight is
    // interrupted through db and every later one refused. False once the commit has begun.
    bool Cancel(TDbConnection& db);
    bool Cancelled() const;

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    bool passed_ = false;
};
