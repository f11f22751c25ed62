// The unattended run of a schedule in a process that resumed it from its settings file, on
// real installations with a clock the test moves: when the change runs, what it sends, what
// it leaves behind on success and on failure, and that a schedule is applied at most once.

#include "ScheduleGuard.h"
#include "WindowHarness.h"

#include <QDir>
#include <QLabel>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <csignal>
#include <sys/resource.h>

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
    if (QFileInfo(site.settings + ".lock").isFile())
        traces << "lock";
    if (QFile::exists(site.settings + ".state"))
        traces << "record";
    if (QFileInfo(site.settings + ".duvida").isFile())
        traces << "copy";
    return traces;
}

// As "Confirmar" leaves it: the settings file and the start-up entry; false when it could
// not be made. A line "KEY=value" given replaces that key's stored line, as a hand edit would.
bool Schedule(const TSite& site, const TChangeRequest& request, const QDateTime& moment, const QString& edited = {})
{
    ScheduleIn(site.db->folder(), request, moment);
    if (!edited.isNull()) {
        QString text = QString::fromLatin1(FileBytes(site.settings));
        text.replace(QRegularExpression("\n" + edited.section('=', 0, 0) + "=[^\r]*"), "\n" + edited);
        if (!WriteFileBytes(site.settings, text.toLatin1()))
            return false;
    }
    return Traces(site) == QStringList{"settings", "entry"};
}

// The warning about a schedule in doubt, and where its copy is kept beside its settings file.
QString InDoubt(const TSite& site, bool copied = true)
{
    const QString warning = QStringLiteral(
        "Uma execução anterior da alteração agendada foi interrompida enquanto a alteração era gravada na base de "
        "dados. Não é possível saber se as taxas de IVA e os preços foram alterados, pelo que a alteração agendada "
        "não será executada. Verifique manualmente as taxas e os preços na aplicação.");
    if (!copied)
        return warning;
    return warning + " A alteração agendada ficou guardada em " + QDir::toNativeSeparators(site.settings) + ".duvida.";
}

// The text under the wait label after a failed attempt at the due moment.
QString LastFailure(const QDateTime& when, const QString& reason)
{
    return QStringLiteral("A última tentativa, em %1 às %2, falhou: %3")
        .arg(QLocale().toString(when.date(), QLocale::ShortFormat), when.toString("HH:mm"), reason);
}

const char kVarloRequest[] = "Taxa1=1;anterior=13;nova=23;descricao=Normal;opvenda=1";

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

    // A check that found the moment not yet come, or could not make the change: armed for a
    // minute, nothing touched, no box; the wait page says why when it failed.
    void VerifyWaiting(TWindowHarness& h, const TSite& site, const QStringList& statements, const QString& dump,
                       const QString& failure = QString())
    {
        QTRY_VERIFY(h.window().Agenda().isActive());
        QCOMPARE(h.window().Agenda().interval(), 60000);
        QVERIFY(h.window().isVisible());
        QCOMPARE(h.window().ActivePage(), int(tabwait));
        QCOMPARE(statements, QStringList());
        QCOMPARE(h.dialogs.texts(), QStringList());
        QCOMPARE(Traces(site), (QStringList{"settings", "entry"}));
        if (!dump.isNull())  // null while the database is away
            QCOMPARE(site.db->dump(), dump);
        const QString line = h.child<QLabel>("ultimafalha")->text();
        if (failure.isEmpty())
            QCOMPARE(line, QString());
        else
            QVERIFY2(line.startsWith(LastFailure(now_, QString())) && line.contains(failure), qPrintable(line));
    }

