// A schedule applied at most once: across processes (a live one and one that died), across
// starts (a settings file that outlived its run) and across a crash while committing.
//
// Started with "--hold <settings> <folder> <stage>" the test program is itself the other
// process: it claims, goes as far as the stage, says how it went and waits to be killed.

#include "ScheduleGuard.h"
#include "TempInstallation.h"
#include <QtTest>
#include <cstdio>
#include <thread>

namespace {

using TStart = TScheduleGuard::TStart;
using TClaim = TScheduleGuard::TClaim;

int Hold(const QString& settings, const QString& folder, const QString& stage) {
    TScheduleGuard guard(settings, folder);
    const TClaim claim = guard.Claim();
    if (claim == TClaim::Acquired && stage == "committing") guard.BeforeCommit();
    std::printf("%d\n", static_cast<int>(claim));
    std::fflush(stdout);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// One successful run, as the window makes it.
void Run(TScheduleGuard& guard, const QString& settings, bool fileDeleted) {
    QCOMPARE(guard.Claim(), TClaim::Acquired);
    guard.BeforeCommit();
    guard.AfterCommit();
    if (fileDeleted) QFile::remove(settings);
    guard.Finish();
}

}  // namespace

Q_DECLARE_METATYPE(TScheduleGuard::TStart)
Q_DECLARE_METATYPE(TScheduleGuard::TClaim)

class ScheduleGuardTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString settings_, fallback_;
    QDateTime now_ = QDateTime::currentDateTime();

    std::unique_ptr<TScheduleGuard> guard() {
        return std::make_unique<TScheduleGuard>(settings_, fallback_, [this] { return now_; });
    }

    // Another process of the program, holding the claim until it is killed.
    std::unique_ptr<QProcess> other(const QString& stage) {
        auto p = std::make_unique<QProcess>();
        p->start(QCoreApplication::applicationFilePath(), {"--hold", settings_, fallback_, stage});
        [&] {
            QVERIFY(p->waitForReadyRead(10000));
            QCOMPARE(p->readLine().trimmed().toInt(), static_cast<int>(TClaim::Acquired));
        }();
        return p;
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        settings_ = dir_->filePath("Qorvanta.ini");
        fallback_ = dir_->filePath("per-user");
        QVERIFY(WriteFileBytes(settings_, "[OPCOES]\r\nANTERIOR=23\r\n"));
    }
    void secondClaimInProcessIsBusy() {
        auto first = guard(), second = guard();
        QCOMPARE(first->Claim(), TClaim::Acquired);
        QCOMPARE(second->Claim(), TClaim::Busy);
        first->Release();
        QCOMPARE(second->Claim(), TClaim::Acquired);
    }

    // Another process with the claim is busy while it lives. Dead before its commit, it
    // leaves the schedule pending and its stale lock is taken over; dead while committing,
    // it leaves the schedule in doubt, never run again on its own.
    void otherProcess_data() {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<TStart>("atStart");
        QTest::addColumn<TClaim>("atDueCheck");
        QTest::addRow("claimed") << "claimed" << TStart::Pending << TClaim::Acquired;
        QTest::addRow("committing") << "committing" << TStart::InDoubt << TClaim::InDoubt;
    }
    void otherProcess() {
        QFETCH(QString, stage);
        QFETCH(TStart, atStart);
        QFETCH(TClaim, atDueCheck);
        auto p = other(stage);
        now_ = now_.addDays(1);  // a live owner's lock is never too old
        QCOMPARE(guard()->Claim(), TClaim::Busy);
        QCOMPARE(guard()->Inspect(), TStart::Pending);  // still running: that process settles it
        p->kill();
        p->waitForFinished(10000);
        QVERIFY(QFileInfo::exists(settings_ + ".lock"));
        QCOMPARE(guard()->Inspect(), atStart);
        QCOMPARE(guard()->Claim(), atDueCheck);
    }

