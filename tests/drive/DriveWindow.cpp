// taxas-drive-window change|refused|schedule "<control>=<value>;..."
//
// Run in an installation's folder. Makes the program's window, accepts the conditions, lets
// detection run, fills the rate entry page by clicks and typed keys (the controls named as the
// window names them; check boxes take 1) and then:
//   change    presses "Alterar Taxas Agora!", answers Sim, and expects the done page;
//   refused   the same, and expects the error report with the rate entry page still shown;
//   schedule  presses "Agendar Alteração", answers Sim, sets the moment an hour back, presses
//             "Confirmar", looks at the settings file and the start-up entry before the wait
//             page's first check, and expects the run to remove both and end the program.
// Every message box is answered as an operator would (Sim to the question, OK otherwise) and
// printed. One line per finding; the last reads "ok" or "FAILED: <why>", and so does the exit
// code.

#include "ErrorReport.h"
#include "SettingsFile.h"
#include "ShellShortcut.h"
#include "Tmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#endif

namespace {

void Say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Ends the driver once its verdict is printed. Under Wine, unloading odbc32 (which hands the
// calls to this machine's driver manager) at process exit hangs now and then; the process is
// ended without that unloading, since nothing after the verdict is being checked.
[[noreturn]] void End(int code)
{
    std::fflush(nullptr);
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), UINT(code));
#endif
    std::_Exit(code);
}

struct TFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void Expect(bool holds, const QString& why)
{
    if (!holds)
        throw TFailed(why.toStdString());
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

template <typename T = QWidget>
T* Control(Tmain& window, const QString& name)
{
    T* widget = window.findChild<T*>(name);
    Expect(widget != nullptr, QStringLiteral("no control named %1").arg(name));
    return widget;
}

// A press and a release in the middle of the control, delivered to its window as the
// windowing system delivers them: the window finds the control and gives it the focus first.
// Events the handler posts stay queued until the caller lets them run.
void Click(QWidget* widget)
{
    QWindow* window = widget->window()->windowHandle();
    Expect(window != nullptr, QStringLiteral("%1 is not on a shown window").arg(widget->objectName()));
    const QPointF local = widget->mapTo(widget->window(), QPointF(widget->width() / 2.0, widget->height() / 2.0));
    const QPointF global = widget->window()->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window, &release);
}

// Waits for what a press started on the session's database thread, and for the window to show it.
void Settle(Tmain& window)
{
    QApplication::processEvents();
    Expect(WaitFor([&] { return !window.Session().Busy(); }, 60000), QStringLiteral("the session is still busy"));
}

void Type(const QString& text)
{
    for (const QChar c : text) {
        QWidget* target = QApplication::focusWidget();
        Expect(target != nullptr, QStringLiteral("nothing has the focus to type into"));
        const int key = c.toUpper().unicode();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &release);
    }
}

// "Taxa1=1;anterior=23;...", in the order given.
void Fill(Tmain& window, const QString& fields)
{
    for (const QString& field : fields.split(u';', Qt::SkipEmptyParts)) {
        const QString name = field.section(u'=', 0, 0);
        const QString value = field.section(u'=', 1);
        if (auto* box = window.findChild<QCheckBox*>(name)) {
            if (box->isChecked() != (value == QLatin1String("1")))
                Click(box);
            Expect(box->isChecked() == (value == QLatin1String("1")), QStringLiteral("%1 did not take %2").arg(name, value));
        } else {
            auto* edit = Control<QLineEdit>(window, name);
            Click(edit);
            edit->selectAll();
            Type(value);
        }
        QApplication::processEvents();
    }
}

// Answers every message box the window opens, and remembers what each said.
class TOperator : public QObject {
public:
    TOperator()
    {
        connect(&poll_, &QTimer::timeout, this, [this] { answer(); });
        poll_.start(50);
    }
    QStringList seen;

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        const QString said = box->windowTitle() + QStringLiteral(": ") + box->text();
        seen << said;
        Say(QStringLiteral("box: ") + said);
        QAbstractButton* choice = box->defaultButton();
        for (QAbstractButton* button : box->buttons())
            if (button->text().remove(u'&') == QLatin1String("Sim"))
                choice = button;
        if (!choice && !box->buttons().isEmpty())
            choice = box->buttons().first();
        if (choice)
            choice->click();
    }
    QTimer poll_;
};

void OpenRateEntry(Tmain& window)
{
    window.show();
    window.activateWindow();
    Expect(WaitFor([&] { return window.isActiveWindow(); }, 10000), QStringLiteral("the window never became active"));
    Say(QStringLiteral("client: %1x%2").arg(window.width()).arg(window.height()));

    Click(Control(window, QStringLiteral("btaceito")));
    auto* next = Control(window, QStringLiteral("btnext1"));
    // Detection runs one event after the page takes the focus, and connects to the database.
    Expect(WaitFor([&] { return next->isVisible(); }, 30000), QStringLiteral("no application detected"));
    Say(QStringLiteral("detected: ") + Control<QLabel>(window, QStringLiteral("software"))->text());
    Click(next);
    Expect(WaitFor([&] { return window.ActivePage() == tabexec; }, 5000), QStringLiteral("the rate entry page is not shown"));
}

