// What a run does to real data in SQLite through the real ODBC path: prices divided and
// multiplied to the cent, each price selected by its own rate column, products and the
// further rate columns moved, the rate table and the terminals' defaults rewritten.

#include "ChangeRun.h"
#include "EngineTestData.h"
#include "TDbConnection.h"
#include "TempInstallation.h"
#include <QtTest>
#include <cmath>
#include <memory>

namespace {

// Adds a product with the values given (column=value, SQL literals) and returns its rowid.
qlonglong AddProduct(const TTempInstallation& inst, const QStringList& assignments)
{
    // Every product needs its code, which names it in most schemas.
    static int code = 0;
    QStringList columns{"codigo"}, values{QStringLiteral("'T%1'").arg(++code)};
    for (const QString& a : assignments) {
        const int eq = a.indexOf('=');
        columns << a.left(eq);
        values << a.mid(eq + 1);
    }
    inst.exec(QStringLiteral("INSERT INTO produtos (%1) VALUES (%2)").arg(columns.join(", "), values.join(", ")));
    return inst.scalar("SELECT max(rowid) FROM produtos").toLongLong();
}

const QVariant kNull;
const QVariant kStamped(true);  // any value but NULL

// A product's columns against what is expected: doubles to a millionth, kNull and
// kStamped as named, anything else compared as text.
void Expect(const TTempInstallation& inst, qlonglong product, const QList<QPair<QString, QVariant>>& expected)
{
    QStringList columns;
    for (const auto& e : expected) columns << e.first;
    const QVariantList row =
        inst.rows(QStringLiteral("SELECT %1 FROM produtos WHERE rowid=%2").arg(columns.join(", ")).arg(product)).value(0);
    for (int i = 0; i < expected.size(); ++i) {
        const QVariant got = row.value(i), want = expected[i].second;
        bool same = got.toString() == want.toString();
        if (!want.isValid())
            same = got.isNull();
        else if (want.typeId() == QMetaType::Bool)
            same = !got.isNull();
        else if (want.typeId() == QMetaType::Double)
            same = !got.isNull() && std::fabs(got.toDouble() - want.toDouble()) < 1e-6;
        QVERIFY2(same, qPrintable(QStringLiteral("product %1: %2 is %3, expected %4")
                                      .arg(product).arg(columns[i], got.isNull() ? "NULL" : got.toString(),
                                                        want.isValid() ? want.toString() : "NULL")));
    }
}

double Cents(double v) { return std::round(v * 100.0) / 100.0; }

std::unique_ptr<TTempInstallation> EmptyInstallation(const QString& app, const QStringList& columns,
                                                     const QList<int>& rates)
{
    auto inst = EnteredInstallation(app, false);
    ShapeProducts(*inst, columns);
    inst->exec("DELETE FROM produtos");
    SetRates(*inst, rates);
    return inst;
}

}  // namespace

class PriceEffectsTest : public QObject {
    Q_OBJECT

private slots:
    // Sale and purchase prices follow their own rate columns; other rates stay as stored.
    void commonApplication()
    {
        auto inst = EmptyInstallation("Varlo", {"precovenda2"}, {6, 13, 23});
        const auto both = AddProduct(*inst, {"iva=13", "ivacompra=13", "precovenda=10", "precovenda2=20", "precocompra=5"});
        const auto other = AddProduct(*inst, {"iva=23", "ivacompra=23", "precovenda=10", "precovenda2=20", "precocompra=5"});
        const auto saleOnly = AddProduct(*inst, {"iva=13", "ivacompra=6", "precovenda=7.77", "precovenda2=1", "precocompra=3.33"});
        const auto purchaseOnly = AddProduct(*inst, {"iva=6", "ivacompra=13", "precovenda=4.44", "precovenda2=1", "precocompra=9.99"});

        auto db = inst->connect();
        RunChange(*db, Request("Varlo", {On("13", "23", "normal")}, "vcr"), TRunKind::Immediate);

        const double k = 1.23 / 1.13;
        Expect(*inst, both, {{"precovenda", Cents(10 / 1.13 * 1.23)}, {"precovenda2", Cents(20 / 1.13 * 1.23)},
                             {"precocompra", Cents(5 / 1.13 * 1.23)}, {"iva", 23}, {"ivacompra", 23}});
        Expect(*inst, other, {{"precovenda", 10.0}, {"precocompra", 5.0}});
        Expect(*inst, saleOnly, {{"precovenda", Cents(7.77 * k)}, {"precocompra", 3.33}, {"ivacompra", 6}});
        Expect(*inst, purchaseOnly, {{"precovenda", 4.44}, {"precocompra", Cents(9.99 * k)}, {"iva", 6}, {"ivacompra", 23}});
        QCOMPARE(inst->rows("SELECT factor, descricao FROM iva ORDER BY factor"),
                 (QList<QVariantList>{{6, "6%"}, {23, "normal"}}));
    }

