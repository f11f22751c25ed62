// The notification-area icon: the window goes off the screen and comes back with its page,
// its label and its waiting untouched; a change that comes due meanwhile runs and ends the
// program without the window showing again.
//
// Started with "--hidden-run <folder>" the test program is itself the program that ends:
// it resumes the schedule in folder, hides in the notification area, lets the moment come
// and must then leave its event loop on its own.

#include "EventHook.h"
#include "WindowHarness.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <cstdio>

namespace {

const QDateTime kMoment(QDate(2026, 10, 3), QTime(23, 30, 0));

// A pending schedule in folder, as "Confirmar" leaves it beside the program.
void Schedule(const QString& folder)
{
    ScheduleIn(folder, RequestOf("Varlo", "Taxa1=1;anterior=13;nova=23;descricao=Normal"), kMoment);
}

// The other side of dueWhileHiddenEndsTheProgram. Exit codes: 0 the program ended by
// itself after the run; 3 it was still running; 4 the window showed again or a box came.
int HiddenRun(const QString& folder)
{
    QDir::setCurrent(folder);
    QDateTime now = kMoment.addSecs(-3600);
    TFakeDialogs dialogs;
    TmainEnvironment env;
    env.dialogs = &dialogs;
    env.settingsFile = QDir(folder).filePath("Qorvanta.ini");
    env.executablePath = QDir(folder).filePath("taxas-iva");
    env.clock = [&] { return now; };
    env.trayAvailable = [] { return true; };
    Tmain window(env);
    bool hidden = false;
    int shownAgain = 0;
    TEventHook shows(
        "shows",
        [&](QObject*, QEvent* event) {
            shownAgain += hidden && event->type() == QEvent::Show;
            return false;
        },
        nullptr);
    window.installEventFilter(&shows);
    window.show();

    QTimer steps;
    QObject::connect(&steps, &QTimer::timeout, [&] {
        if (!hidden && window.Agenda().isActive() && window.isVisible()) {
            window.findChild<QPushButton*>("Button1")->click();
            hidden = true;
        } else if (hidden && !window.isVisible() && window.Agenda().isActive()) {
            steps.stop();
            now = kMoment;
            Tick(window);
        }
    });
    steps.start(20);
    QTimer::singleShot(20000, [] { QCoreApplication::exit(3); });
    const int result = QApplication::exec();
    for (const TShownBox& box : dialogs.shown)
        std::fprintf(stderr, "%s: %s\n", qPrintable(box.title), qPrintable(box.text));
    if (result == 0 && (shownAgain > 0 || !dialogs.shown.empty()))
        return 4;
    return result;
}

}  // namespace

class TrayTest : public QObject {
    Q_OBJECT

    TUserFolders user_;
    std::unique_ptr<TTempInstallation> db_;
    QDateTime now_;

private slots:
    void init()
    {
        db_ = EnteredInstallation();
        now_ = kMoment.addSecs(-600);
    }

    void cleanup() { db_.reset(); }

    // Hidden by "Minimizar para a Barra de Tarefas" (or minimised by the platform, which
    // shows the icon too, or the window could not be had back) and restored by the icon
    // (a double-click, or the one activation some trays send): the window comes back
    // un-minimised on its page, the icon goes, and the wait goes on as it was. The return is
    // no showing of the wait page: even with the moment come, no check runs and the label is
    // not rebuilt. Without a notification area the window stays on the taskbar instead.
    void hideAndRestore_data()
    {
        QTest::addColumn<QString>("hide");
        QTest::addColumn<QString>("restore");
        QTest::addColumn<bool>("notificationArea");
        QTest::newRow("button, double-click") << "Button1" << "double-click" << true;
        QTest::newRow("button, single activation") << "Button1" << "activation" << true;
        QTest::newRow("Windows tray, click then double-click") << "Button1" << "click, double-click" << true;
        QTest::newRow("platform, Restaurar") << "platform" << "Restaurar" << true;
        QTest::newRow("no notification area, button") << "Button1" << "taskbar" << false;
        QTest::newRow("no notification area, platform") << "platform" << "taskbar" << false;
    }

