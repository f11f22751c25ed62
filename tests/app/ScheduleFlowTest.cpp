// Scheduling as the operator does it, from "Agendar Alteração" through the date and time to
// the wait page, and the start of a program that finds a schedule waiting: on a real
// installation with a clock the test holds still or moves.

#include "ErrorReport.h"
#include "EventHook.h"
#include "ScheduleGuard.h"
#include "SettingsFile.h"
#include "WindowHarness.h"

#include <QDateTimeEdit>
#include <QDir>
#include <QLabel>

namespace {

QString WaitText(const QDateTime& moment, const QString& hourMinute)
{
    return QStringLiteral("Alteração agendada para ") + QLocale().toString(moment.date(), QLocale::ShortFormat)
           + QStringLiteral(" às ") + hourMinute;
}

const char kRequest[] = "Taxa1=1;anterior=13;nova=23;descricao=Normal;opvenda=1";

}  // namespace

class ScheduleFlowTest : public QObject {
    Q_OBJECT

    TUserFolders user_;
    QDateTime now_;
    std::unique_ptr<TTempInstallation> db_;

    // A window on the installation with the clock of the test.
    std::unique_ptr<TWindowHarness> Window(const std::function<void(TmainEnvironment&)>& more = nullptr,
                                           bool show = true)
    {
        return std::make_unique<TWindowHarness>(
            [&](TmainEnvironment& env) {
                env.clock = [this] { return now_; };
                if (more)
                    more(env);
            },
            show);
    }

    // From the rate entry page, filled, to the schedule page.
    bool ReachSchedulePage(TWindowHarness& h)
    {
        if (!h.openRateEntry())
            return false;
        h.fill(QString::fromLatin1(kRequest));
        h.click("BitBtn1");
        return h.window().ActivePage() == tabagendar;
    }

    QDateTimeEdit* Picker(TWindowHarness& h) { return h.child<QDateTimeEdit>("AdvDateTimePicker1"); }

private slots:
    void init()
    {
        now_ = QDateTime(QDate(2026, 3, 14), QTime(14, 3, 47, 250));
        db_ = EnteredInstallation();
        QFile::remove(EntryPath());
    }

    void cleanup() { db_.reset(); }

    // "Confirmar" writes the request as the controls hold it, with the picker's moment and
    // the detected application, places the start-up entry and shows the wait page. Left as
    // preset (or set in the past), the moment has come: the change runs at once and the
    // program closes, leaving nothing behind.
    void confirm_data()
    {
        QTest::addColumn<qint64>("ahead");  // ms the picker is moved from its preset
        QTest::addColumn<bool>("runsAtOnce");
        QTest::newRow("picker untouched") << qint64(0) << true;
        QTest::newRow("a minute in the past") << qint64(-60000) << true;
        QTest::newRow("an hour ahead") << qint64(3600000) << false;
    }

    void confirm()
    {
        QFETCH(qint64, ahead);
        QFETCH(bool, runsAtOnce);
        auto h = Window();
        QVERIFY(ReachSchedulePage(*h));
        QCOMPARE(Picker(*h)->dateTime(), now_);
        const QString before = db_->dump();
        if (ahead)
            Picker(*h)->setDateTime(now_.addMSecs(ahead));
        const TChangeRequest request = h->window().RequestFromControls();
        const QString settings = h->window().Environment().settingsFile;
        TStatementLog log;
        log.attach(h->window().cn());
        h->click("BitBtn3");

        if (runsAtOnce) {
            QTRY_VERIFY(!h->window().isVisible());
            QCOMPARE(h->dialogs.texts(), QStringList{kConfirmation});
            QCOMPARE(db_->scalar("SELECT COUNT(*) FROM produtos WHERE iva=13").toInt(), 0);
            QVERIFY(!QFile::exists(settings));
            QVERIFY(!QFile::exists(EntryPath()));
            return;
        }
        QCOMPARE(h->window().ActivePage(), int(tabwait));
        QTRY_VERIFY(h->window().Agenda().isActive());
        QCOMPARE(h->window().Agenda().interval(), 60000);
        QCOMPARE(h->child<QLabel>("Label25")->text(), WaitText(now_, "15:3"));
        QCOMPARE(log.statements, QStringList());
        QCOMPARE(db_->dump(), before);
        QCOMPARE(h->dialogs.texts(), QStringList{kConfirmation});

        const TSchedule stored = ReadSettingsFile(settings, QDateTime());
        TChangeRequest expected = request;
        expected.moment = QDateTime(now_.date(), QTime(15, 3, 47));  // whole seconds
        QCOMPARE(Describe(stored.request), Describe(expected));
        QCOMPARE(AppName(stored.request.app), QStringLiteral("Varlo"));
        QCOMPARE(stored.connectionString, QStringLiteral("FILE NAME=.\\Varlo.UDL"));
        const QString program = h->window().Environment().executablePath;
        const QString entry = QString::fromUtf8(FileBytes(EntryPath()));
        QVERIFY2(entry.contains("Exec=\"" + program + "\"\n"), qPrintable(entry));
        QVERIFY2(entry.contains("Path=" + QFileInfo(program).absolutePath() + "/\n"), qPrintable(entry));

        // Closing the window while it waits keeps the schedule for the next start.
        h->window().close();
        QVERIFY(QFile::exists(settings));
        QVERIFY(QFile::exists(EntryPath()));
    }

