#include "CommitPoint.h"

#include "TDbConnection.h"

void TCommitPoint::Reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = false;
    passed_ = false;
}

void TCommitPoint::Pass()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_)
        throw TDbCancelled();
    passed_ = true;
}

bool TCommitPoint::Cancel(TDbConnection& db)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (passed_)
        return false;
    if (!cancelled_) {
        cancelled_ = true;
        db.Cancel();
    }
    return true;
}

bool TCommitPoint::Cancelled() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}
