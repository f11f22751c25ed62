// The session without a window, on real installations: the states it passes through and what
// it says, for a change now, a refused or failed one, a schedule and its retries; "Cancelar"
// on either side of the commit; a tick while the operator still reads an error; the end of
// the program during a change.

#include "ChangeSession.h"
#include "ShellShortcut.h"
#include "TempInstallation.h"
#include "UserFolders.h"

#include <QtTest>

Q_DECLARE_METATYPE(TChangeRequest)
Q_DECLARE_METATYPE(TCheckPurpose)

namespace {

TChangeRequest Request(const QString& existing = QStringLiteral("13"))
{
    TChangeRequest r;
    r.rows[0] = {true, existing, QStringLiteral("23"), QStringLiteral("23%")};
    r.options.salePrices = true;
    r.app = TAppKind::Varlo;
    return r;
}

// A session on an installation, and everything it says as short lines, in order.
class TWatchedSession : public QObject {
public:
    TWatchedSession() : db(EnteredInstallation())
    {
        if (!WriteFileBytes(dir.filePath("taxas-iva"), QByteArray()))
            qFatal("cannot make the program file");
        session = std::make_unique<TChangeSession>(TSessionEnvironment{
            dir.filePath("Qorvanta.ini"), dir.filePath("taxas-iva"), [this] { return now; }});
        TChangeSession* s = session.get();
        connect(s, &TChangeSession::StateChanged, this, [this](TSessionState state) {
            static const char* const names[] = {"Idle",    "Detecting", "Checking",   "Running", "Cancelling",
                                                "Committing", "Waiting", "Connecting", "Finished"};
            say(QStringLiteral("state ") + names[int(state)]);
        });
        connect(s, &TChangeSession::QuestionAsked, this, [this] {
            say("question");
            session->Answer(answer);
        });
        connect(s, &TChangeSession::Refused, this, [this](const TRefusal& r) { say("refused " + r.text); });
        connect(s, &TChangeSession::Accepted, this, [this] { say("accepted"); });
        connect(s, &TChangeSession::Failed, this, [this](const QString& text) { say("failed " + text); });
        connect(s, &TChangeSession::RunEnded, this,
                [this](const TRunEnd& end) { say(QStringLiteral("ended %1").arg(int(end.outcome))); });
        connect(s, &TChangeSession::AttemptFailed, this,
                [this](const QDateTime&, const QString& reason) { say("attempt failed " + reason); });
        connect(s, &TChangeSession::ScheduleEnded, this,
                [this](TScheduleEnd end) { say(QStringLiteral("schedule ended %1").arg(int(end))); });
    }

    void say(const QString& event)
    {
        events << event;
        if (onEvent)
            onEvent(event);
    }
    bool settled() { return QTest::qWaitFor([&] { return !session->Busy(); }, 30000); }
    bool detect()
    {
        session->Detect(QDir::currentPath());
        return settled() && session->DetectedApp() == TAppKind::Varlo;
    }
    QString record() const { return QString::fromUtf8(FileBytes(dir.filePath("TaxasIVA.log"))); }

    QTemporaryDir dir;
    std::unique_ptr<TTempInstallation> db;
    QDateTime now = QDateTime(QDate(2026, 12, 9), QTime(22, 0));
    std::unique_ptr<TChangeSession> session;
    QStringList events;
    bool answer = true;
    std::function<void(const QString&)> onEvent;
};

const QString kCommitted = QStringLiteral("ended %1").arg(int(TRunOutcome::Committed));
const QString kRolledBack = QStringLiteral("ended %1").arg(int(TRunOutcome::RolledBack));
const QString kCancelled = QStringLiteral("ended %1").arg(int(TRunOutcome::Cancelled));
const QString kDone = QStringLiteral("schedule ended %1").arg(int(TScheduleEnd::Done));

}  // namespace

class ChangeSessionTest : public QObject {
    Q_OBJECT

