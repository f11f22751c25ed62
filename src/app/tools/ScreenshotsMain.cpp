// Renders every page of the main window to PNG files, on a demo installation built in a
// temporary folder, without a display:  taxas-iva-screenshots [folder]  (default "shots").

#include "Installation.h"
#include "SettingsFile.h"
#include "Tmain.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

// Boxes cannot be answered here: each is written to the error output instead.
class TPrintedDialogs : public TDialogs {
public:
    void ShowMessage(const QString& text, const QString& title) override
    {
        QTextStream(stderr) << title << ": " << text << "\n";
    }
    bool Confirm(const QString& text, const QString& title) override
    {
        QTextStream(stderr) << title << ": " << text << (yes ? " (Sim)\n" : " (Não)\n");
        return yes;
    }
    bool yes = false;
};

bool WaitFor(const std::function<bool()>& condition)
{
    QDeadlineTimer deadline(10000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void Save(Tmain& window, const QString& folder, const QString& name)
{
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!window.grab().save(path))
        throw std::runtime_error(("cannot write " + path).toStdString());
    QTextStream(stdout) << path << "\n";
}

// Saves the window as a change shows it, when the run is about to send its statement
// number at: the statements go from the run's own thread, the picture is taken on the
// window's.
void SaveDuringRun(Tmain& window, const QString& folder, const QString& name, int at)
{
    auto count = std::make_shared<int>(0);
    window.cn().setObserver([&window, folder, name, at, count](const QString&, TStatementKind) {
        if (++*count != at)
            return;
        QMetaObject::invokeMethod(
            qApp, [&window, folder, name] { Save(window, folder, name); }, Qt::BlockingQueuedConnection);
    });
}

}  // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The scheduled run tidies the start-up entry and its records away: in folders of our own.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Taxas de IVA"));

    const QString folder = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("shots")).absolutePath();
    try {
        if (!QDir().mkpath(folder))
            throw std::runtime_error(("cannot create " + folder).toStdString());

        QTemporaryDir temp;
        const QString installation = QDir(temp.path()).filePath(QStringLiteral("varlo"));
        TInstallationOptions options;
        options.app = QStringLiteral("Varlo");
        MakeInstallation(installation, options);
        QDir::setCurrent(installation);

        TPrintedDialogs dialogs;
        TmainEnvironment environment;
        environment.dialogs = &dialogs;
        environment.settingsFile = QDir(temp.path()).filePath(QStringLiteral("Qorvanta.ini"));
        environment.executablePath = QDir(installation).filePath(QStringLiteral("taxas-iva"));
        Tmain window(environment);
        window.show();
        window.activateWindow();
        WaitFor([&] { return window.isActiveWindow(); });

        Save(window, folder, QStringLiteral("0-tabcondicoes"));

        window.findChild<QPushButton*>(QStringLiteral("btaceito"))->click();
        const auto* next = window.findChild<QPushButton*>(QStringLiteral("btnext1"));
        if (!WaitFor([&] { return next->isVisible(); }))
            throw std::runtime_error("the demo installation was not detected");
        Save(window, folder, QStringLiteral("1-tabsoftware"));

        window.findChild<QPushButton*>(QStringLiteral("btnext1"))->click();
        WaitFor([&] { return window.ActivePage() == tabexec && QApplication::focusWidget()
                             && QApplication::focusWidget()->objectName() == QLatin1String("anterior"); });
        Save(window, folder, QStringLiteral("2-tabexec"));

        // A change of two rows, pictured half-way through its second row and then done.
        TChangeRequest change = window.RequestFromControls();
        change.rows[0] = {true, QStringLiteral("23"), QStringLiteral("22"), QStringLiteral("22%")};
        change.rows[1] = {true, QStringLiteral("13"), QStringLiteral("12"), QStringLiteral("12%")};
        change.options.salePrices = change.options.purchasePrices = true;
        window.LoadRequest(change);
        dialogs.yes = true;
        // The check's two look-ups, row 1's ten statements, then six of row 2's.
        SaveDuringRun(window, folder, QStringLiteral("2-tabexec-progresso"), 2 + 10 + 6);
        window.findChild<QPushButton*>(QStringLiteral("btalterar"))->click();
        dialogs.yes = false;
        if (!WaitFor([&] { return window.ActivePage() == tabconcluido; }))
            throw std::runtime_error("the change did not reach the done page");
        window.cn().setObserver(nullptr);
        Save(window, folder, QStringLiteral("3-tabconcluido"));
        window.SetActivePage(tabagendar);
        Save(window, folder, QStringLiteral("4-tabagendar"));

        // A moment well ahead, so that showing the wait page only waits.
        TChangeRequest request = window.RequestFromControls();
        request.moment = QDateTime::currentDateTime().addDays(1);
        window.LoadRequest(request);
        window.SetActivePage(tabwait);
        Save(window, folder, QStringLiteral("5-tabwait"));
        window.Agenda().stop();

        // The moment comes: the scheduled run of the same rows back, pictured half-way.
        change.rows[0] = {true, QStringLiteral("22"), QStringLiteral("23"), QStringLiteral("23%")};
        change.rows[1] = {true, QStringLiteral("12"), QStringLiteral("13"), QStringLiteral("13%")};
        change.moment = QDateTime::currentDateTime().addSecs(-60);
        window.LoadRequest(change);
        window.Session().Schedule(change);
        SaveDuringRun(window, folder, QStringLiteral("5-tabwait-progresso"), 10 + 4);
        // Shown again, the page checks the moment at once and runs the change.
        window.SetActivePage(tabagendar);
        window.SetActivePage(tabwait);
        if (!WaitFor([&] { return !window.isVisible(); }))
            throw std::runtime_error("the scheduled change did not end the program");
    } catch (const std::exception& e) {
        QTextStream(stderr) << "taxas-iva-screenshots: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
