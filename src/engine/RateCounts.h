#pragma once
// How many products carry a rate, as the operator types it and in the rate table's list:
// reads only, one set-based statement each, whatever the number of products.

#include "TChangeRequest.h"

#include <QList>
#include <QString>

class TDbConnection;

struct TProductCount {
    qint64 sale = 0;      // as their sale rate (ivavenda on Meltra, iva elsewhere)
    qint64 purchase = 0;  // as their purchase rate (ivacompra)
};

// The products that carry rate (one or two digits, as typed). Raises TDbError.
TProductCount CountProductsAt(TDbConnection& db, TAppKind app, const QString& rate);

struct TRateCount {
    QString rate;         // the rate table's factor, as a whole number
    QString description;
    TProductCount products;
};

// Every rate of the rate table in order, with the products that carry it. Raises TDbError.
QList<TRateCount> CountRates(TDbConnection& db, TAppKind app);

// "1 234 produtos (compra: 1 180)", "1 produto (compra: 0)", "nenhum produto".
QString ProductCountText(const TProductCount& count);

// "1 234": thousands apart by a space, as Portuguese writes them.
QString Thousands(qint64 n);

// "13% → 23%"
QString RowText(const TRatePair& row);

// "Linha 2 de 3: 13% → 23%": row among the rows the request uses, as a run reaches it.
QString RowPlaceText(const TChangeRequest& request, int row);

// "13% → 23%: 1 234 produtos", the products a change moved at row; the row alone when the
// count is unknown (moved < 0).
QString MovedRowText(const TRatePair& row, qint64 moved);
