// The unattended run of a schedule in a process that resumed it from its settings file, on
// real installations with a clock the test moves: when the change runs, what it sends, what
// it leaves behind on success and on failure, and that a schedule is applied at most once.

#include "ScheduleGuard.h"
#include "WindowHarness.h"

#include <QDir>
#include <QRegularExpression>

namespace {

// An installation with the program copied into it, entered as the start-up entry enters it.
struct TSite {
    explicit TSite(const QString& app) : db(EnteredInstallation(app)) {}
    std::unique_ptr<TTempInstallation> db;
    QString settings = QDir(db->folder()).filePath(QStringLiteral("Qorvanta.ini"));
    QString executable = QDir(db->folder()).filePath(QStringLiteral("taxas-iva"));
};

// What a schedule leaves on disk, of what exists right now.
QStringList Traces(const TSite& site)
{
    QStringList traces;
    if (QFile::exists(site.settings))
        traces << "settings";
    if (QFile::exists(EntryPath()))
        traces << "entry";
    if (QFile::exists(site.settings + ".lock"))
        traces << "lock";
    if (QFile::exists(site.settings + ".state"))
        traces << "record";
    return traces;
}

// As "Confirmar" leaves it: the settings file and the start-up entry; false when it could
// not be made. A datahora given replaces the stored moment's text.
bool Schedule(const TSite& site, const TChangeRequest& request, const QDateTime& moment, const QString& datahora = {})
{
    ScheduleIn(site.db->folder(), request, moment);
    if (!datahora.isNull()) {
        QString text = QString::fromLatin1(FileBytes(site.settings));
        text.replace(QRegularExpression("DATAHORA=[^\r]*"), "DATAHORA=" + datahora);
        if (!WriteFileBytes(site.settings, text.toLatin1()))
            return false;
    }
    return Traces(site) == QStringList{"settings", "entry"};
}

const QString kInDoubt = QStringLiteral(
    "Uma execução anterior da alteração agendada foi interrompida enquanto a alteração era gravada na base de "
    "dados. Não é possível saber se as taxas de IVA e os preços foram alterados, pelo que a alteração agendada "
    "não será executada. Verifique manualmente as taxas e os preços na aplicação.");

}  // namespace

class ScheduledRunTest : public QObject {
    Q_OBJECT

    TUserFolders user_;
    QDateTime now_;

    // The program as the start-up entry starts it in the site's folder: not shown yet.
    std::unique_ptr<TWindowHarness> Resume(const TSite& site)
    {
        return std::make_unique<TWindowHarness>(
            [&](TmainEnvironment& env) {
                env.settingsFile = site.settings;
                env.executablePath = site.executable;
                env.clock = [this] { return now_; };
            },
            false);
    }

    // A check that found the moment not yet come: armed for a minute, nothing touched.
    void VerifyWaiting(TWindowHarness& h, const TSite& site, const QStringList& statements, const QString& dump)
    {
        QTRY_VERIFY(h.window().Agenda().isActive());
        QCOMPARE(h.window().Agenda().interval(), 60000);
        QVERIFY(h.window().isVisible());
        QCOMPARE(h.window().ActivePage(), int(tabwait));
        QCOMPARE(statements, QStringList());
        QCOMPARE(h.dialogs.texts(), QStringList());
        QCOMPARE(Traces(site), (QStringList{"settings", "entry"}));
        QCOMPARE(site.db->dump(), dump);
    }

private slots:
    void init() { now_ = QDateTime(QDate(2026, 7, 14), QTime(21, 59, 30)); }

