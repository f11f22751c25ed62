// Renders every page of the main window to PNG files, on a demo installation built in a
// temporary folder, without a display:  taxas-iva-screenshots [folder]  (default "shots").

#include "Installation.h"
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
        QTextStream(stderr) << title << ": " << text << " (No)\n";
        return false;
    }
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

}  // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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

        window.SetActivePage(tabconcluido);
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
        window.close();
    } catch (const std::exception& e) {
        QTextStream(stderr) << "taxas-iva-screenshots: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