    // The operator sets hours and minutes; the seconds of the moment the page was opened
    // stay with the choice, and the change starts at the first check from there.
    void chosenTimeKeepsThePresetSeconds()
    {
        auto h = Window();
        QVERIFY(ReachSchedulePage(*h));
        QDateTimeEdit* picker = Picker(*h);
        picker->setFocus();
        picker->setCurrentSection(QDateTimeEdit::HourSection);
        for (int i = 0; i < 8; ++i)
            QTest::keyClick(picker, Qt::Key_Up);
        picker->setCurrentSection(QDateTimeEdit::MinuteSection);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(picker, Qt::Key_Down);
        const QDateTime chosen(now_.date(), QTime(22, 0, 47, 250));
        QCOMPARE(picker->dateTime(), chosen);
        QCOMPARE(picker->text().right(5), QStringLiteral("22:00"));
        h->click("BitBtn3");
        QCOMPARE(h->window().ActivePage(), int(tabwait));
        QTRY_COMPARE(h->child<QLabel>("Label25")->text(), WaitText(chosen, "22:0"));
        QCOMPARE(ReadSettingsFile(h->window().Environment().settingsFile, QDateTime()).request.moment,
                 QDateTime(now_.date(), QTime(22, 0, 47)));

        QVERIFY(h->window().Agenda().isActive());
        QCOMPARE(h->window().Agenda().interval(), 60000);
        now_ = chosen.addMSecs(-1);
        Tick(h->window());
        QVERIFY(h->window().Agenda().isActive());
        QVERIFY(h->window().isVisible());
        now_ = chosen;
        Tick(h->window());
        QTRY_VERIFY(!h->window().isVisible());
        QCOMPARE(db_->scalar("SELECT COUNT(*) FROM produtos WHERE iva=13").toInt(), 0);
    }

    // Back on the rate entry page everything stays as typed; asking to schedule again
    // checks the request again, confirmation included, and presets the picker anew.
    void backThenAgain_data()
    {
        QTest::addColumn<bool>("secondAnswer");
        QTest::newRow("confirmed again") << true;
        QTest::newRow("refused the second time") << false;
    }

    void backThenAgain()
    {
        QFETCH(bool, secondAnswer);
        auto h = Window();
        QVERIFY(ReachSchedulePage(*h));
        Picker(*h)->setDateTime(now_.addSecs(3 * 3600));
        const QString controls = h->state();
        h->click("BitBtn4");
        QCOMPARE(h->window().ActivePage(), int(tabexec));
        QVERIFY(h->waitFocus("anterior"));
        QCOMPARE(h->state(), controls);
        QVERIFY(!QFile::exists(h->window().Environment().settingsFile));

        now_ = now_.addSecs(7 * 60 + 5);
        h->dialogs.answers = {secondAnswer};
        h->click("BitBtn1");
        QCOMPARE(h->dialogs.texts(), (QStringList{kConfirmation, kConfirmation}));
        QCOMPARE(h->window().ActivePage(), int(secondAnswer ? tabagendar : tabexec));
        if (secondAnswer)
            QCOMPARE(Picker(*h)->dateTime(), now_);
        QCOMPARE(h->state(), controls);
        QVERIFY(!QFile::exists(h->window().Environment().settingsFile));
        QVERIFY(!QFile::exists(EntryPath()));
    }

