#pragma once
// A session driven as the window drives it, for one command: the window's settings file and
// program, every question answered yes (the command line is the confirmation), and a wait for
// each thing asked of it that ends with the exit code of what it said. Ctrl+C cancels a change
// under way (its end is then waited for) and ends any other wait at once: a login or a
// look-up changes nothing.

#include "ChangeSession.h"

#include <QEventLoop>
#include <QTimer>
#include <optional>

class TReport;

// The window program beside this one, which the start-up entry starts.
QString WindowProgramPath();

class TSessionDriver {
public:
    explicit TSessionDriver(TReport& report);

    TChangeSession& session() { return session_; }

    // Runs the event loop until what was asked of the session has ended; its exit code.
    int Wait();

    // Detection as page 1 makes it: 0 once the application's database is open.
    int Detect();

    // The session's undo of id; its failures are then told as the undo's own.
    void Undo(const QString& id);

    const QList<TRateCount>& rates() const { return rates_; }
    const TSimulation& simulation() const { return simulation_; }
    const TRunEnd& runEnd() const { return runEnd_; }
    int statements() const { return statements_; }

    // This process's run in the record, once one has ended: its id holds the process's, and it
    // started after this session did (a command makes one run at most).
    std::optional<TRecordedRun> RecordedRun() const;

private:
    void End(int code);
    void ShowProgress();
    void RunEnded(const TRunEnd& end);
    void Interrupt();

    TReport& report_;
    QEventLoop loop_;
    QTimer interrupts_;
    TChangeSession session_;
    std::optional<int> code_;
    bool interrupted_ = false;
    QDateTime created_ = QDateTime::currentDateTime();
    bool ran_ = false;
    bool undoing_ = false;

    TAppKind probed_ = TAppKind::None;
    TDetection detection_;
    QList<TRateCount> rates_;
    TSimulation simulation_;
    TRunEnd runEnd_;
    int row_ = -1;
    int statements_ = 0;
    int total_ = 0;
};
