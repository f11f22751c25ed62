#pragma once
// While a change runs, the operating system is asked to hold a log-off or shut-down, with the
// reason it shows the user (Windows lists it on its "programs still running" screen). The
// refusal itself goes through Qt's session manager; elsewhere these do nothing.

#include <QString>
#include <QtGlobal>

// window: the native handle of the program's window (QWidget::winId).
void HoldSessionEnd(quintptr window, const QString& reason);
void ReleaseSessionEnd(quintptr window);
