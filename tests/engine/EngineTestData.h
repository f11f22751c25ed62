#pragma once
// Requests and database shapes shared by the engine's tests.

#include "RunObserver.h"
#include "TChangeRequest.h"
#include "TempInstallation.h"
#include <QMetaType>
#include <QStringList>
#include <initializer_list>

// A ticked and an unticked row.
TRatePair On(const QString& e, const QString& n, const QString& d);
TRatePair Off(const QString& e = {}, const QString& n = {}, const QString& d = {});

// options: letters k (keep the current rate), v (sale), c (purchase), r (round).
TChangeRequest Request(const QString& app, std::initializer_list<TRatePair> rows,
                       const QString& options = {}, const QString& places = QStringLiteral("2"));

// Every optional column of produtos the engine may look for.
QStringList OptionalProductColumns();

// Gives produtos exactly the optional columns named (adding or dropping the others).
void ShapeProducts(const TTempInstallation& inst, const QStringList& present);

// Replaces the rate table by rates (factor = codigo, description "<factor>%").
void SetRates(const TTempInstallation& inst, const QList<int>& factors);

// One statement per non-empty line, surrounding blanks of each line dropped.
QStringList Lines(const char* text);

// Everything a run tells its observer.
struct TRecordingObserver : TRunObserver {
    QList<int> totals;
    QList<TStatementReport> reports;
    QList<qint64> moved;  // per row done, in order
    void TotalChanged(int total) override { totals << total; }
    void StatementDone(const TStatementReport& r) override { reports << r; }
    void RowDone(int, qint64 productsMoved) override { moved << productsMoved; }
    QStringList sql() const
    {
        QStringList out;
        for (const auto& r : reports) out << r.sql;
        return out;
    }
};

Q_DECLARE_METATYPE(TChangeRequest)