    void outcomes_data() {
        QTest::addColumn<QString>("story");
        QTest::addColumn<TStart>("atStart");
        QTest::addColumn<TClaim>("atDueCheck");
        QTest::addRow("never run") << "" << TStart::Pending << TClaim::Acquired;
        QTest::addRow("run failed before commit") << "claim release" << TStart::Pending << TClaim::Acquired;
        QTest::addRow("commit failed, outcome unknown") << "claim before release" << TStart::InDoubt << TClaim::InDoubt;
        QTest::addRow("commit refused and rolled back") << "claim before undone release" << TStart::Pending
                                                        << TClaim::Acquired;
        QTest::addRow("crash after commit") << "claim before after" << TStart::CompletedLeftover << TClaim::AlreadyDone;
        QTest::addRow("file could not be deleted") << "run" << TStart::CompletedLeftover << TClaim::AlreadyDone;
        QTest::addRow("file deleted") << "run delete" << TStart::CompletedLeftover << TClaim::AlreadyDone;
        QTest::addRow("new schedule after a done one") << "run rewrite" << TStart::Pending << TClaim::Acquired;
        QTest::addRow("same schedule confirmed again") << "run confirm" << TStart::Pending << TClaim::Acquired;
        QTest::addRow("in doubt, then confirmed again") << "claim before release confirm" << TStart::Pending
                                                        << TClaim::Acquired;
        QTest::addRow("lock emptied 4:59 ago") << "emptied:299" << TStart::Pending << TClaim::LockUnreadable;
        QTest::addRow("lock emptied 5:00 ago") << "emptied:300" << TStart::Pending << TClaim::Acquired;
        QTest::addRow("in doubt, lock emptied 4:59 ago") << "claim before emptied:299" << TStart::Pending
                                                         << TClaim::LockUnreadable;
        QTest::addRow("in doubt, lock emptied 5:00 ago") << "claim before emptied:300" << TStart::InDoubt
                                                         << TClaim::InDoubt;
    }
    void outcomes() {
        QFETCH(QString, story);
        QFETCH(TStart, atStart);
        QFETCH(TClaim, atDueCheck);
        {
            auto g = guard();
            for (const QString& step : story.split(' ', Qt::SkipEmptyParts)) {
                if (step == "claim") QCOMPARE(g->Claim(), TClaim::Acquired);
                if (step == "before") g->BeforeCommit();
                if (step == "after") g->AfterCommit();
                if (step == "undone") g->CommitRolledBack();
                if (step == "release") g->Release();
                if (step == "run") Run(*g, settings_, false);
                if (step == "delete") QFile::remove(settings_);
                if (step == "rewrite") QVERIFY(WriteFileBytes(settings_, "[OPCOES]\r\nANTERIOR=6\r\n"));
                if (step == "confirm") {
                    QVERIFY(WriteFileBytes(settings_, "[OPCOES]\r\nANTERIOR=23\r\n"));
                    g->NewSchedule();
                }
            }
        }  // the process ends (or crashes) here
        QFile lock(settings_ + ".lock");
        if (story.contains("emptied:")) {  // by a power cut while it was written, seconds before now
            now_ = QDateTime(QDate(2026, 3, 14), QTime(22, 0));
            QVERIFY(lock.open(QIODevice::WriteOnly));
            QVERIFY(lock.setFileTime(now_.addSecs(-story.section(':', -1).toInt()), QFile::FileModificationTime));
        }
        auto next = guard();
        QCOMPARE(next->Inspect(), atStart);
        QCOMPARE(next->Claim(), atDueCheck);
        if (atDueCheck == TClaim::LockUnreadable)
            QCOMPARE(next->unreadableLock().text, "O ficheiro de bloqueio " + QDir::toNativeSeparators(lock.fileName())
                     + " não indica que programa o criou; será considerado abandonado às 22:00.");
    }

    // Two processes waiting on one file: whichever checks second finds the change made.
    void secondWaiterFindsItDone_data() {
        QTest::addColumn<bool>("fileDeleted");
        QTest::addRow("file deleted") << true;
        QTest::addRow("file left behind") << false;
    }
    void secondWaiterFindsItDone() {
        QFETCH(bool, fileDeleted);
        auto first = guard(), second = guard();
        QCOMPARE(first->Inspect(), TStart::Pending);
        QCOMPARE(second->Inspect(), TStart::Pending);
        Run(*first, settings_, fileDeleted);
        QCOMPARE(second->Claim(), TClaim::AlreadyDone);
        QVERIFY(!QFileInfo::exists(settings_ + ".lock"));
        QCOMPARE(QFileInfo::exists(settings_ + ".state"), !fileDeleted);
    }

    // The process waits on what it loaded; a file since replaced is not its schedule.
    void replacedWhileWaiting() {
        auto waiting = guard();
        QCOMPARE(waiting->Inspect(), TStart::Pending);
        QVERIFY(WriteFileBytes(settings_, "[OPCOES]\r\nANTERIOR=13\r\n"));
        QCOMPARE(waiting->Claim(), TClaim::AlreadyDone);
        QCOMPARE(guard()->Claim(), TClaim::Acquired);
    }

    // Where the settings folder cannot take the record, the per-user folder does, and a
    // later start still finds it.
    void recordInPerUserFolder() {
        QVERIFY(QDir().mkpath(settings_ + ".state"));  // a folder in its place: writes fail
        Run(*guard(), settings_, false);
        QVERIFY(!QDir(fallback_).entryList({"*.state"}, QDir::Files).isEmpty());
        QCOMPARE(guard()->Inspect(), TStart::CompletedLeftover);
    }

    void recordThatCannotBeWrittenStopsTheCommit() {
        QVERIFY(QDir().mkpath(settings_ + ".state"));
        QVERIFY(WriteFileBytes(dir_->filePath("file"), "x"));
        fallback_ = dir_->filePath("file/per-user");  // beneath a file: cannot be made
        auto g = guard();
        QCOMPARE(g->Claim(), TClaim::Acquired);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, g->BeforeCommit());
        g->Release();
        QCOMPARE(guard()->Inspect(), TStart::Pending);  // rolled back: safe to retry
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "--hold") return Hold(argv[2], argv[3], argv[4]);
    ScheduleGuardTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "ScheduleGuardTest.moc"
