#include "ChangeSteps.h"

const QStringList kTerminalKeys = {QStringLiteral("IVA POR DEFEITO"), QStringLiteral("IVA NO CONSUMO MINIMO"),
                                   QStringLiteral("IVA AO BALCAO")};

QString SaleRateColumn(TAppKind app)
{
    return IsMeltra(app) ? QStringLiteral("ivavenda") : QStringLiteral("iva");
}

qint64 ReassignRates(TStatementSink& out, const QString& oldRate, const QString& newRate,
                   const TAppKind& app, TRunVariant variant)
{
    qint64 moved = -1;
    if (IsMeltra(app)) {
        moved = out.Command(QStringLiteral("UPDATE produtos SET ivavenda = ") + newRate
                                + QStringLiteral(" WHERE ivavenda=") + oldRate,
                            {TStatementWhat::SaleRateMoved, QStringLiteral("ivavenda")});
    } else if (IsQuibon(app)) {
        // A moved product's id is cleared; the first row of a scheduled change writes 0
        // instead, as its insert of a missing rate does.
        const QString id = variant == TRunVariant::ScheduledFirstRow ? QStringLiteral("0")
                                                                     : QStringLiteral("NULL");
        moved = out.Command(QStringLiteral("UPDATE produtos SET iva = ") + newRate + QStringLiteral(", id = ") + id
                                + QStringLiteral(" WHERE iva=") + oldRate,
                            {TStatementWhat::SaleRateMoved, QStringLiteral("iva")});
    } else {
        moved = out.Command(QStringLiteral("UPDATE produtos SET iva = ") + newRate
                                + QStringLiteral(" WHERE iva=") + oldRate,
                            {TStatementWhat::SaleRateMoved, QStringLiteral("iva")});
    }

    out.Command(QStringLiteral("UPDATE produtos SET ivacompra = ") + newRate + QStringLiteral(" WHERE ivacompra=")
                    + oldRate,
                {TStatementWhat::PurchaseRateMoved, QStringLiteral("ivacompra")});

    if (!IsQuibon(app)) return moved;

    const std::vector<bool> found = out.HasColumns(kProductProbe, {QStringLiteral("iva2"), QStringLiteral("ivarevenda")});
    const bool hasIva2 = found[0];
    const bool hasResale = found[1];
    if (hasIva2) {
        out.Command(QStringLiteral("UPDATE produtos SET iva2 = ") + newRate + QStringLiteral(" WHERE iva2=") + oldRate,
                    {TStatementWhat::SecondRateMoved, QStringLiteral("iva2")});
        // After the move of iva above, so an empty iva2 takes the product's new sale rate.
        out.Command(QStringLiteral("UPDATE produtos SET iva2 = iva WHERE iva2 IS NULL"),
                    {TStatementWhat::SecondRateFilled, QStringLiteral("iva2")});
    }
    if (hasResale)
        out.Command(QStringLiteral("UPDATE produtos SET ivarevenda = ") + newRate
                        + QStringLiteral(" WHERE ivarevenda = ") + oldRate,
                    {TStatementWhat::ResaleRateMoved, QStringLiteral("ivarevenda")});

    // The terminals keep their defaults as text: only a value written exactly as the old
    // rate was typed is moved ("06" does not match a stored "6").
    for (const QString& key : kTerminalKeys)
        out.Command(QStringLiteral("UPDATE configpostos SET valor = '") + newRate + QStringLiteral("' WHERE (chave = '")
                        + key + QStringLiteral("') AND (valor = '") + oldRate + QStringLiteral("')"),
                    {TStatementWhat::TerminalDefault, key});
    return moved;
}
