#include "ChangeSteps.h"
#include "RequestText.h"
#include "TDbConnection.h"

void UpdateRateTable(TDbConnection& db, const TRatePair& row, bool keepCurrentRate,
                     const TAppKind& app, TRunVariant variant)
{
    const QString& e = row.existing;
    const QString& n = row.replacement;

    bool missing = false;
    {
        TOpenRead read(db, QStringLiteral("SELECT * FROM iva WHERE factor=") + n);
        missing = db.IsEmpty();
        read.close();
    }
    if (missing) {
        // Quibon installations expect id 0 on the rate that the first row of a scheduled
        // change adds; every other insert leaves id to the database.
        if (IsQuibon(app) && variant == TRunVariant::ScheduledFirstRow)
            SendCommand(db, QStringLiteral("INSERT INTO iva (id, codigo, factor) VALUES (0, ") + n
                                + QLatin1Char(',') + n + QLatin1Char(')'));
        else
            SendCommand(db, QStringLiteral("INSERT INTO iva (codigo, factor) VALUES (") + n
                                + QLatin1Char(',') + n + QLatin1Char(')'));
    }

    SendCommand(db, QStringLiteral("UPDATE iva SET descricao = '") + QuotedText(row.description)
                        + QStringLiteral("' WHERE factor=") + n);

    // factor2 is copied before the old row goes, since that row is its source.
    if (IsMeltra(app))
        SendCommand(db, QStringLiteral("UPDATE iva SET factor2 = (SELECT factor2 FROM iva WHERE factor=")
                            + e + QStringLiteral(") WHERE factor=") + n);

    if (RateInteger(e) != RateInteger(n) && !keepCurrentRate) {
        SendCommand(db, QStringLiteral("DELETE FROM iva WHERE factor=") + e);
        if (IsQuibon(app))
            SendCommand(db, QStringLiteral("INSERT INTO iva_apagar (codigo) VALUES (") + e
                                + QLatin1Char(')'));
    }
}