    // Rows run one after another: products moved by row 1 are recalculated again by row 2.
    // One-digit rates divide by 1.0x, never by 1.x; nothing is rounded unless asked.
    void chainedRowsAndOneDigitRates()
    {
        auto inst = EmptyInstallation("Tosvel", {}, {6, 13});
        const auto at6 = AddProduct(*inst, {"iva=6", "ivacompra=6", "precovenda=10", "precocompra=10"});
        const auto at13 = AddProduct(*inst, {"iva=13", "ivacompra=13", "precovenda=10", "precocompra=10"});

        auto db = inst->connect();
        RunChange(*db, Request("Tosvel", {On("6", "13", "13%"), On("13", "23", "23%")}, "v"), TRunKind::Immediate);

        Expect(*inst, at6, {{"precovenda", 10 / 1.06 * 1.13 / 1.13 * 1.23}, {"precocompra", 10.0}, {"iva", 23}});
        Expect(*inst, at13, {{"precovenda", 10 / 1.13 * 1.23}, {"ivacompra", 23}});
        QCOMPARE(inst->scalar("SELECT group_concat(factor) FROM iva").toString(), QString("23"));
    }

    // Meltra: the sale prices follow ivavenda, pvp4 follows iva, only the precovenda1 divide
    // dates the product, factor2 travels to the new rate, iva itself is never moved.
    void meltra()
    {
        auto inst = EmptyInstallation("Meltra", {"precovenda2", "pvp4", "pvpmeia4"}, {6, 13});
        inst->exec("UPDATE iva SET factor2 = 7 WHERE factor=13");
        const QStringList prices{"precovenda1=10", "precovenda2=20", "pvp4=30", "pvpmeia4=15", "precocompra=5", "validade=NULL"};
        const auto bySale = AddProduct(*inst, QStringList{"ivavenda=13", "iva=6", "ivacompra=6"} + prices);
        const auto byIva = AddProduct(*inst, QStringList{"ivavenda=6", "iva=13", "ivacompra=13"} + prices);

        auto db = inst->connect();
        RunChange(*db, Request("Meltra", {On("13", "23", "23%")}, "vc"), TRunKind::Immediate);

        const double k = 1.23 / 1.13;
        Expect(*inst, bySale, {{"precovenda1", 10 * k}, {"precovenda2", 20 * k}, {"pvp4", 30.0}, {"precocompra", 5.0},
                               {"validade", kStamped}, {"ivavenda", 23}, {"iva", 6}});
        Expect(*inst, byIva, {{"precovenda1", 10.0}, {"pvp4", 30 * k}, {"pvpmeia4", 15 * k}, {"precocompra", 5 * k},
                              {"validade", kNull}, {"iva", 13}, {"ivacompra", 23}});
        QCOMPARE(inst->rows("SELECT factor, factor2 FROM iva ORDER BY factor"),
                 (QList<QVariantList>{{6, 0}, {23, 7}}));
    }

