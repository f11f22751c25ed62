#include "DbThread.h"

#include <QMetaObject>

TDbThread::TDbThread() : context_(std::make_unique<QObject>()), db_(std::make_unique<TDbConnection>())
{
    thread_.setObjectName(QStringLiteral("taxas-db"));
    context_->moveToThread(&thread_);
    thread_.start();
}

TDbThread::~TDbThread()
{
    Stop();
}

void TDbThread::Post(std::function<void(TDbConnection& db)> work)
{
    if (stopped_)
        return;
    QMetaObject::invokeMethod(
        context_.get(),
        [this, work = std::move(work)] {
            try {
                work(*db_);
            } catch (...) {
            }
        },
        Qt::QueuedConnection);
}

void TDbThread::Stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    // Queued behind every job: the connection closes once they are done, on the thread that
    // opened it, as Qt SQL requires.
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            try {
                db_->setConnected(false);
            } catch (...) {
            }
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}
