#include "EngineTestData.h"

#include <QMap>

TRatePair On(const QString& e, const QString& n, const QString& d) { return {true, e, n, d}; }
TRatePair Off(const QString& e, const QString& n, const QString& d) { return {false, e, n, d}; }

TChangeRequest Request(const QString& app, std::initializer_list<TRatePair> rows,
                       const QString& options, const QString& places)
{
    TChangeRequest r;
    r.app = AppKindNamed(app).value_or(TAppKind::None);
    int i = 0;
    for (const auto& row : rows)
        if (i < 3) r.rows[i++] = row;
    r.options.keepCurrentRate = options.contains(QLatin1Char('k'));
    r.options.salePrices = options.contains(QLatin1Char('v'));
    r.options.purchasePrices = options.contains(QLatin1Char('c'));
    r.options.roundPrices = options.contains(QLatin1Char('r'));
    r.options.places = places;
    return r;
}

QStringList OptionalProductColumns()
{
    return {"precovenda2", "precovenda3", "pvp2", "pvp3", "pvp4", "pvp5",
            "pvpmeia2", "pvpmeia3", "pvpmeia4", "pvpmeia5", "iva2", "ivarevenda"};
}

void ShapeProducts(const TTempInstallation& inst, const QStringList& present)
{
    QStringList existing;
    for (const auto& row : inst.rows("PRAGMA table_info(produtos)"))
        existing << row.value(1).toString().toLower();
    // A column named with its type ("ivarevenda NUMERIC") is made anew with that type, empty.
    QMap<QString, QString> types;
    for (const QString& entry : present)
        types[entry.section(' ', 0, 0)] = entry.section(' ', 1);
    for (const QString& column : OptionalProductColumns()) {
        const bool want = types.contains(column);
        const bool has = existing.contains(column) && types.value(column).isEmpty();
        if (want && !has && existing.contains(column))
            inst.exec(QStringLiteral("ALTER TABLE produtos DROP COLUMN %1").arg(column));
        if (want && !has) {
            const bool rate = column.startsWith("iva");
            const QString type = types[column].isEmpty() ? (rate ? "INTEGER" : "NUMERIC(15,4)") : types[column];
            inst.exec(QStringLiteral("ALTER TABLE produtos ADD COLUMN %1 %2").arg(column, type));
        } else if (!want && has) {
            inst.exec(QStringLiteral("ALTER TABLE produtos DROP COLUMN %1").arg(column));
        }
    }
}

void SetRates(const TTempInstallation& inst, const QList<int>& factors)
{
    inst.exec("DELETE FROM iva");
    for (int f : factors)
        inst.exec(QStringLiteral("INSERT INTO iva (codigo, factor, descricao) VALUES (%1, %1, '%1%')").arg(f));
}

QStringList Lines(const char* text)
{
    QStringList out;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        if (!t.isEmpty()) out << t;
    }
    return out;
}