    // The change starts at the first check at or after the moment: at once for a moment
    // that passed while the program was not running (or one that cannot be read, which
    // means now), otherwise at the tick that reaches it. A database out of reach then (no
    // data-link file in the working directory) puts the change off without a word, tick
    // after tick, keeping no lock from another process, and it runs at the first tick that
    // reaches the database again. Until then nothing is sent.
    void runsWhenDue_data()
    {
        QTest::addColumn<qint64>("early");  // ms from the first check to the moment
        QTest::addColumn<QString>("datahora");
        QTest::addColumn<QString>("away");  // until the last tick: "udl" the data-link file, "cwd" the folder
        QTest::addColumn<int>("ticks");     // checks that wait
        QTest::newRow("a day late") << qint64(-86400000) << QString() << "" << 0;
        QTest::newRow("exactly on time") << qint64(0) << QString() << "" << 0;
        QTest::newRow("moment unreadable") << qint64(86400000) << "amanhã às dez" << "" << 0;
        QTest::newRow("one second early") << qint64(1000) << QString() << "" << 1;
        QTest::newRow("two minutes early") << qint64(120000) << QString() << "" << 2;
        QTest::newRow("data-link file missing") << qint64(-86400000) << QString() << "udl" << 4;
        QTest::newRow("started from another folder") << qint64(-86400000) << QString() << "cwd" << 4;
    }

