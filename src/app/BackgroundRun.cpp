#include "BackgroundRun.h"

#include <QEventLoop>
#include <QThread>
#include <exception>
#include <memory>

TBackgroundRun::TBackgroundRun(const QString& connectionString, TDbConnection::Observer observer)
    : connectionString_(connectionString), observer_(std::move(observer))
{
}

void TBackgroundRun::Run(const std::function<void(TDbConnection& db)>& work)
{
    std::exception_ptr failure;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            auto db = std::make_unique<TDbConnection>();
            db->setConnectionString(connectionString_);
            db->setObserver(observer_);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                db_ = db.get();
                if (cancelled_)
                    db->Cancel();
            }
            try {
                work(*db);
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                db_ = nullptr;
            }
            db.reset();  // closed on the thread that opened it
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }));
    QEventLoop loop;
    // Queued to this thread: the quit is taken by the loop below even when the work ends
    // before the loop has started.
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    thread->start();
    loop.exec();
    thread->wait();
    if (failure)
        std::rethrow_exception(failure);
}

void TBackgroundRun::Cancel()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (db_)
        db_->Cancel();
    released_.notify_all();
}

void TBackgroundRun::HoldCommit()
{
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
}

void TBackgroundRun::ReleaseCommit()
{
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    released_.notify_all();
}

void TBackgroundRun::AwaitCommit()
{
    std::unique_lock<std::mutex> lock(mutex_);
    released_.wait(lock, [this] { return !held_ || cancelled_; });
    if (cancelled_)
        throw TDbCancelled();
}