private slots:
    void init() { now_ = QDateTime(QDate(2026, 7, 14), QTime(21, 59, 30)); }

    // The change starts at the first check at or after the moment: at once for a moment
    // that passed while the program was not running, otherwise at the tick that reaches it.
    // Something out of reach then (no data-link file in the working directory, no database,
    // a settings file that cannot be read for the moment) puts the change off without a box,
    // tick after tick, keeping no lock from another process; the wait page says why, and the
    // change runs at the first tick that finds everything again. Until then nothing is sent.
    void runsWhenDue_data()
    {
        QTest::addColumn<qint64>("early");  // ms from the first check to the moment
        QTest::addColumn<QString>("away");  // until the last tick: "udl", "cwd", "database", "settings"
        QTest::addColumn<int>("ticks");     // checks that wait
        QTest::newRow("a day late") << qint64(-86400000) << "" << 0;
        QTest::newRow("exactly on time") << qint64(0) << "" << 0;
        QTest::newRow("one second early") << qint64(1000) << "" << 1;
        QTest::newRow("two minutes early") << qint64(120000) << "" << 2;
        QTest::newRow("data-link file missing") << qint64(-86400000) << "udl" << 4;
        QTest::newRow("started from another folder") << qint64(-86400000) << "cwd" << 4;
        QTest::newRow("database file missing") << qint64(-86400000) << "database" << 2;
        QTest::newRow("settings file out of reach") << qint64(-86400000) << "settings" << 2;
    }

    void runsWhenDue()
    {
        QFETCH(qint64, early);
        QFETCH(QString, away);
        QFETCH(int, ticks);
        TSite site("Varlo");
        QVERIFY(Schedule(site, RequestOf("Varlo", kVarloRequest), now_.addMSecs(early)));
        const QString before = site.db->dump();
        const int moved = site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=13").toInt();
        const int atNewRate = site.db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=23").toInt();
        QVERIFY(moved > 0);
        const QString udl = QDir(site.db->folder()).filePath("varlo.udl");
        const QString database = site.db->databaseFile();
        QTemporaryDir elsewhere;
        const QMap<QString, QString> failures = {
            {"udl", QString::fromUtf8("O ficheiro de ligação à base de dados")},
            {"cwd", QString::fromUtf8("O ficheiro de ligação à base de dados")},
            {"database", QString::fromUtf8("Não foi possível abrir a base de dados ") + database + '.'},
            {"settings", QString::fromUtf8("Não foi possível ler o ficheiro ") + QDir::toNativeSeparators(site.settings) + '.'}};
        auto h = Resume(site);  // reads the settings file
        if (away == "udl")
            QVERIFY(QFile::rename(udl, udl + ".away"));
        else if (away == "cwd")
            QVERIFY(QDir::setCurrent(elsewhere.path()));
        else if (away == "database")
            QVERIFY(QFile::rename(database, database + ".away"));
        else if (away == "settings")
            QVERIFY(QFile::rename(site.settings, site.settings + ".away") && QDir().mkdir(site.settings));

        TStatementLog log;
        log.attach(h->window().cn());
        h->window().show();
        for (int tick = 0; tick < ticks; ++tick) {
            VerifyWaiting(*h, site, log.statements, away == "database" ? QString() : before,
                          away.isEmpty() ? QString() : failures[away]);
            if (QTest::currentTestFailed())
                return;
            QVERIFY(!h->window().cn().connected());
            if (tick == ticks - 1 && away == "udl")
                QVERIFY(QFile::rename(udl + ".away", udl));
            else if (tick == ticks - 1 && away == "cwd")
                site.db->enter();
            else if (tick == ticks - 1 && away == "database")
                QVERIFY(QFile::rename(database + ".away", database));
            else if (tick == ticks - 1 && away == "settings")
                QVERIFY(QDir().rmdir(site.settings) && QFile::rename(site.settings + ".away", site.settings));
            // A failed attempt is tried again after a while that grows to 15 minutes.
            now_ = now_.addSecs(away.isEmpty() ? 60 : 15 * 60);
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

    // A stored request that the window could not have confirmed is refused when the program
    // starts: a box names the key and the value and says nothing was changed; nothing is sent,
    // and the settings file and the start-up entry stay for the operator to mend or remove.
    // The program goes on as a start without a schedule.
    void refusedAtStart_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("reason");
        QTest::newRow("moment unreadable") << "DATAHORA" << "31/02/2099 10:00:00"
                                           << QString::fromUtf8("DATAHORA '31/02/2099 10:00:00' não é uma data válida.");
        QTest::newRow("new rate too long") << "NOVA" << "100" << "NOVA '100' tem mais de 2 caracteres.";
        QTest::newRow("another application than the one installed")
            << "APLICACAO" << "quibon" << QString::fromUtf8("APLICACAO 'Quibon' não é a aplicação instalada nesta pasta (Varlo).");
        QTest::newRow("whole euros") << "CASAS" << "0"
                                     << QString::fromUtf8("CASAS '0': O número de casas de arredondamento deve estar "
                                                          "compreendido entre \"2\" e \"4\"!");
    }

    void refusedAtStart()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, reason);
        TSite site("Varlo");
        QVERIFY(Schedule(site, RequestOf("Varlo", QString(kVarloRequest) + ";oparredondar=1;casas=2"),
                         now_.addSecs(-60), key + '=' + value));
        const QByteArray stored = FileBytes(site.settings);
        const QString before = site.db->dump();

        auto h = Resume(site);
        TStatementLog log;
        log.attach(h->window().cn());
        h->show();
        QTest::qWait(50);
        const std::vector<TShownBox> expected = {
            {TShownBox::Message,
             reason + QString::fromUtf8("\n\nA alteração agendada no ficheiro ") + QDir::toNativeSeparators(site.settings)
                 + QString::fromUtf8(" não foi executada e nada foi alterado na base de dados. Corrija ou apague esse "
                                     "ficheiro."),
             "Aviso"}};
        QCOMPARE(h->dialogs.shown, expected);
        QCOMPARE(h->window().ActivePage(), int(tabcondicoes));
        QVERIFY(!h->window().Agenda().isActive());
        QCOMPARE(log.statements, QStringList());
        QCOMPARE(site.db->dump(), before);
        QCOMPARE(Traces(site), (QStringList{"settings", "entry"}));
        QCOMPARE(FileBytes(site.settings), stored);
    }

    // A run that fails is undone whole and tried again at each later tick, whatever made it
    // fail: a statement refused, or the commit itself (a reader's lock, a file size limit),
    // which is no doubt about the change since the rollback undid it. The error report comes
    // once and does not hold the retries up; the wait page shows the last failure. Once the
    // cause is gone the next tick runs the change whole, in the scheduled forms of Quibon:
    // the first row inserts a missing rate with id 0 and gives the moved products id 0; a
    // later row leaves the rate's id to the database and clears theirs.
    void failedRunIsRetried_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("errorText");
        QTest::addColumn<int>("ticksHeld");  // later ticks that still meet the cause
        QTest::addColumn<QString>("lastSent");
        const QString last = "UPDATE configpostos SET valor = '9' WHERE (chave = 'IVA AO BALCAO') AND (valor = '13')";
        QTest::newRow("a statement of row 2 refused") << "trigger" << "artigo bloqueado pela contabilidade" << 1
                                                      << "UPDATE produtos SET iva = 9, id = NULL WHERE iva=13";
        QTest::newRow("a reader's lock at the commit, across one tick") << "reader" << "database is locked" << 1 << last;
        QTest::newRow("a file size limit at the commit") << "size" << "disk I/O error" << 0 << last;
    }

    void failedRunIsRetried()
    {
        QFETCH(QString, cause);
        QFETCH(QString, errorText);
        QFETCH(int, ticksHeld);
        QFETCH(QString, lastSent);
        TSite site("Quibon");
        site.db->setLockTimeout(100);
        if (cause == "trigger")
            site.db->exec(RefusedMoveTrigger(9, "artigo bloqueado pela contabilidade"));
        if (cause == "size") {
            // Whole prices take a byte or two on disk, divided ones eight: the commit grows the
            // file past the limit, as on a disk that is nearly full.
            site.db->exec("UPDATE produtos SET precovenda = 1, precomeia = 1, precocompra = 1");
            site.db->exec("VACUUM");
        }
        QVERIFY(Schedule(site,
                         RequestOf("Quibon", "Taxa1=1;anterior=6;nova=8;descricao=oito;Taxa2=1;anterior2=13;nova2=9;"
                                             "descricao2=nove;opvenda=1;opcompra=1"),
                         now_.addSecs(-5)));
        const QString before = site.db->dump();

        QSqlDatabase reader = QSqlDatabase::addDatabase("QODBC", "reader");
        reader.setDatabaseName(SqliteOdbcConnectionString(site.db->databaseFile(), false));
        QVERIFY(reader.open());
        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        bool held = true;
        auto h = Resume(site);
        QStringList sent;
        h->window().cn().setObserver([&](const QString& statement, TStatementKind) {
            sent << statement;
            if (held && cause == "reader" && sent.size() == 1) {
                OnWindowThread([&] {  // where the reader's connection was made
                    reader.transaction();
                    QSqlQuery(reader).exec("SELECT COUNT(*) FROM iva");
                });
            }
            if (held && cause == "size"
                && statement == lastSent) {
                rlimit small = unlimited;
                small.rlim_cur = QFileInfo(site.db->databaseFile()).size();
                setrlimit(RLIMIT_FSIZE, &small);
            }
        });
        h->window().show();
        QTRY_COMPARE(h->dialogs.shown.size(), size_t(1));
        setrlimit(RLIMIT_FSIZE, &unlimited);
        std::signal(SIGXFSZ, handler);
        QCOMPARE(h->dialogs.shown[0].title, QStringLiteral("Taxas de IVA"));
        QVERIFY2(h->dialogs.shown[0].text.contains(errorText), qPrintable(h->dialogs.shown[0].text));
        // Every statement went (the reads of the after-image follow the last): the commit failed.
        while (sent.last().contains(QLatin1String("UPDLOCK")))
            sent.removeLast();
        QCOMPARE(sent.last(), lastSent);

        for (int tick = 0; tick <= ticksHeld; ++tick) {
            QCOMPARE(site.db->dump(), before);
            QVERIFY(h->window().isVisible());
            QCOMPARE(h->window().ActivePage(), int(tabwait));
            QVERIFY(h->window().Agenda().isActive());
            QCOMPARE(Traces(site), (QStringList{"settings", "entry"}));
            const QString line = h->child<QLabel>("ultimafalha")->text();
            QVERIFY2(line.startsWith(LastFailure(now_, QString())) && line.contains(errorText), qPrintable(line));
            if (tick == ticksHeld) {
                held = false;
                reader.rollback();
                site.db->exec("DROP TRIGGER IF EXISTS recusa");
            }
            now_ = now_.addSecs(15 * 60);
            sent.clear();
            Tick(h->window());
        }
        QTRY_VERIFY(!h->window().isVisible());
        reader.close();
        reader = QSqlDatabase();
        QSqlDatabase::removeDatabase("reader");

        QCOMPARE(h->dialogs.shown.size(), size_t(1));
        const QRegularExpression rateForms("^(INSERT INTO iva \\(|UPDATE produtos SET iva = )");
        QCOMPARE(sent.filter(rateForms), (QStringList{"INSERT INTO iva (id, codigo, factor) VALUES (0, 8,8)",
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
        QVERIFY(Schedule(site, RequestOf("Varlo", kVarloRequest), moment));
        const QString before = site.db->dump();
        const QByteArray stored = FileBytes(site.settings);

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
            QCOMPARE(second->dialogs.shown[0].text, InDoubt(site));
            // Dropped at once, a copy kept to show what was scheduled; the program goes on from
            // detection, as this process never opened the installation.
            QVERIFY(second->window().isVisible());
            QCOMPARE(second->window().ActivePage(), int(tabsoftware));
            QVERIFY(!second->window().Agenda().isActive());
            QCOMPARE(site.db->dump(), before);
            QCOMPARE(Traces(site), QStringList{"copy"});
            QCOMPARE(FileBytes(site.settings + ".duvida"), stored);
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

    // A run killed in its commit is settled from its images at the next start: the database as
    // the run left it means the commit happened (nothing runs again, the record says so);
    // as the run found it, that it did not (the schedule runs at the next tick); anything
    // else stays in doubt, with the warning of a schedule in doubt.
    void doubtSettledByImages_data()
    {
        QTest::addColumn<QString>("database");
        QTest::newRow("as the run left it") << "after";
        QTest::newRow("as the run found it") << "before";
        QTest::newRow("a product changed since") << "changed";
    }

    void doubtSettledByImages()
    {
        QFETCH(QString, database);
        TSite site("Varlo");
        QVERIFY(Schedule(site, RequestOf("Varlo", kVarloRequest), now_.addSecs(-60)));
        const QByteArray stored = FileBytes(site.settings);
        const QString before = site.db->dump();
        const QByteArray beforeBytes = FileBytes(site.db->databaseFile());
        auto made = Resume(site);
        made->window().show();
        QTRY_VERIFY(!made->window().isVisible());
        const QString after = site.db->dump();
        const QString log = QFileInfo(site.settings).dir().filePath("TaxasIVA.log");
        const QString runId = QRegularExpression("== Início (\\S+) ==").match(QString::fromUtf8(FileBytes(log))).captured(1);

        // What a process killed in the commit leaves: the schedule, its record "committing".
        QVERIFY(WriteFileBytes(site.settings, stored));
        {
            TScheduleGuard killed(site.settings);
            QCOMPARE(killed.Claim(), TScheduleGuard::TClaim::Acquired);
            killed.BeforeCommit(runId);
        }
        if (database == "before")
            QVERIFY(WriteFileBytes(site.db->databaseFile(), beforeBytes));
        else if (database == "changed")
            site.db->exec("UPDATE produtos SET precovenda = 99 WHERE codigo = (SELECT MIN(codigo) FROM produtos WHERE iva = 23)");
        const QString found = site.db->dump();

        auto h = Resume(site);
        h->window().show();
        if (database == "changed") {
            QTRY_COMPARE(h->dialogs.texts(), QStringList{InDoubt(site)});
            QCOMPARE(site.db->dump(), found);
            return;
        }
        if (database == "before") {
            QTRY_VERIFY(h->window().Agenda().isActive());
            QCOMPARE(site.db->dump(), before);
            now_ = now_.addSecs(60);
            Tick(h->window());
        }
        QTRY_VERIFY(!h->window().isVisible());
        QCOMPARE(h->dialogs.texts(), QStringList());
        QCOMPARE(site.db->dump(), after);
        QVERIFY(!QFile::exists(site.settings));
        const QString record = QString::fromUtf8(FileBytes(log));
        const QString verdict = "== Verificação " + runId + " ==\r\nVerificada: ";
        QVERIFY2(record.contains(verdict), qPrintable(record));
        QVERIFY2(record.mid(record.indexOf(verdict)).section("\r\n", 2, 2).startsWith(
                     database == "after" ? "Resultado: confirmada" : "Resultado: anulada"),
                 qPrintable(record));
    }

    // A settings file still there at a start, as an earlier process left it: after a run
    // that made the change but could not delete the file, nothing runs again and the
    // leftovers go; after a run that stopped while committing, the operator is warned once
    // and the schedule goes too, but for a copy of its file (without which it all stays,
    // and the next start warns again). The conditions page follows, as for any start
    // without a schedule.
    void leftoverAtStart_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("change made, file not deleted") << "done" << QStringList();
        QTest::newRow("stopped while committing") << "committing" << QStringList{"copy"};
        QTest::newRow("stopped while committing, no room for the copy")
            << "committing" << QStringList{"settings", "entry", "record"};
    }

    void leftoverAtStart()
    {
        QFETCH(QString, record);
        QFETCH(QStringList, left);
        TSite site("Varlo");
        QVERIFY(Schedule(site, RequestOf("Varlo", kVarloRequest), now_.addSecs(-60)));
        const bool copied = left.contains("copy");
        if (record == "committing" && !copied)
            QVERIFY(QDir().mkdir(site.settings + ".duvida"));  // a folder where the copy would go
        const QStringList messages = record == "done" ? QStringList() : QStringList{InDoubt(site, copied)};
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
        QCOMPARE(Traces(site), left);
        QCOMPARE(h->dialogs.texts(), messages);
    }
};

QTEST_MAIN(ScheduledRunTest)
#include "ScheduledRunTest.moc"