    void runsWhenDue()
    {
        QFETCH(qint64, early);
        QFETCH(QString, datahora);
        QFETCH(QString, away);
        QFETCH(int, ticks);
        TSite site("Varlo");
        QVERIFY(Schedule(site, RequestOf("Varlo", "Taxa1=1;anterior=13;nova=23;descricao=Normal;opvenda=1"),
                         now_.addMSecs(early), datahora));
        const QString before = site.db->dump();
        const int moved = site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=13").toInt();
        const int atNewRate = site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=23").toInt();
        QVERIFY(moved > 0);
        const QString udl = QDir(site.db->folder()).filePath("varlo.udl");
        QTemporaryDir elsewhere;
        if (away == "udl")
            QVERIFY(QFile::rename(udl, udl + ".away"));
        else if (away == "cwd")
            QVERIFY(QDir::setCurrent(elsewhere.path()));

        auto h = Resume(site);
        TStatementLog log;
        log.attach(h->window().cn());
        h->window().show();
        for (int tick = 0; tick < ticks; ++tick) {
            VerifyWaiting(*h, site, log.statements, before);
            if (QTest::currentTestFailed())
                return;
            QVERIFY(!h->window().cn().connected());
            if (tick == ticks - 1 && away == "udl")
                QVERIFY(QFile::rename(udl + ".away", udl));
            else if (tick == ticks - 1 && away == "cwd")
                site.db->enter();
            now_ = now_.addSecs(60);
            Tick(h->window());
        }

        QTRY_VERIFY(!h->window().isVisible());
        QVERIFY(!h->window().Agenda().isActive());
        QCOMPARE(h->dialogs.texts(), QStringList());
        QVERIFY(log.statements.size() > 3);
        QCOMPARE(site.db->scalar("SELECT COUNT(*) FROM iva WHERE factor=13").toInt(), 0);
        QCOMPARE(site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=23").toInt(), atNewRate + moved);
        QCOMPARE(Traces(site), QStringList());
    }

    // A statement of row 2 refused by the database: the error report, no later statement,
    // the database as before the run (row 1 undone too), the schedule kept and this process
    // trying no more. The next start runs it whole once the cause is gone, in the scheduled
    // forms of Quibon: the first row inserts a missing rate with id 0 and gives the moved
    // products id 0; a later row leaves the rate's id to the database and clears theirs.
    void failureInRow2()
    {
        TSite site("Quibon");
        site.db->exec("CREATE TRIGGER recusa BEFORE UPDATE OF iva ON produtos WHEN NEW.iva = 9 "
                     "BEGIN SELECT RAISE(ABORT, 'artigo bloqueado pela contabilidade'); END");
        QVERIFY(Schedule(site,
                         RequestOf("Quibon", "Taxa1=1;anterior=6;nova=8;descricao=oito;Taxa2=1;anterior2=13;nova2=9;"
                                             "descricao2=nove;opvenda=1;opcompra=1"),
                         now_.addSecs(-5)));
        const QString before = site.db->dump();

        auto h = Resume(site);
        TStatementLog log;
        log.attach(h->window().cn());
        h->window().show();
        QTRY_COMPARE(h->dialogs.shown.size(), size_t(1));
        QTest::qWait(20);
        QCOMPARE(h->dialogs.shown.size(), size_t(1));
        QCOMPARE(h->dialogs.shown[0].kind, TShownBox::Message);
        QCOMPARE(h->dialogs.shown[0].title, QStringLiteral("Taxas de IVA"));
        QVERIFY2(h->dialogs.shown[0].text.contains("artigo bloqueado pela contabilidade"),
                 qPrintable(h->dialogs.shown[0].text));
        QCOMPARE(log.statements.last(), QStringLiteral("UPDATE produtos SET iva = 9, id = NULL WHERE iva=13"));
        QCOMPARE(site.db->dump(), before);
        QVERIFY(h->window().isVisible());
        QCOMPARE(h->window().ActivePage(), int(tabwait));
        QVERIFY(!h->window().Agenda().isActive());
        QCOMPARE(Traces(site), (QStringList{"settings", "entry"}));

        h->window().close();
        site.db->exec("DROP TRIGGER recusa");
        auto next = Resume(site);
        TStatementLog nextLog;
        nextLog.attach(next->window().cn());
        next->window().show();
        QTRY_VERIFY(!next->window().isVisible());
        QCOMPARE(next->dialogs.texts(), QStringList());
        const QRegularExpression rateForms("^(INSERT INTO iva \\(|UPDATE produtos SET iva = )");
        QCOMPARE(nextLog.statements.filter(rateForms), (QStringList{"INSERT INTO iva (id, codigo, factor) VALUES (0, 8,8)",
                                                                    "UPDATE produtos SET iva = 8, id = 0 WHERE iva=6",
                                                                    "INSERT INTO iva (codigo, factor) VALUES (9,9)",
                                                                    "UPDATE produtos SET iva = 9, id = NULL WHERE iva=13"}));
        QCOMPARE(site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva IN (6, 13)").toInt(), 0);
        QCOMPARE(site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=8 AND id = 0").toInt(),
                 site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=8").toInt());
        QCOMPARE(site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=9 AND id IS NOT NULL").toInt(), 0);
        QCOMPARE(Traces(site), QStringList());
    }

    // Only a hand-edited file can tick no row: nothing is sent, yet the schedule is over.
    void noRowTicked()
    {
        TSite site("Varlo");
        QVERIFY(Schedule(site, RequestOf("Varlo", "anterior=13;nova=23;descricao=Normal"), now_.addSecs(-60)));
        const QString before = site.db->dump();
        auto h = Resume(site);
        TStatementLog log;
        log.attach(h->window().cn());
        h->window().show();
        QTRY_VERIFY(!h->window().isVisible());
        QCOMPARE(log.statements, QStringList());
        QCOMPARE(h->dialogs.texts(), QStringList());
        QCOMPARE(site.db->dump(), before);
        QCOMPARE(Traces(site), QStringList());
    }

    // Two processes waiting on one settings file (the start-up entry's and one started by
    // hand): one makes the change; the other, whether its tick comes during that run or
    // after it, ends without sending anything. A run elsewhere that stopped while
    // committing leaves the waiting process with a warning instead of a second change.
    void twoProcessesOneChange_data()
    {
        QTest::addColumn<QString>("other");
        QTest::newRow("other's tick after the run") << "after";
        QTest::newRow("other's tick during the run") << "during";
        QTest::newRow("a run elsewhere stopped while committing") << "in doubt";
    }

    void twoProcessesOneChange()
    {
        QFETCH(QString, other);
        TSite site("Varlo");
        const QDateTime moment = now_.addSecs(30);
        QVERIFY(Schedule(site, RequestOf("Varlo", "Taxa1=1;anterior=13;nova=23;descricao=Normal;opvenda=1"), moment));
        const QString before = site.db->dump();

        auto first = Resume(site);
        auto second = Resume(site);
        QStringList firstSent;
        TStatementLog secondLog;
        secondLog.attach(second->window().cn());
        bool secondTicked = false;
        first->window().cn().setObserver([&](const QString& statement, TStatementKind) {
            firstSent << statement;
            if (other == "during" && !secondTicked) {
                secondTicked = true;
                OnWindowThread([&] {
                    Tick(second->window());
                    QVERIFY(!second->window().isVisible());
                });
            }
        });
        first->window().show();
        second->window().show();
        QTRY_VERIFY(first->window().Agenda().isActive() && second->window().Agenda().isActive());
        now_ = moment.addSecs(20);

        if (other == "in doubt") {
            TScheduleGuard elsewhere(site.settings);
            QCOMPARE(elsewhere.Claim(), TScheduleGuard::TClaim::Acquired);
            elsewhere.BeforeCommit();
            // and the process dies here, its lock with it
        } else {
            Tick(first->window());
            QTRY_VERIFY(!first->window().isVisible());
            QVERIFY(!firstSent.isEmpty());
            QCOMPARE(first->dialogs.texts(), QStringList());
        }
        const QString after = site.db->dump();
        if (other == "after")
            Tick(second->window());

        if (other == "in doubt") {
            Tick(second->window());
            QTRY_COMPARE(second->dialogs.shown.size(), size_t(1));
            QCOMPARE(second->dialogs.shown[0].title, QStringLiteral("Aviso"));
            QCOMPARE(second->dialogs.shown[0].text, kInDoubt);
            QVERIFY(second->window().isVisible());
            QCOMPARE(second->window().ActivePage(), int(tabwait));
            QVERIFY(!second->window().Agenda().isActive());
            QCOMPARE(site.db->dump(), before);
        } else {
            QTRY_VERIFY(!second->window().isVisible());
            QCOMPARE(second->dialogs.texts(), QStringList());
            QVERIFY(site.db->dump() != before);
            QCOMPARE(Traces(site), QStringList());
        }
        QCOMPARE(secondLog.statements, QStringList());
        QVERIFY(!second->window().cn().connected());
        QCOMPARE(site.db->dump(), after);
    }

    // A settings file still there at a start, as an earlier process left it: after a run
    // that made the change but could not delete the file, nothing runs again and the
    // leftovers go; after a run that stopped while committing, the operator is warned once
    // and the schedule goes too. The conditions page follows, as for any start without a
    // schedule.
    void leftoverAtStart_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("change made, file not deleted") << "done" << QStringList();
        QTest::newRow("stopped while committing") << "committing" << QStringList{kInDoubt};
    }

    void leftoverAtStart()
    {
        QFETCH(QString, record);
        QFETCH(QStringList, messages);
        TSite site("Varlo");
        QVERIFY(Schedule(site, RequestOf("Varlo", "Taxa1=1;anterior=13;nova=23;descricao=Normal;opvenda=1"),
                 now_.addSecs(-60)));
        {
            TScheduleGuard earlier(site.settings);
            QCOMPARE(earlier.Claim(), TScheduleGuard::TClaim::Acquired);
            earlier.BeforeCommit();
            if (record == "done") {
                earlier.AfterCommit();
                earlier.Finish();
            }
        }
        const QString before = site.db->dump();

        auto h = Resume(site);
        TStatementLog log;
        log.attach(h->window().cn());
        QCOMPARE(h->window().ActivePage(), int(tabcondicoes));
        QCOMPARE(h->dialogs.texts(), messages);
        for (const TShownBox& box : h->dialogs.shown)
            QCOMPARE(box.title, QStringLiteral("Aviso"));
        h->show();
        QTest::qWait(50);
        QVERIFY(h->window().isVisible());
        QCOMPARE(h->window().ActivePage(), int(tabcondicoes));
        QVERIFY(!h->window().Agenda().isActive());
        QCOMPARE(log.statements, QStringList());
        QCOMPARE(site.db->dump(), before);
        QCOMPARE(Traces(site), QStringList());
        QCOMPARE(h->dialogs.texts(), messages);
    }
};

QTEST_MAIN(ScheduledRunTest)
#include "ScheduledRunTest.moc"
