#include "ChangeSteps.h"
#include "RequestText.h"

void UpdateRateTable(TStatementSink& out, const TRatePair& row, bool keepCurrentRate,
                     const TAppKind& app, TRunVariant variant)
{
    const QString& e = row.existing;
    const QString& n = row.replacement;

    if (!out.HasRow(QStringLiteral("SELECT * FROM iva WHERE factor=") + n)) {
        // Quibon installations expect id 0 on the rate that the first row of a scheduled
        // change adds; every other insert leaves id to the database.
        if (IsQuibon(app) && variant == TRunVariant::ScheduledFirstRow)
            out.Command(QStringLiteral("INSERT INTO iva (id, codigo, factor) VALUES (0, ") + n
                                + QLatin1Char(',') + n + QLatin1Char(')'), {TStatementWhat::RateInserted});
        else
            out.Command(QStringLiteral("INSERT INTO iva (codigo, factor) VALUES (") + n
                                + QLatin1Char(',') + n + QLatin1Char(')'), {TStatementWhat::RateInserted});
    }

    out.Command(QStringLiteral("UPDATE iva SET descricao = '") + QuotedText(row.description)
                        + QStringLiteral("' WHERE factor=") + n, {TStatementWhat::RateDescribed});

    // factor2 is copied before the old row goes, since that row is its source.
    if (IsMeltra(app))
        out.Command(QStringLiteral("UPDATE iva SET factor2 = (SELECT factor2 FROM iva WHERE factor=")
                            + e + QStringLiteral(") WHERE factor=") + n, {TStatementWhat::RateSecondFactor});

    if (RateInteger(e) != RateInteger(n) && !keepCurrentRate) {
        out.Command(QStringLiteral("DELETE FROM iva WHERE factor=") + e, {TStatementWhat::RateDeleted});
        if (IsQuibon(app))
            out.Command(QStringLiteral("INSERT INTO iva_apagar (codigo) VALUES (") + e
                                + QLatin1Char(')'), {TStatementWhat::RateDeletedRecorded});
    }
}