    TUserFolders user_;

private slots:
    // A change asked for now, or checked for a schedule, from the check to its end: the
    // states passed through and what the operator is told, in order.
    void changeNow_data()
    {
        QTest::addColumn<TChangeRequest>("request");
        QTest::addColumn<bool>("forSchedule");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QStringList>("events");
        const QStringList run = {"question", "state Checking", "state Running"};
        QTest::newRow("made") << Request() << false << true << ""
                              << run + QStringList{"state Committing", "state Idle", kCommitted};
        QTest::newRow("Não at the question") << Request() << false << false << "" << QStringList{"question"};
        QTest::newRow("refused by a look-up")
            << Request("7") << false << true << ""
            << QStringList{"question", "state Checking", "state Idle",
                           "refused Não foi encontrada a primeira taxa existente, por favor indique uma taxa válida!"};
        QTest::newRow("rolled back") << Request() << false << true << RefusedMoveTrigger()
                                     << run + QStringList{"state Idle", kRolledBack};
        QTest::newRow("another copy changing the installation")
            << Request() << false << true << "lock"
            << QStringList{"question", "state Checking", "state Idle", "refused " + TInstallationLock::BusyText()};
        QTest::newRow("accepted for a schedule") << Request() << true << true << ""
                                                 << QStringList{"question", "state Checking", "state Idle", "accepted"};
    }

    void changeNow()
    {
        QFETCH(TChangeRequest, request);
        QFETCH(bool, forSchedule);
        QFETCH(bool, answer);
        QFETCH(QString, trigger);
        QFETCH(QStringList, events);
        TWatchedSession w;
        TInstallationLock other(w.db->folder());
        if (trigger == "lock")
            QVERIFY(other.TryLock(w.now));
        else if (!trigger.isEmpty())
            w.db->exec(trigger);
        QVERIFY(w.detect());
        QCOMPARE(w.events, (QStringList{"state Detecting", "state Idle"}));
        const QString before = w.db->dump();
        w.events.clear();
        w.answer = answer;
        w.session->CheckChangeRequest(request, forSchedule ? TCheckPurpose::Schedule : TCheckPurpose::ChangeNow);
        QVERIFY(w.settled());
        QCOMPARE(w.events, events);
        QCOMPARE(w.db->dump() == before, !events.contains(kCommitted));
    }

    // A schedule due at once is made and removed; one whose run fails is tried again after a
    // while that grows (a tick before it tries nothing), the failure reported once and recorded
    // once with the count of its repetitions, and made then.
    void scheduled_data()
    {
        QTest::addColumn<int>("failures");
        QTest::newRow("made at the first tick") << 0;
        QTest::newRow("refused twice, then made") << 2;
    }