    // A program started while a schedule waits goes straight to the wait page with the
    // stored request in the controls: no conditions, no detection, no connection yet. The
    // page names the moment with plain numbers for hour and minute. Closing the program
    // leaves the schedule for the next start.
    void resumption_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("hourMinute");
        QTest::newRow("five past nine") << QTime(9, 5) << "9:5";
        QTest::newRow("midnight") << QTime(0, 0) << "0:0";
        QTest::newRow("seconds not shown") << QTime(2, 30, 15) << "2:30";
        QTest::newRow("a second before midnight") << QTime(23, 59, 59) << "23:59";
    }

    void resumption()
    {
        QFETCH(QTime, time);
        QFETCH(QString, hourMinute);
        TChangeRequest written = RequestOf("Varlo", "Taxa1=1;anterior=13;nova=23;descricao=Normal 23;anterior2=6;nova2=7;"
                                                     "descricao2=Sete;Taxa3=1;anterior3=23;nova3=21;descricao3=Vinte e um;"
                                                     "opnovataxa=1;opcompra=1;opvenda=1;oparredondar=1;casas=3");
        written.moment = QDateTime(QDate(2026, 3, 15), time);
        QString settings;
        auto h = Window(
            [&](TmainEnvironment& env) {
                settings = env.settingsFile;
                ScheduleIn(QFileInfo(settings).absolutePath(), written, written.moment);
            },
            false);

        QCOMPARE(h->window().ActivePage(), int(tabwait));
        QCOMPARE(Describe(h->window().RequestFromControls()), Describe(written));
        QCOMPARE(AppName(h->window().DetectedApp()), QStringLiteral("Varlo"));
        QCOMPARE(h->window().cn().connectionString(), QStringLiteral("FILE NAME=.\\Varlo.UDL"));
        for (const char* shown : {"oparredondar", "casas"})
            QVERIFY2(!h->child(shown)->isHidden(), shown);  // the option rules ran

        int conditionsShown = 0;
        TEventHook watch(
            "watch",
            [&](QObject*, QEvent* event) {
                conditionsShown += event->type() == QEvent::Show;
                return false;
            },
            nullptr);
        h->child("tabcondicoes")->installEventFilter(&watch);
        h->show();
        QTRY_COMPARE(h->child<QLabel>("Label25")->text(), WaitText(written.moment, hourMinute));
        QVERIFY(h->window().Agenda().isActive());
        QCOMPARE(conditionsShown, 0);
        QVERIFY(!h->window().cn().connected());
        QCOMPARE(h->dialogs.texts(), QStringList());

        h->window().close();
        QVERIFY(QFile::exists(settings));
        QVERIFY(QFile::exists(EntryPath()));
    }

    // Temporary rates: "Repor as taxas anteriores em" makes the schedule undo its own change at
    // a second moment. The change runs at the first, the schedule stays (settings file with
    // the change's id, start-up entry) and the wait page names the second; at the second the
    // database goes back to what it was, byte for byte, and nothing is left. A program ended
    // between the two leaves the second to the next start. A second moment that is not after
    // the first is refused on the page.
    void temporaryRates_data()
    {
        QTest::addColumn<qint64>("first");   // seconds from now
        QTest::addColumn<qint64>("second");
        QTest::addColumn<bool>("restart");   // the program ended between the stages
        QTest::addColumn<bool>("cutInUndo"); // then found as if ended in the second stage's commit
        QTest::newRow("both moments past") << qint64(-7200) << qint64(-3600) << false << false;
        QTest::newRow("the program ended between the two") << qint64(-60) << qint64(3600) << true << false;
        QTest::newRow("second moment before the first") << qint64(3600) << qint64(1800) << false << false;
        QTest::newRow("the undo's commit cut, settled at the next start")
            << qint64(-7200) << qint64(-3600) << false << true;
    }

    void temporaryRates()
    {
        QFETCH(qint64, first);
        QFETCH(qint64, second);
        QFETCH(bool, restart);
        QFETCH(bool, cutInUndo);
        const QString before = db_->dump();
        auto h = Window();
        QVERIFY(ReachSchedulePage(*h));
        const QString settings = h->window().Environment().settingsFile;
        Picker(*h)->setDateTime(now_.addSecs(first));
        h->click("oprepor");
        h->child<QDateTimeEdit>("AdvDateTimePicker2")->setDateTime(now_.addSecs(second));
        h->click("BitBtn3");
        if (second < first) {
            QCOMPARE(h->window().ActivePage(), int(tabagendar));
            QCOMPARE(h->dialogs.texts().last(), QStringLiteral("A data e hora em que as taxas anteriores são repostas "
                                                               "tem de ser posterior à da alteração."));
            QVERIFY(!QFile::exists(settings));
            return;
        }
        QTRY_VERIFY(ReadSettingsFile(settings, QDateTime()).changeId.size() > 0);
        const QByteArray between = FileBytes(settings);
        QVERIFY(db_->dump() != before);
        QVERIFY(QFile::exists(EntryPath()));
        QTRY_VERIFY(h->child<QLabel>("Label25")->text().startsWith("Alteração efectuada. Taxas anteriores repostas em "));
        std::unique_ptr<TWindowHarness> ended;  // its folder holds the settings file
        if (restart) {
            h->window().close();
            ended = std::move(h);
            now_ = now_.addSecs(second + 60);
            h = Window([&](TmainEnvironment& env) { env.settingsFile = settings; }, false);
            QCOMPARE(h->window().ActivePage(), int(tabwait));
            h->show();
        } else {
            Tick(h->window());
        }
        QTRY_VERIFY(!h->window().isVisible());
        QCOMPARE(db_->dump(), before);
        QVERIFY(!QFile::exists(settings));
        QVERIFY(!QFile::exists(EntryPath()));
        const QString record = QString::fromUtf8(FileBytes(QFileInfo(settings).dir().filePath("TaxasIVA.log")));
        QVERIFY2(record.contains("Execução: reposição agendada\r\nAlteração desfeita: "), qPrintable(record));
        if (!cutInUndo)
            return;

        // What a process killed in the undo's commit leaves: the schedule between its stages,
        // its record "committing". The change's images tell that the undo was made.
        const qsizetype undoAt = record.lastIndexOf("== Início ", record.indexOf("Execução: reposição agendada"));
        const QString undoId = record.mid(undoAt).section(' ', 2, 2);
        QVERIFY(WriteFileBytes(settings, between));
        {
            TScheduleGuard killed(settings);
            QCOMPARE(killed.Claim(), TScheduleGuard::TClaim::Acquired);
            killed.BeforeCommit(undoId);
        }
        std::unique_ptr<TWindowHarness> settled = Window([&](TmainEnvironment& env) { env.settingsFile = settings; }, false);
        settled->show();
        QTRY_VERIFY(!settled->window().isVisible());
        QCOMPARE(settled->dialogs.texts(), QStringList());
        QCOMPARE(db_->dump(), before);
        QVERIFY(!QFile::exists(settings));
        const QString verdict = QString::fromUtf8(FileBytes(QFileInfo(settings).dir().filePath("TaxasIVA.log")));
        QVERIFY2(verdict.contains("== Verificação " + undoId + " ==") && verdict.contains("Resultado: confirmada ("),
                 qPrintable(verdict));
    }

    // A settings file that cannot be written stops "Confirmar" with the error report: no
    // start-up entry, the schedule page stays, nothing waits.
    void unwritableSettingsFile()
    {
        QString settings;
        auto h = Window([&](TmainEnvironment& env) {
            settings = QFileInfo(env.settingsFile).absolutePath() + "/gone/Qorvanta.ini";
            env.settingsFile = settings;
        });
        QVERIFY(ReachSchedulePage(*h));
        h->dialogs.clear();
        h->click("BitBtn3");

        const std::vector<TShownBox> expected = {
            {TShownBox::Message,
             ErrorReportText(QString::fromUtf8("Não foi possível gravar o ficheiro ") + QDir::toNativeSeparators(settings)),
             QStringLiteral("Taxas de IVA")}};
        QCOMPARE(h->dialogs.shown, expected);
        QCOMPARE(h->window().ActivePage(), int(tabagendar));
        QVERIFY(!QFile::exists(EntryPath()));
        QVERIFY(!QFile::exists(settings));
        QTest::qWait(20);
        QVERIFY(!h->window().Agenda().isActive());
        QVERIFY(h->window().isVisible());
    }

    // "Confirmar" makes every missing folder of the start-up entry's place. Where the entry
    // cannot be written the operator is told that the schedule will not come back after a
    // log-off, and it waits all the same.
    void startupEntry_data()
    {
        QTest::addColumn<QString>("config");  // XDG_CONFIG_HOME below a fresh folder
        QTest::addColumn<bool>("made");
        QTest::newRow("several folders missing") << "none/a/b" << true;
        QTest::newRow("a file in place of a folder") << "file/config" << false;
    }

    void startupEntry()
    {
        QFETCH(QString, config);
        QFETCH(bool, made);
        QTemporaryDir home;
        QVERIFY(WriteFileBytes(home.filePath("file"), "x"));
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(config)));
        const QString entry = EntryPath();
        auto h = Window();
        QVERIFY(ReachSchedulePage(*h));
        Picker(*h)->setDateTime(now_.addSecs(3600));
        h->dialogs.clear();
        h->click("BitBtn3");
        qputenv("XDG_CONFIG_HOME", saved);

        QCOMPARE(QFile::exists(entry), made);
        const QString warning = QString::fromUtf8("Não foi possível criar a entrada de arranque automático (%1). A "
                                                  "alteração fica agendada, mas só será executada se este programa "
                                                  "estiver aberto à hora marcada: depois de terminar a sessão ou "
                                                  "reiniciar o computador, o agendamento não será retomado "
                                                  "automaticamente.").arg(entry);
        QCOMPARE(h->dialogs.texts(), made ? QStringList() : QStringList{warning});
        for (const TShownBox& box : h->dialogs.shown)
            QCOMPARE(box.title, QStringLiteral("Aviso"));
        QCOMPARE(h->window().ActivePage(), int(tabwait));
        QTRY_VERIFY(h->window().Agenda().isActive());
        QVERIFY(QFile::exists(h->window().Environment().settingsFile));
    }
};

QTEST_MAIN(ScheduleFlowTest)
#include "ScheduleFlowTest.moc"
