// Renders every page of the main window to PNG files, on a demo installation built in a
// temporary folder, without a display:  taxas-iva-screenshots [folder]  (default "shots").

#include "Installation.h"
#include "QtTranslations.h"
#include "SimulationDialog.h"
#include "Tmain.h"

#include <QApplication>
#include <QDateTimeEdit>
#include <QDeadlineTimer>
#include <QFontDatabase>
#include <QPlainTextEdit>
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
    // The simulation's box, pictured as the operator sees it.
    void ShowSimulation(const TSimulationReport& report) override
    {
        TSimulationDialog dialog(report, nullptr);
        dialog.show();
        QApplication::processEvents();
        simulation = dialog.grab();
    }
    bool yes = false;
    QPixmap simulation;
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

// Clicks a button and returns once what it started on the session's database thread (the
// check, the change) has ended and the window has shown it.
void Press(Tmain& window, const QString& button)
{
    window.findChild<QAbstractButton*>(button)->click();
    QApplication::processEvents();
    if (!WaitFor([&] { return !window.Session().Busy(); }))
        throw std::runtime_error(("the session was still busy after " + button).toStdString());
}

void SavePixmap(const QPixmap& picture, const QString& folder, const QString& name)
{
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!picture.save(path))
        throw std::runtime_error(("cannot write " + path).toStdString());
    QTextStream(stdout) << path << "\n";
}

// The first lines of a text file as a plain editor shows them.
void SaveText(const QString& file, const QString& folder, const QString& name)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        throw std::runtime_error(("cannot read " + file).toStdString());
    const QStringList lines = QString::fromUtf8(in.readAll()).split(QStringLiteral("\r\n")).mid(0, 12);
    QPlainTextEdit editor(lines.join(u'\n'));
    editor.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    editor.setLineWrapMode(QPlainTextEdit::NoWrap);
    editor.resize(720, 240);
    editor.show();
    QApplication::processEvents();
    SavePixmap(editor.grab(), folder, name);
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
    const TQtTranslations qtTexts = InstallQtTranslations();

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
        QDateTime now = QDateTime::currentDateTime();
        environment.clock = [&now] { return now; };
        environment.settingsFile = QDir(temp.path()).filePath(QStringLiteral("Qorvanta.ini"));
        environment.executablePath = QDir(installation).filePath(QStringLiteral("taxas-iva"));
        // The start-up entry is made only for a program that exists.
        if (QFile program(environment.executablePath); !program.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot create the program file");
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
        // The products of each existing rate, counted after a pause in the typing.
        const auto* counted = window.findChild<QLabel*>(QStringLiteral("contagem2"));
        if (!WaitFor([&] { return !counted->text().isEmpty(); }))
            throw std::runtime_error("the products were not counted");
        Save(window, folder, QStringLiteral("2-tabexec-contagens"));

        // The same change simulated: its box, and the file of every product as a text editor shows it.
        Press(window, QStringLiteral("btsimular"));
        if (dialogs.simulation.isNull())
            throw std::runtime_error("the simulation showed nothing");
        SavePixmap(dialogs.simulation, folder, QStringLiteral("6-simulacao"));
        SaveText(window.Session().SimulationFile(), folder, QStringLiteral("7-simulacao-csv"));

        dialogs.yes = true;
        // The check's two look-ups, the seven reads of the images before, row 1's ten
        // statements, then six of row 2's.
        SaveDuringRun(window, folder, QStringLiteral("2-tabexec-progresso"), 2 + 7 + 10 + 6);
        Press(window, QStringLiteral("btalterar"));
        if (window.ActivePage() != tabconcluido)
            throw std::runtime_error("the change did not reach the done page");
        dialogs.yes = false;
        window.cn().setObserver(nullptr);
        Save(window, folder, QStringLiteral("3-tabconcluido"));

        // The same rows back, scheduled as the operator does it, for a day ahead on the
        // tool's own clock, so that the wait page only waits.
        change.rows[0] = {true, QStringLiteral("22"), QStringLiteral("23"), QStringLiteral("23%")};
        change.rows[1] = {true, QStringLiteral("12"), QStringLiteral("13"), QStringLiteral("13%")};
        window.findChild<QPushButton*>(QStringLiteral("PNGButton1"))->click();
        // The rate entry page offers the change just made to be undone.
        Save(window, folder, QStringLiteral("2-tabexec-desfazer"));
        window.LoadRequest(change);
        dialogs.yes = true;
        Press(window, QStringLiteral("BitBtn1"));
        dialogs.yes = false;
        if (window.ActivePage() != tabagendar)
            throw std::runtime_error("the schedule page did not come");
        // Temporary rates: back to the rates of today three months on.
        const QDateTime moment = now.addDays(1);
        window.findChild<QDateTimeEdit*>(QStringLiteral("AdvDateTimePicker1"))->setDateTime(moment);
        Press(window, QStringLiteral("oprepor"));
        window.findChild<QDateTimeEdit*>(QStringLiteral("AdvDateTimePicker2"))->setDateTime(moment.addMonths(3));
        Save(window, folder, QStringLiteral("4-tabagendar"));
        Press(window, QStringLiteral("BitBtn3"));
        if (window.ActivePage() != tabwait || !window.Agenda().isActive())
            throw std::runtime_error("the change was not scheduled");
        Save(window, folder, QStringLiteral("5-tabwait"));

        // The moment comes: the scheduled run, pictured half-way; the wait goes on for the
        // second moment, whose undo ends the program.
        SaveDuringRun(window, folder, QStringLiteral("5-tabwait-progresso"), 7 + 10 + 4);
        now = moment.addSecs(60);
        QMetaObject::invokeMethod(&window.Agenda(), "timeout");
        const auto* waiting = window.findChild<QLabel*>(QStringLiteral("Label25"));
        if (!WaitFor([&] { return waiting->text().startsWith(QStringLiteral("Alteração efectuada")); }))
            throw std::runtime_error("the first stage did not end");
        window.cn().setObserver(nullptr);
        Save(window, folder, QStringLiteral("5-tabwait-repor"));
        now = moment.addMonths(3).addSecs(60);
        QMetaObject::invokeMethod(&window.Agenda(), "timeout");
        if (!WaitFor([&] { return !window.isVisible(); }))
            throw std::runtime_error("the scheduled undo did not end the program");
    } catch (const std::exception& e) {
        QTextStream(stderr) << "taxas-iva-screenshots: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
