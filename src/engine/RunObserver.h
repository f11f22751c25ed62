#pragma once
// What a change run tells while it goes: how many statements it will send, which row it is
// on, each statement once it has returned, and how many products each row moved. Called on
// the thread that runs the change; an observer that throws makes the run fail (and roll back).

#include "TDbConnection.h"
#include <QString>

// What a command does to the database, for those who count the rows it changed.
struct TStatementWhat {
    enum TKind {
        Read,                // a look-up or a column probe
        RateInserted,        // the new rate's row in iva
        RateDescribed,       // its description
        RateSecondFactor,    // Meltra's factor2 copied
        RateDeleted,         // the old rate's row removed
        RateDeletedRecorded, // Quibon's iva_apagar
        PriceDivided,        // column: the price column
        PriceMultiplied,     // column: the price column
        PriceRounded,        // column: the price column
        SaleRateMoved,       // column: iva or ivavenda
        PurchaseRateMoved,   // ivacompra
        SecondRateMoved,     // iva2
        SecondRateFilled,    // an empty iva2 given the sale rate
        ResaleRateMoved,     // ivarevenda
        TerminalDefault,     // column: the configpostos key
    } kind = Read;
    QString column;

    TStatementWhat() = default;
    TStatementWhat(TKind k, const QString& c = QString()) : kind(k), column(c) {}
};

struct TStatementReport {
    QString sql;              // as built, before any dialect translation
    TStatementKind kind = TStatementKind::Command;
    qint64 rowsAffected = -1; // commands only; -1 for a read or when the driver does not say
    qint64 microseconds = 0;  // from sending to its return
    int row = 0;              // 0, 1 or 2
    int done = 0;             // statements returned so far, this one included
    int total = 0;            // the run's total as known now
    TStatementWhat what;
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
    // Work that is not a handful of statements (an undo puts products back one by one): how
    // far it has gone.
    virtual void Progress(qint64 done, qint64 total) { Q_UNUSED(done); Q_UNUSED(total); }
};
