#pragma once
// A main window as the program makes it, answered by scripted dialogs, shown and active
// on the offscreen platform so that focus and key events behave as on screen.

#include "FakeDialogs.h"
#include "Tmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

class TWindowHarness {
public:
    TWindowHarness();
    // The window's creation handler reads the settings file: prepare gets the environment
    // (settings file and executable in home(), a fixed clock) to change before the window
    // is made. Without show the test shows it itself (show()), after looking at the window
    // as it was made.
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

    // Presses and releases the mouse on a button, as the operator does (the button takes
    // the focus first).
    void click(const QString& name);

    // "Li e aceito as condições", detection in the current folder; true when it found an
    // application and "Continuar" has the focus.
    bool acceptConditions();
    // Then "Continuar": true once the rate entry page has given the focus to the first edit.
    bool openRateEntry();

    // Sets controls from "name=value;..." as a paste or the program would (no key filter):
    // check boxes take 1 or 0, edits their text.
    void fill(const QString& fields);

    bool waitFocus(const QString& name) { return QTest::qWaitFor([&] { return focusName() == name; }, 3000); }

    TFakeDialogs dialogs;

private:
    QTemporaryDir home_;
    std::unique_ptr<Tmain> window_;
};
