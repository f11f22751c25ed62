#pragma once
// Makes a schedule apply at most once: two processes waiting on the same settings file make
// the change once, and a settings file left behind by a successful run is not applied again.

#include <QString>
#include <memory>

class TScheduleGuard {
public:
    explicit TScheduleGuard(const QString& settingsPath);
    ~TScheduleGuard();

    enum class TStart {
        Pending,          // a schedule to resume
        CompletedLeftover,// its change was already made: the file was removed (or is ignored)
        InDoubt,          // a run stopped while committing: whether it was made is unknown
    };
    // At start, before resuming a settings file that exists.
    TStart Inspect();

    enum class TClaim {
        Acquired,    // this process runs the change now
        Busy,        // another process is running it
        AlreadyDone, // another process made it (or the file is gone)
    };
    // At the due check, before the connection is reopened. Held until Release or Finish.
    TClaim Claim();

    void BeforeCommit();  // records that the change may be committed from here on
    void AfterCommit();   // records that it was
    void Release();       // a failed run (rolled back): the schedule stays pending
    void Finish();        // file and start-up entry deleted: clears every record

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