    // Quibon: the further rate columns, ids, the deleted code and the terminals' defaults,
    // which match the old rate as typed text ("06" leaves a stored "6" alone).
    void quibon_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QVariant>("movedId");
        QTest::newRow("change run") << int(TRunKind::Immediate) << kNull;
        QTest::newRow("scheduled, first row") << int(TRunKind::Scheduled) << QVariant(0);
    }

    void quibon()
    {
        QFETCH(int, kind);
        QFETCH(QVariant, movedId);

        auto inst = EmptyInstallation("Quibon", OptionalProductColumns(), {6, 13});
        inst->exec("DELETE FROM iva_apagar");
        inst->exec("DELETE FROM configpostos");
        for (const char* kv : {"'IVA POR DEFEITO', '6'", "'IVA NO CONSUMO MINIMO', '06'", "'IVA AO BALCAO', '13'",
                               "'OUTRA CHAVE', '06'"})
            inst->exec(QStringLiteral("INSERT INTO configpostos (chave, valor) VALUES (%1)").arg(kv));
        const QStringList prices{"precovenda=10", "precomeia=5", "pvp2=20", "pvpmeia2=10", "precocompra=4"};
        const auto atOld = AddProduct(*inst, QStringList{"iva=6", "ivacompra=6", "iva2=NULL", "ivarevenda=6", "id=5"} + prices);
        const auto atOther = AddProduct(*inst, QStringList{"iva=13", "ivacompra=13", "iva2=NULL", "ivarevenda=13", "id=7"} + prices);
        const auto secondAtOld = AddProduct(*inst, QStringList{"iva=13", "ivacompra=13", "iva2=6", "ivarevenda=13", "id=9"} + prices);

        auto db = inst->connect();
        RunChange(*db, Request("Quibon", {On("06", "23", "23%")}, "vr"), TRunKind(kind));

        const double k = 1.23 / 1.06;
        // iva2 is filled after the move, so an empty one takes the product's new sale rate.
        Expect(*inst, atOld, {{"precovenda", Cents(10 * k)}, {"precomeia", Cents(5 * k)}, {"pvpmeia2", Cents(10 * k)},
                              {"precocompra", 4.0}, {"iva", 23}, {"id", movedId}, {"iva2", 23}, {"ivarevenda", 23}});
        Expect(*inst, atOther, {{"pvp2", 20.0}, {"iva2", 13}, {"id", 7}});
        Expect(*inst, secondAtOld, {{"iva2", 23}, {"iva", 13}});

        QCOMPARE(inst->rows("SELECT chave, valor FROM configpostos ORDER BY chave"),
                 (QList<QVariantList>{{"IVA AO BALCAO", "13"},
                                      {"IVA NO CONSUMO MINIMO", "23"},
                                      {"IVA POR DEFEITO", "6"},
                                      {"OUTRA CHAVE", "06"}}));
        QCOMPARE(inst->scalar("SELECT group_concat(codigo) FROM iva_apagar").toString(), QString("6"));
        QCOMPARE(inst->rows("SELECT codigo, factor FROM iva ORDER BY factor"), (QList<QVariantList>{{13, 13}, {23, 23}}));
    }

    // The old rate kept: its row stays, nothing is recorded as deleted, products move anyway.
    void keepCurrentRate()
    {
        auto inst = EmptyInstallation("Quibon", {}, {6, 13});
        inst->exec("DELETE FROM iva_apagar");
        const auto p = AddProduct(*inst, {"iva=13", "ivacompra=13", "precovenda=10", "precomeia=5", "precocompra=4"});
        auto db = inst->connect();
        RunChange(*db, Request("Quibon", {On("13", "23", "nova")}, "k"), TRunKind::Immediate);

        QCOMPARE(inst->rows("SELECT factor, descricao FROM iva ORDER BY factor"),
                 (QList<QVariantList>{{6, "6%"}, {13, "13%"}, {23, "nova"}}));
        QCOMPARE(inst->scalar("SELECT count(*) FROM iva_apagar").toInt(), 0);
        Expect(*inst, p, {{"iva", 23}, {"precovenda", 10.0}});
    }
};

QTEST_GUILESS_MAIN(PriceEffectsTest)
#include "PriceEffectsTest.moc"
