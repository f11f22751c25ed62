#include "RateCounts.h"

#include "ChangeSteps.h"
#include "RequestText.h"
#include "TDbConnection.h"

#include <QMap>

namespace {

// Products per rate in one rate column: rate -> count.
QMap<qint64, qint64> CountsBy(TDbConnection& db, const QString& column)
{
    QMap<qint64, qint64> counts;
    TOpenRead read(db, QStringLiteral("SELECT %1, COUNT(*) FROM produtos GROUP BY %1").arg(column));
    for (bool row = !db.IsEmpty(); row; row = db.Next()) {
        const QVariantList values = db.Row();
        if (!values.value(0).isNull())
            counts[values.value(0).toLongLong()] += values.value(1).toLongLong();
    }
    read.close();
    return counts;
}

}  // namespace

TProductCount CountProductsAt(TDbConnection& db, TAppKind app, const QString& rate)
{
    if (!IsRateText(rate))
        return {};
    const QString sale = SaleRateColumn(app);
    TOpenRead read(db, QStringLiteral("SELECT SUM(CASE WHEN %1=%2 THEN 1 ELSE 0 END) AS venda, "
                                      "SUM(CASE WHEN ivacompra=%2 THEN 1 ELSE 0 END) AS compra "
                                      "FROM produtos WHERE %1=%2 OR ivacompra=%2")
                           .arg(sale, rate));
    TProductCount count;
    count.sale = db.FieldByName(QStringLiteral("venda"));
    count.purchase = db.FieldByName(QStringLiteral("compra"));
    read.close();
    return count;
}

QList<TRateCount> CountRates(TDbConnection& db, TAppKind app)
{
    QList<TRateCount> rates;
    {
        TOpenRead read(db, QStringLiteral("SELECT factor, descricao FROM iva ORDER BY factor"));
        for (bool row = !db.IsEmpty(); row; row = db.Next()) {
            const QVariantList values = db.Row();
            rates << TRateCount{QString::number(values.value(0).toLongLong()), values.value(1).toString(), {}};
        }
        read.close();
    }
    const QMap<qint64, qint64> sale = CountsBy(db, SaleRateColumn(app));
    const QMap<qint64, qint64> purchase = CountsBy(db, QStringLiteral("ivacompra"));
    for (TRateCount& rate : rates) {
        rate.products.sale = sale.value(rate.rate.toLongLong());
        rate.products.purchase = purchase.value(rate.rate.toLongLong());
    }
    return rates;
}

QString Thousands(qint64 n)
{
    QString digits = QString::number(n);
    for (int i = digits.size() - 3; i > (n < 0 ? 1 : 0); i -= 3)
        digits.insert(i, u' ');
    return digits;
}

QString ProductCountText(const TProductCount& count)
{
    if (count.sale == 0 && count.purchase == 0)
        return QStringLiteral("nenhum produto");
    return Thousands(count.sale) + (count.sale == 1 ? QStringLiteral(" produto") : QStringLiteral(" produtos"))
           + QStringLiteral(" (compra: ") + Thousands(count.purchase) + u')';
}

QString RowText(const TRatePair& row)
{
    return row.existing + QStringLiteral("% → ") + row.replacement + u'%';
}

QString RowPlaceText(const TChangeRequest& request, int row)
{
    int place = 0;
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        if (!request.rows[i].enabled)
            continue;
        ++count;
        if (i <= row)
            ++place;
    }
    return QStringLiteral("Linha %1 de %2: ").arg(place).arg(count) + RowText(request.rows[row]);
}

QString MovedRowText(const TRatePair& row, qint64 moved)
{
    // A server that keeps its row counts to itself (SQL Server with NOCOUNT set for every
    // connection) leaves the row's count unknown: the row is named without one.
    if (moved < 0)
        return RowText(row);
    return RowText(row) + QStringLiteral(": ") + Thousands(moved)
           + (moved == 1 ? QStringLiteral(" produto") : QStringLiteral(" produtos"));
}
