#pragma once
// Makes a schedule apply at most once: two processes waiting on the same settings file make
// the change once, and a settings file left behind by a successful run is not applied again.
//
// A schedule is known by the fingerprint of its settings file's bytes, so a new schedule is
// never taken for an earlier one. Two things are kept on disk beside the settings file (or,
// where that folder cannot be written, in a per-user folder keyed by the settings path):
//   - a lock, "<settings>.lock", held from the due check to the end of the run; a lock left
//     by a process that died is stale and taken over, and so is one whose owner cannot be
//     read once it is kUnreadableLockMinutes old;
//   - a record, "<settings>.state", of how far the run of a fingerprint got: "committing"
//     (written before the commit; the change may be in the database from here on) and "done"
//     (written once the commit has returned). A record that cannot be written before the
//     commit makes the run fail, so nothing is ever committed without one.
//
// States of one schedule, and what a crash at that point leaves:
//   Pending     file present, no record of its fingerprint. Crash: nothing was committed (the
//               transaction dies with the connection); the next start runs it again.
//   Running     Pending plus this process's lock. Same as Pending after a crash: the lock
//               is stale and the record absent.
//   Committing  record "committing". Crash: the change may or may not have been made; the
//               next start reports InDoubt and never runs it on its own, unless the run's
//               images settle it (SettleDoubt). A commit that returned an error and was
//               rolled back goes back to Pending.
//   Done        record "done", file still present. Crash (or a file that cannot be deleted):
//               the next start finds CompletedLeftover and only tidies up.
//   Finished    file deleted; records cleared. A crash before the clearing leaves a record
//               whose fingerprint no file has, which NewSchedule clears.
// A settings file that disappears, or whose bytes change, while a process waits means that
// another process made the change or replaced the schedule: Claim answers AlreadyDone.

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

class QLockFile;

// Where files that belong beside the settings file go when its folder cannot be written:
// a folder of the user's own, the same for every copy of the program.
QString PerUserFallbackFolder();

// A live process writes its owner into a lock file in the instant it creates it, so a lock
// whose owner cannot be read was cut short (a power cut, a full disk) or is being written
// right now. Five minutes is five of the wait page's checks, ample for that instant, and more
// than the clocks of two computers sharing the folder are usually apart.
constexpr int kUnreadableLockMinutes = 5;

enum class TLockTry { Taken, Held, Unreadable, Impossible };
// Takes a lock at once or not at all. Only a dead owner makes a readable lock stale, never its
// age: a run may hold it for minutes. A lock whose owner cannot be read is Unreadable until it
// is kUnreadableLockMinutes old at now (takeOver: the moment it will be), then taken over.
// Impossible: the lock file cannot be made there at all.
TLockTry TryLockAt(QLockFile& lock, const QDateTime& now, QDateTime* takeOver = nullptr);

class TScheduleGuard {
public:
    using TClock = std::function<QDateTime()>;
    // fallbackFolder: where the lock and record go when the settings file's folder cannot be
    // written; empty means the per-user data folder. clock: what an unreadable lock's age is
    // measured against; empty means the system's.
    explicit TScheduleGuard(const QString& settingsPath, const QString& fallbackFolder = QString(),
                            TClock clock = {});
    ~TScheduleGuard();
    TScheduleGuard(const TScheduleGuard&) = delete;
    TScheduleGuard& operator=(const TScheduleGuard&) = delete;

    enum class TStart {
        Pending,          // a schedule to resume
        CompletedLeftover,// its change was already made (or there is no file): only tidy up
        InDoubt,          // a run stopped while committing: whether it was made is unknown
    };
    // At start, before resuming a settings file that exists. The file's content becomes the
    // schedule this process acts on.
    TStart Inspect();

    // Right after this process wrote the settings file ("Confirmar"): its content becomes
    // the schedule this process acts on, and every record of earlier schedules is dropped.
    void NewSchedule();

    enum class TClaim {
        Acquired,    // this process runs the change now
        Busy,        // another live process is running it
        AlreadyDone, // made by another process, or the file is gone or holds another schedule
        InDoubt,     // an earlier run stopped while committing
        // The lock's owner cannot be read: wait, saying unreadableLock().text on the wait
        // page; a later Claim takes the lock over from unreadableLock().takeOver on.
        LockUnreadable,
    };
    // At the due check, before the connection is reopened. On Acquired the lock is held until
    // Release or Finish. Throws TFileError (a Portuguese text naming the file) when no
    // lock can be made at all or the settings file cannot be read: running without knowing
    // would risk a second change.
    TClaim Claim();

    struct TUnreadableLock {
        QString path;
        QDateTime takeOver;
        // For the wait page: "O ficheiro de bloqueio <path> não indica que programa o criou;
        // será considerado abandonado às HH:mm." (the date too when it is not today).
        QString text;
    };
    // The lock of the last Claim that answered LockUnreadable.
    TUnreadableLock unreadableLock() const;

    // Records that the change of run runId may be committed from here on. Throws TFileError
    // when that cannot be recorded, which rolls the change back.
    void BeforeCommit(const QString& runId = QString());
    // Records that it was; never throws (the change is in the database either way).
    void AfterCommit();
    // Records that the commit returned an error and the rollback that followed succeeded:
    // nothing was committed, and the schedule is pending again.
    void CommitRolledBack();
    // The run of the record Inspect or Claim found ("committing" or "done"), or of the last
    // BeforeCommit; empty when none was recorded.
    QString RunId() const;
    // A schedule in doubt whose outcome was found out after all (from the run's images):
    // "done" when its commit happened, no record when it did not (pending again). False
    // when another process holds the lock, the doubt is gone or the record cannot be written.
    bool SettleDoubt(bool committed);
    // A failed run: gives up the lock. The schedule stays pending, or in doubt when the
    // failure came after BeforeCommit and the rollback is not known to have undone it.
    void Release();
    // After the settings file and the start-up entry were deleted: clears the records when
    // the file is gone, keeps "done" when it could not be deleted; gives up the lock.
    void Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
