#pragma once
// What a change run tells while it goes: how many statements it will send, which row it is
// on, each statement once it has returned, and how many products each row moved. Called on
// the thread that runs the change; an observer that throws makes the run fail (and roll back).

#include "TDbConnection.h"
#include <QString>

struct TStatementReport {
    QString sql;              // as built, before any dialect translation
    TStatementKind kind = TStatementKind::Command;
    qint64 rowsAffected = -1; // commands only; -1 for a read or when the driver does not say
    qint64 microseconds = 0;  // from sending to its return
    int row = 0;              // 0, 1 or 2
    int done = 0;             // statements returned so far, this one included
    int total = 0;            // the run's total as known now
};

class TRunObserver {
public:
    virtual ~TRunObserver() = default;
    // Before the first statement, and again whenever a read's answer changes the count: a
    // missing new rate is assumed (its insert counted) and no optional product column until
    // the probe has looked.
    virtual void TotalChanged(int total) { Q_UNUSED(total); }
    virtual void RowStarted(int row) { Q_UNUSED(row); }
    virtual void StatementDone(const TStatementReport& report) { Q_UNUSED(report); }
    // After the row's last statement: the products its reassignment moved to the new rate
    // (-1 when the driver does not count).
    virtual void RowDone(int row, qint64 productsMoved) { Q_UNUSED(row); Q_UNUSED(productsMoved); }
};
