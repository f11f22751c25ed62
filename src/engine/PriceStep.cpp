#include "ChangeSteps.h"
#include "RequestText.h"
#include <vector>

namespace {

const QStringList kOptionalPriceNames = {QStringLiteral("precovenda2"), QStringLiteral("pvp2"),
                                         QStringLiteral("precovenda3"), QStringLiteral("pvp3"),
                                         QStringLiteral("pvp4"),        QStringLiteral("pvp5")};

TPriceColumns FromFound(const std::vector<bool>& found)
{
    TPriceColumns has;
    has.set2 = found[0] || found[1];
    has.set3 = found[2] || found[3];
    has.pvp4 = found[4];
    has.pvp5 = found[5];
    return has;
}

std::vector<TPriceColumn> BaseSaleColumns(const TAppKind& app)
{
    std::vector<TPriceColumn> out;
    if (IsMeltra(app))
        out.push_back({QStringLiteral("precovenda1"), QStringLiteral("ivavenda"), true});
    else
        out.push_back({QStringLiteral("precovenda"), QStringLiteral("iva")});
    if (IsQuibon(app)) out.push_back({QStringLiteral("precomeia"), QStringLiteral("iva")});
    return out;
}

std::vector<TPriceColumn> OptionalSaleColumns(const TAppKind& app, const TPriceColumns& has)
{
    std::vector<TPriceColumn> out;
    const QString iva = QStringLiteral("iva");
    auto set = [&](const QString& digit) {
        if (IsMeltra(app))
            out.push_back({QStringLiteral("precovenda") + digit, QStringLiteral("ivavenda")});
        else if (IsQuibon(app))
            out.push_back({QStringLiteral("pvp") + digit, iva});
        else
            out.push_back({QStringLiteral("precovenda") + digit, iva});
        if (IsQuibon(app)) out.push_back({QStringLiteral("pvpmeia") + digit, iva});
    };
    if (has.set2) set(QStringLiteral("2"));
    if (has.set3) set(QStringLiteral("3"));
    // pvp4 and pvp5 follow iva on every kind, Meltra included.
    if (has.pvp4) {
        out.push_back({QStringLiteral("pvp4"), iva});
        out.push_back({QStringLiteral("pvpmeia4"), iva});
    }
    if (has.pvp5) {
        out.push_back({QStringLiteral("pvp5"), iva});
        out.push_back({QStringLiteral("pvpmeia5"), iva});
    }
    return out;
}

TPriceColumns ProbePriceColumns(TStatementSink& out)
{
    return FromFound(out.HasColumns(kProductProbe, kOptionalPriceNames));
}

// Divide by the old factor, then at once multiply by the new one: the column holds the net
// value only between these two statements. Both select by the old rate, which the products
// carry until the reassignment at the end of the row.
void Recalculate(TStatementSink& out, const TPriceColumn& c, const QString& oldRate,
                 const QString& newRate)
{
    const QString head = QStringLiteral("UPDATE produtos SET ") + c.column + QLatin1Char('=') + c.column;
    const QString where = QStringLiteral(" WHERE ") + c.selector + QLatin1Char('=') + oldRate;
    out.Command(head + QStringLiteral(" / ") + FactorText(oldRate)
                    + (c.stampsValidity ? QStringLiteral(", validade=GETDATE()") : QString()) + where,
                {TStatementWhat::PriceDivided, c.column});
    out.Command(head + QStringLiteral(" * ") + FactorText(newRate) + where, {TStatementWhat::PriceMultiplied, c.column});
}

void Round(TStatementSink& out, const TPriceColumn& c, const QString& oldRate, const QString& places)
{
    out.Command(QStringLiteral("UPDATE produtos SET ") + c.column + QStringLiteral("= ROUND(") + c.column
                    + QStringLiteral(", ") + places + QStringLiteral(") WHERE ") + c.selector + QLatin1Char('=')
                    + oldRate,
                {TStatementWhat::PriceRounded, c.column});
}

}  // namespace

TPriceColumns PriceColumnsAmong(const QStringList& productColumns)
{
    std::vector<bool> found;
    for (const QString& name : kOptionalPriceNames)
        found.push_back(productColumns.contains(name, Qt::CaseInsensitive));
    return FromFound(found);
}

std::vector<TPriceColumn> WrittenPriceColumns(const TChangeOptions& options, const TAppKind& app,
                                              const TPriceColumns& has)
{
    std::vector<TPriceColumn> out;
    if (options.salePrices) {
        out = BaseSaleColumns(app);
        for (const auto& c : OptionalSaleColumns(app, has))
            out.push_back(c);
    }
    // The rounding rounds the purchase price too, recalculated or not.
    if (options.purchasePrices || options.roundPrices)
        out.push_back({QStringLiteral("precocompra"), QStringLiteral("ivacompra"), false, options.purchasePrices});
    return out;
}

QString RoundingWithoutSaleText()
{
    return QStringLiteral("O arredondamento dos preços só pode ser pedido com a actualização dos preços de venda!");
}

void RecalculatePrices(TStatementSink& out, const QString& oldRate, const QString& newRate,
                       const TChangeOptions& options, const TAppKind& app)
{
    const TPriceColumn purchase{QStringLiteral("precocompra"), QStringLiteral("ivacompra")};

    TPriceColumns has;
    if (options.salePrices) {
        for (const auto& c : BaseSaleColumns(app)) Recalculate(out, c, oldRate, newRate);
        has = ProbePriceColumns(out);
        for (const auto& c : OptionalSaleColumns(app, has)) Recalculate(out, c, oldRate, newRate);
    }

    if (options.purchasePrices) Recalculate(out, purchase, oldRate, newRate);

    if (options.roundPrices) {
        Round(out, purchase, oldRate, options.places);
        for (const auto& c : BaseSaleColumns(app)) Round(out, c, oldRate, options.places);
        for (const auto& c : OptionalSaleColumns(app, has)) Round(out, c, oldRate, options.places);
    }
}