    void hideAndRestore()
    {
        QFETCH(QString, hide);
        QFETCH(QString, restore);
        QFETCH(bool, notificationArea);
        TWindowHarness h([&](TmainEnvironment& env) {
            Schedule(QFileInfo(env.settingsFile).absolutePath());
            env.clock = [this] { return now_; };
            env.trayAvailable = [notificationArea] { return notificationArea; };
            env.trayTellsDoubleClick = [restore] { return restore == "click, double-click"; };
        });
        auto* tray = h.window().findChild<QSystemTrayIcon*>("Tray");
        auto* label = h.child<QLabel>("Label25");
        QTRY_VERIFY(h.window().Agenda().isActive());
        QVERIFY(label->text().startsWith("Alteração agendada para "));
        TStatementLog log;
        log.attach(h.window().cn());

        if (hide == "Button1")
            h.click("Button1");
        else
            h.window().showMinimized();
        QTRY_VERIFY(h.window().isMinimized() || !h.window().isVisible());
        QTest::qWait(50);  // the minimise notification has come round
        QCOMPARE(h.window().isVisible(), !notificationArea);
        QCOMPARE(tray->isVisible(), notificationArea);
        QCOMPARE(tray->toolTip(), QStringLiteral("Alteração de Taxas de IVA"));
        QVERIFY(!tray->icon().isNull());
        const QMenu* menu = tray->contextMenu();
        QVERIFY(menu && menu->actions().size() == 1 && menu->defaultAction() == menu->actions().first());
        QCOMPARE(menu->defaultAction()->text(), QStringLiteral("Restaurar"));
        QVERIFY(menu->defaultAction()->font().bold());
        QCOMPARE(h.window().ActivePage(), int(tabwait));
        QVERIFY(h.window().Agenda().isActive());

        label->setText("marca");
        now_ = kMoment.addSecs(5);
        if (restore == "double-click")
            emit tray->activated(QSystemTrayIcon::DoubleClick);
        else if (restore == "activation")
            emit tray->activated(QSystemTrayIcon::Trigger);
        else if (restore == "click, double-click") {
            emit tray->activated(QSystemTrayIcon::Trigger);
            QTest::qWait(50);
            QVERIFY(!h.window().isVisible() && tray->isVisible());
            emit tray->activated(QSystemTrayIcon::DoubleClick);
        }
        else if (restore == "Restaurar")
            h.window().findChild<QAction*>("Restaurar1")->trigger();
        else
            h.window().showNormal();
        QTest::qWait(50);
        QVERIFY(h.window().isVisible());
        QVERIFY(!h.window().isMinimized());
        QVERIFY(!tray->isVisible());
        QCOMPARE(h.window().ActivePage(), int(tabwait));
        QCOMPARE(label->text(), QStringLiteral("marca"));
        QVERIFY(h.window().Agenda().isActive());
        QCOMPARE(h.window().Agenda().interval(), 60000);
        QCOMPARE(log.statements, QStringList());
        QCOMPARE(h.dialogs.texts(), QStringList());

        // The next tick is the one that makes the change.
        Tick(h.window());
        QTRY_VERIFY(!h.window().isVisible());
        QVERIFY(!log.statements.isEmpty());
    }

    // Another page minimised by the platform comes back as it was left.
    void restoreKeepsAnyPage()
    {
        TWindowHarness h([&](TmainEnvironment& env) { env.clock = [this] { return now_; }; });
        QVERIFY(h.openRateEntry());
        h.fill("Taxa1=1;anterior=13;nova=23");
        h.window().showMinimized();
        QTRY_VERIFY(!h.window().isVisible());
        h.window().findChild<QAction*>("Restaurar1")->trigger();
        QVERIFY(h.window().isVisible());
        QCOMPARE(h.window().ActivePage(), int(tabexec));
        QCOMPARE(h.child<QLineEdit>("nova")->text(), QStringLiteral("23"));
        QVERIFY(!h.window().findChild<QSystemTrayIcon*>("Tray")->isVisible());
    }

    // A change that comes due while the window is hidden runs, and the program ends by
    // itself, although no window of it is visible to close.
    void dueWhileHiddenEndsTheProgram()
    {
        Schedule(db_->folder());
        QProcess program;
        program.start(QCoreApplication::applicationFilePath(), {"--hidden-run", db_->folder()});
        QVERIFY(program.waitForFinished(40000));
        const QByteArray errors = program.readAllStandardError();
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == 0,
                 qPrintable(QStringLiteral("exit %1: %2").arg(program.exitCode()).arg(QString::fromLocal8Bit(errors))));
        QCOMPARE(db_->scalar("SELECT COUNT(*) FROM produtos WHERE iva=13").toInt(), 0);
        QVERIFY(!QFile::exists(QDir(db_->folder()).filePath("Qorvanta.ini")));
        QVERIFY(!QFile::exists(EntryPath()));
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--hidden-run") == 0)
        return HiddenRun(QString::fromLocal8Bit(argv[2]));
    TrayTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TrayTest.moc"
