#pragma once
// A main window as the program makes it, answered by scripted dialogs, shown and active
// on the offscreen platform so that focus and key events behave as on screen; and the few
// pieces the window tests share: installations, requests named as the controls are,
// schedules on disk, the timer's tick.

#include "FakeDialogs.h"
#include "TempInstallation.h"
#include "UserFolders.h"
#include "Tmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

// The question both buttons of the rate entry page ask before anything is changed.
inline const QString kConfirmation = QStringLiteral("Tem a certeza que deseja alterar as taxas de IVA?");

class TWindowHarness {
public:
    TWindowHarness();
    // The window's creation handler reads the settings file: prepare gets the environment
    // (settings file and an empty program file in home(), a fixed clock, a notification
    // area) to change before
    // the window is made. Without show the test shows it itself (show()), after looking at
    // the window as it was made.
    explicit TWindowHarness(const std::function<void(TmainEnvironment&)>& prepare, bool show = true);
    ~TWindowHarness();

    Tmain& window() { return *window_; }
    // A temporary folder of the harness's own, where the settings file is by default.
    QString home() const { return home_.path(); }
    // Shows the window and waits until it is active.
    void show();

    template <typename T = QWidget>
    T* child(const QString& name) const
    {
        T* widget = window_->findChild<T*>(name);
        if (!widget)
            qFatal("no control named %s", qPrintable(name));
        return widget;
    }

    QString focusName() const
    {
        const QWidget* focused = QApplication::focusWidget();
        return focused ? focused->objectName() : QString();
    }
    bool waitFocus(const QString& name) { return QTest::qWaitFor([&] { return focusName() == name; }, 3000); }

    // Presses and releases the mouse on a button, as the operator does (the button takes
    // the focus first), and waits for what it started to end.
    void click(const QString& name);

    // "Li e aceito as condições", detection in the current folder; true when it found an
    // application and "Continuar" has the focus.
    bool acceptConditions();
    // Then "Continuar": true once the rate entry page has given the focus to the first edit.
    bool openRateEntry();

    // Sets controls from "name=value;..." as a paste or the program would (no key filter):
    // check boxes take 1 or 0, edits their text.
    void fill(const QString& fields);
    // The controls named in "name;..." (values, if any, are ignored) in fill()'s form; with
    // no names, every control of the rate entry page that a request is read from.
    QString state(const QString& names = QString()) const;

    TFakeDialogs dialogs;

private:
    QTemporaryDir home_;
    std::unique_ptr<Tmain> window_;
};

// A request named as the rate entry page names its controls ("Taxa1=1;anterior=13;..."):
// what is not named keeps its default.
TChangeRequest RequestOf(const QString& app, const QString& fields);
// Everything a request holds that the settings file keeps, in one comparable text.
QString Describe(const TChangeRequest& request);

// Where "Confirmar" puts the start-up entry.
QString EntryPath();
// A schedule pending in folder as "Confirmar" leaves it beside the program: the settings
// file, the program file and the start-up entry.
void ScheduleIn(const QString& folder, TChangeRequest request, const QDateTime& moment);

// The timer's tick, as the event loop delivers it; waits for the attempt it starts, unless the
// session was busy already.
void Tick(Tmain& window);

// Runs f on the window's thread and waits for it: a statement observer runs on the thread
// of the change, while the window answers from its own.
void OnWindowThread(const std::function<void()>& f);