    void scheduled()
    {
        QFETCH(int, failures);
        TWatchedSession w;
        if (failures)
            w.db->exec(RefusedMoveTrigger());
        TChangeRequest request = Request();
        request.moment = w.now.addSecs(-60);
        QCOMPARE(w.session->Schedule(request), QString());
        QVERIFY(QFile::exists(w.dir.filePath("Qorvanta.ini")));
        QStringList expected = {"state Waiting"};
        for (int attempt = 0; attempt <= failures; ++attempt) {
            if (attempt == failures)
                w.db->exec("DROP TRIGGER IF EXISTS recusa");
            if (attempt > 0) {
                w.now = w.now.addSecs(60 * attempt - 1);  // a second before the back-off ends
                w.session->ScheduleTick();
                QVERIFY(w.session->Agenda().isActive());
                w.now = w.now.addSecs(1);
            }
            w.session->ScheduleTick();
            QVERIFY(w.settled());
            expected << "state Connecting" << "state Running";
            if (attempt < failures) {
                expected << "state Waiting" << "attempt failed [SQLite]artigo bloqueado (19)";
                if (attempt == 0)
                    expected << "failed [SQLite]artigo bloqueado (19)";
                QVERIFY(w.session->Agenda().isActive());
            }
        }
        expected << "state Committing" << "state Finished" << kDone;
        QCOMPARE(w.events, expected);
        const QString record = w.record();
        QCOMPARE(record.count("== Início "), failures ? 2 : 1);
        QCOMPARE(record.contains("Tentativas seguintes com o mesmo resultado: 1; a última em 2026-12-09 22:01:00"),
                 failures == 2);
        QCOMPARE(w.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=13").toInt(), 0);
        QVERIFY(!QFile::exists(w.dir.filePath("Qorvanta.ini")));
        QVERIFY(!QFile::exists(QString::fromStdString(ShellShortcutPath(kStartupFolder, "Qorvanta"))));
    }

    // "Cancelar" before the commit point stops the statement in flight and rolls the change
    // back; once the commit has begun it is refused, and the change is made as the operator
    // is then told.
    void cancel_data()
    {
        QTest::addColumn<bool>("beforeCommit");
        QTest::addColumn<TCheckPurpose>("purpose");
        QTest::newRow("mid-statement") << true << TCheckPurpose::ChangeNow;
        QTest::newRow("at the commit") << false << TCheckPurpose::ChangeNow;
        QTest::newRow("a simulation, mid-statement") << true << TCheckPurpose::Simulation;
    }

    void cancel()
    {
        QFETCH(bool, beforeCommit);
        QFETCH(TCheckPurpose, purpose);
        TWatchedSession w;
        if (beforeCommit)
            w.db->exec(SlowPricesTrigger());
        QVERIFY(w.detect());
        const QString before = w.db->dump();
        QList<TCancelAnswer> answers;
        if (beforeCommit) {
            w.session->Connection().setObserver([&](const QString& statement, TStatementKind) {
                if (statement.startsWith("UPDATE produtos SET precovenda"))  // on the database thread
                    QTimer::singleShot(200, w.session.get(), [&] { answers << w.session->Cancel(); });
            });
        } else {
            w.onEvent = [&](const QString& event) {
                if (event == "state Committing")
                    answers << w.session->Cancel();
            };
        }
        w.session->CheckChangeRequest(Request(), purpose);
        QVERIFY(w.settled());
        answers << w.session->Cancel();
        if (beforeCommit) {
            QCOMPARE(answers, (QList<TCancelAnswer>{TCancelAnswer::Stopping, TCancelAnswer::NotRunning}));
            QCOMPARE(w.events.mid(w.events.size() - 3), (QStringList{"state Cancelling", "state Idle", kCancelled}));
            QCOMPARE(w.db->dump(), before);
            QVERIFY(w.record().contains("Resultado: cancelada pelo operador"));
            // The connection is usable again: the next change runs whole.
            w.db->exec("DROP TRIGGER lento");
            w.session->Connection().setObserver(nullptr);
            w.session->CheckChangeRequest(Request(), TCheckPurpose::ChangeNow);
            QVERIFY(w.settled());
            QCOMPARE(w.events.last(), kCommitted);
        } else {
            QCOMPARE(answers, (QList<TCancelAnswer>{TCancelAnswer::Committing, TCancelAnswer::Committed}));
            QCOMPARE(w.events.last(), kCommitted);
            QCOMPARE(w.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=13").toInt(), 0);
        }
    }

    // The report of a failed attempt is a modal box, whose own event loop goes on delivering
    // the ticks: a later attempt runs while it is open, and its success ends the schedule.
    void tickWhileTheErrorIsRead()
    {
        TWatchedSession w;
        w.db->exec(RefusedMoveTrigger());
        TChangeRequest request = Request();
        request.moment = w.now;
        w.session->Schedule(request);
        bool endedInsideTheBox = false;
        w.onEvent = [&](const QString& event) {
            if (!event.startsWith("failed "))
                return;
            w.db->exec("DROP TRIGGER recusa");
            w.now = w.now.addSecs(60);
            w.session->ScheduleTick();
            endedInsideTheBox = QTest::qWaitFor([&] { return w.events.contains(kDone); }, 30000);
        };
        w.session->ScheduleTick();
        QVERIFY(QTest::qWaitFor([&] { return w.events.contains(kDone); }, 30000));
        QVERIFY(endedInsideTheBox);
        QCOMPARE(w.events.filter("failed ").size(), 2);  // the attempt's line and the one report
    }

    // The event loop ends during a change (the end of the operating system's session): the
    // statement in flight is interrupted, the change rolled back, the record says so, and
    // nothing waits for ever.
    void quitDuringAChange()
    {
        TWatchedSession w;
        w.db->exec(SlowPricesTrigger());
        QVERIFY(w.detect());
        const QString before = w.db->dump();
        w.session->Connection().setObserver([](const QString& statement, TStatementKind) {
            if (statement.startsWith("UPDATE produtos SET precovenda"))
                QTimer::singleShot(200, qApp, &QCoreApplication::quit);
        });
        w.session->CheckChangeRequest(Request(), TCheckPurpose::ChangeNow);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { qFatal("the end of the program did not stop the change"); });
        watchdog.start(20000);
        QCoreApplication::exec();
        watchdog.stop();
        QVERIFY(!w.session->ChangeUnderWay());
        QCOMPARE(w.db->dump(), before);
        QVERIFY2(w.record().contains("Resultado: interrompida (o programa foi terminado durante a alteração; "
                                     "nada foi alterado)"),
                 qPrintable(w.record()));
    }
};

QTEST_GUILESS_MAIN(ChangeSessionTest)
#include "ChangeSessionTest.moc"