#ifdef _WIN32
// The start-up entry read back through the shell link object, as the shell reads it.
void ReadBackShortcut(const QString& path, const QString& program)
{
    CoInitialize(nullptr);  // already done on this thread by the toolkit; harmless then
    IShellLinkA* link = nullptr;
    Expect(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      reinterpret_cast<void**>(&link))),
           QStringLiteral("no shell link object"));
    IPersistFile* file = nullptr;
    char target[MAX_PATH] = {};
    char folder[MAX_PATH] = {};
    bool loaded = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        loaded = SUCCEEDED(file->Load(reinterpret_cast<LPCOLESTR>(QDir::toNativeSeparators(path).utf16()), STGM_READ))
                 && SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))
                 && SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH));
        file->Release();
    }
    link->Release();
    Expect(loaded, QStringLiteral("the start-up entry does not read back"));
    const QString native = QDir::toNativeSeparators(program);
    const QString nativeFolder = native.left(native.lastIndexOf(u'\\') + 1);
    Say(QStringLiteral("entry target: %1").arg(QString::fromLocal8Bit(target)));
    Say(QStringLiteral("entry folder: %1").arg(QString::fromLocal8Bit(folder)));
    Expect(QString::fromLocal8Bit(target).compare(native, Qt::CaseInsensitive) == 0,
           QStringLiteral("the entry starts %1, not %2").arg(QString::fromLocal8Bit(target), native));
    Expect(QString::fromLocal8Bit(folder).compare(nativeFolder, Qt::CaseInsensitive) == 0,
           QStringLiteral("the entry works in %1, not %2").arg(QString::fromLocal8Bit(folder), nativeFolder));
}
#endif

void Schedule(Tmain& window)
{
    Click(Control(window, QStringLiteral("BitBtn1")));
    Settle(window);
    Expect(window.ActivePage() == tabagendar, QStringLiteral("the schedule page is not shown"));
    Control<QDateTimeEdit>(window, QStringLiteral("AdvDateTimePicker1"))
        ->setDateTime(QDateTime::currentDateTime().addSecs(-3600));
    Click(Control(window, QStringLiteral("BitBtn3")));

    // Between "Confirmar" and the wait page's first check.
    const QString settings = SettingsFilePath();
    const QString entry = QFile::decodeName(ShellShortcutPath(kStartupFolder, "Qorvanta").c_str());
    Expect(window.ActivePage() == tabwait, QStringLiteral("the wait page is not shown"));
    Expect(QFileInfo::exists(settings), QStringLiteral("no settings file at %1").arg(settings));
    Expect(QFileInfo::exists(entry), QStringLiteral("no start-up entry at %1").arg(entry));
    Say(QStringLiteral("settings file: %1").arg(QDir::toNativeSeparators(settings)));
    // Read back as the next start reads it: every row as the controls hold it, whatever the
    // code page does to the descriptions.
    const TChangeRequest held = window.RequestFromControls();
    const TChangeRequest stored = ReadSettingsFile(settings, QDateTime()).request;
    for (size_t i = 0; i < held.rows.size(); ++i) {
        const TRatePair& a = held.rows[i];
        const TRatePair& b = stored.rows[i];
        Expect(a.enabled == b.enabled && a.existing == b.existing && a.replacement == b.replacement
                   && a.description == b.description,
               QStringLiteral("row %1 reads back as %2 %3 %4").arg(i + 1).arg(b.existing, b.replacement, b.description));
    }
    Expect(stored.app == window.DetectedApp(), QStringLiteral("the application reads back as %1").arg(AppName(stored.app)));
    Say(QStringLiteral("start-up entry: %1").arg(QDir::toNativeSeparators(entry)));
#ifdef _WIN32
    ReadBackShortcut(entry, QCoreApplication::applicationFilePath());
#endif

    Expect(WaitFor([&] { return !window.isVisible(); }, 60000), QStringLiteral("the program did not end"));
    Expect(!QFileInfo::exists(settings), QStringLiteral("the settings file is still there"));
    Expect(!QFileInfo::exists(entry), QStringLiteral("the start-up entry is still there"));
    Say(QStringLiteral("ended, settings file and start-up entry removed"));
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetApplicationTitle();
    const QStringList args = app.arguments().mid(1);
    const QStringList modes = {QStringLiteral("change"), QStringLiteral("refused"), QStringLiteral("schedule")};
    if (args.size() != 2 || !modes.contains(args[0])) {
        std::fprintf(stderr, "uso: taxas-drive-window change|refused|schedule \"<controlo>=<valor>;...\"\n");
        return 2;
    }
    const QString mode = args[0];

    TOperator user;
    Tmain window;
    try {
        OpenRateEntry(window);
        Fill(window, args[1]);
        if (mode == QLatin1String("schedule")) {
            Schedule(window);
        } else {
            Click(Control(window, QStringLiteral("btalterar")));
            Settle(window);
            if (mode == QLatin1String("change")) {
                Expect(window.ActivePage() == tabconcluido, QStringLiteral("the done page is not shown"));
                Click(Control(window, QStringLiteral("Fechar")));
                Expect(WaitFor([&] { return !window.isVisible(); }, 5000), QStringLiteral("Fechar left the window open"));
            } else {
                Expect(window.ActivePage() == tabexec, QStringLiteral("the rate entry page is not shown"));
                Expect(!user.seen.isEmpty() && user.seen.last().startsWith(kAppTitle + QStringLiteral(": ")),
                       QStringLiteral("no error report"));
            }
        }
    } catch (const TFailed& failed) {
        Say(QStringLiteral("FAILED: ") + QString::fromStdString(failed.what()));
        End(1);
    }
    Say(QStringLiteral("ok"));
    End(0);
}
