#pragma once
// The one thread that talks to the database. A Qt SQL connection belongs to the thread that
// opened it, and a login or a statement may wait for many seconds: every database call of a
// session runs here, one job at a time and in the order posted, on one connection, while the
// window goes on answering. Jobs report back by posting to their caller's thread.

#include "TDbConnection.h"

#include <QThread>
#include <functional>
#include <memory>

class TDbThread {
public:
    TDbThread();
    // Stops the thread (see Stop).
    ~TDbThread();
    TDbThread(const TDbThread&) = delete;
    TDbThread& operator=(const TDbThread&) = delete;

    // Runs work on the database thread with the connection, after every job posted before it.
    // What work throws is lost: a job catches and reports its own failures.
    void Post(std::function<void(TDbConnection& db)> work);

    // The connection, from the owner's thread only while no job is queued or running (its
    // connection string and statement observer are set there, before the job that uses them).
    TDbConnection& Connection() { return *db_; }

    // Waits for the jobs posted so far, closes the connection on its own thread and ends the
    // thread. A statement in flight is not stopped here: a caller that cannot wait for it
    // interrupts it first (TDbConnection::Cancel is safe from any thread).
    void Stop();

private:
    QThread thread_;
    std::unique_ptr<QObject> context_;  // lives on thread_; the jobs are its queued calls
    std::unique_ptr<TDbConnection> db_;
    bool stopped_ = false;
};
