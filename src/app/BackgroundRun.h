#pragma once
// Runs a change on a thread of its own while the window goes on painting. A Qt SQL
// connection belongs to the thread that made it, so the run gets a connection of its own,
// made, used and closed on that thread, with the window's connection string and statement
// observer. To its caller the run is as synchronous as before: Run returns when the work
// has ended and rethrows what it threw, having kept the window's events going meanwhile in
// a local event loop, as a modal box does. The caller keeps the window's handlers from
// being entered again meanwhile.

#include "TDbConnection.h"

#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>

class TBackgroundRun {
public:
    TBackgroundRun(const QString& connectionString, TDbConnection::Observer observer);

    void Run(const std::function<void(TDbConnection& db)>& work);

    // From the window's thread, at any time: interrupts the statement in flight and makes
    // the work fail with TDbCancelled (a run that has begun its commit is not stopped).
    void Cancel();

    // While held, the work waits in AwaitCommit: the operator is being asked whether to
    // cancel, and the answer must still be able to stop the change.
    void HoldCommit();
    void ReleaseCommit();
    // On the work's thread, just before the commit; throws TDbCancelled after a Cancel.
    void AwaitCommit();

private:
    QString connectionString_;
    TDbConnection::Observer observer_;
    std::mutex mutex_;
    std::condition_variable released_;
    TDbConnection* db_ = nullptr;
    bool cancelled_ = false;
    bool held_ = false;
};
