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
    QStringList columns, values;
    for (const QString& a : assignments) {
        const int eq = a.indexOf('=');
        columns << a.left(eq);
        values << a.mid(eq + 1);
    }
    inst.exec(QStringLiteral("INSERT INTO produtos (%1) VALUES (%2)").arg(columns.join(", "), values.join(", ")));
    return inst.scalar("SELECT max(rowid) FROM produtos").toLongLong();
}

QVariant Field(const TTempInstallation& inst, qlonglong product, const QString& column)
{
    return inst.scalar(QStringLiteral("SELECT %1 FROM produtos WHERE rowid=%2").arg(column).arg(product));
}

double Cents(double v) { return std::round(v * 100.0) / 100.0; }

#define COMPARE_PRICE(actual, expected)                                                          \
    do {                                                                                         \
        const double a_ = (actual), e_ = (expected);                                             \
        if (std::fabs(a_ - e_) > 1e-6)                                                           \
            QFAIL(qPrintable(QStringLiteral("%1 is %2, expected %3").arg(#actual).arg(a_, 0, 'f', 6).arg(e_, 0, 'f', 6))); \
    } while (0)

std::unique_ptr<TTempInstallation> EmptyInstallation(const QString& app, const QStringList& columns)
{
    TInstallationOptions options;
    options.app = app;
    options.sampleData = false;
    auto inst = std::make_unique<TTempInstallation>(options);
    inst->enter();
    ShapeProducts(*inst, columns);
    inst->exec("DELETE FROM produtos");
    return inst;
}

}  // namespace

class PriceEffectsTest : public QObject {
    Q_OBJECT

private slots:
    // Sale and purchase prices follow their own rate columns; other rates stay as stored.
    void commonApplication()
    {
        auto inst = EmptyInstallation("Varlo", {"precovenda2"});
        SetRates(*inst, {6, 13, 23});
        const auto both = AddProduct(*inst, {"iva=13", "ivacompra=13", "precovenda=10", "precovenda2=20", "precocompra=5"});
        const auto other = AddProduct(*inst, {"iva=23", "ivacompra=23", "precovenda=10", "precovenda2=20", "precocompra=5"});
        const auto saleOnly = AddProduct(*inst, {"iva=13", "ivacompra=6", "precovenda=7.77", "precovenda2=1", "precocompra=3.33"});
        const auto purchaseOnly = AddProduct(*inst, {"iva=6", "ivacompra=13", "precovenda=4.44", "precovenda2=1", "precocompra=9.99"});

        auto db = inst->connect();
        RunChange(*db, Request("Varlo", {On("13", "23", "normal")}, "vcr"), TRunKind::Immediate);

        const double k = 1.23 / 1.13;
        COMPARE_PRICE(Field(*inst, both, "precovenda").toDouble(), Cents(10 / 1.13 * 1.23));
        COMPARE_PRICE(Field(*inst, both, "precovenda2").toDouble(), Cents(20 / 1.13 * 1.23));
        COMPARE_PRICE(Field(*inst, both, "precocompra").toDouble(), Cents(5 / 1.13 * 1.23));
        COMPARE_PRICE(Field(*inst, other, "precovenda").toDouble(), 10.0);
        COMPARE_PRICE(Field(*inst, other, "precocompra").toDouble(), 5.0);
        COMPARE_PRICE(Field(*inst, saleOnly, "precovenda").toDouble(), Cents(7.77 * k));
        COMPARE_PRICE(Field(*inst, saleOnly, "precocompra").toDouble(), 3.33);
        COMPARE_PRICE(Field(*inst, purchaseOnly, "precovenda").toDouble(), 4.44);
        COMPARE_PRICE(Field(*inst, purchaseOnly, "precocompra").toDouble(), Cents(9.99 * k));

        QCOMPARE(Field(*inst, both, "iva").toInt(), 23);
        QCOMPARE(Field(*inst, both, "ivacompra").toInt(), 23);
        QCOMPARE(Field(*inst, saleOnly, "ivacompra").toInt(), 6);
        QCOMPARE(Field(*inst, purchaseOnly, "iva").toInt(), 6);
        QCOMPARE(Field(*inst, purchaseOnly, "ivacompra").toInt(), 23);

        QCOMPARE(inst->scalar("SELECT count(*) FROM iva WHERE factor=13").toInt(), 0);
        QCOMPARE(inst->scalar("SELECT descricao FROM iva WHERE factor=23").toString(), QString("normal"));
    }

    // Rows run one after another: products moved by row 1 are recalculated again by row 2.
    // One-digit rates divide by 1.0x, never by 1.x; nothing is rounded unless asked.
    void chainedRowsAndOneDigitRates()
    {
        auto inst = EmptyInstallation("Tosvel", {});
        SetRates(*inst, {6, 13});
        const auto at6 = AddProduct(*inst, {"iva=6", "ivacompra=6", "precovenda=10", "precocompra=10"});
        const auto at13 = AddProduct(*inst, {"iva=13", "ivacompra=13", "precovenda=10", "precocompra=10"});

        auto db = inst->connect();
        RunChange(*db, Request("Tosvel", {On("6", "13", "13%"), On("13", "23", "23%")}, "v"), TRunKind::Immediate);

        COMPARE_PRICE(Field(*inst, at6, "precovenda").toDouble(), 10 / 1.06 * 1.13 / 1.13 * 1.23);
        COMPARE_PRICE(Field(*inst, at13, "precovenda").toDouble(), 10 / 1.13 * 1.23);
        COMPARE_PRICE(Field(*inst, at6, "precocompra").toDouble(), 10.0);
        QCOMPARE(Field(*inst, at6, "iva").toInt(), 23);
        QCOMPARE(Field(*inst, at13, "ivacompra").toInt(), 23);
        QCOMPARE(inst->scalar("SELECT group_concat(factor) FROM (SELECT factor FROM iva ORDER BY factor)").toString(),
                 QString("23"));
    }

    // Meltra: the sale prices follow ivavenda, pvp4 follows iva, only the precovenda1 divide
    // dates the product, factor2 travels to the new rate, iva itself is never moved.
    void meltra()
    {
        auto inst = EmptyInstallation("Meltra", {"precovenda2", "pvp4", "pvpmeia4"});
        SetRates(*inst, {6, 13});
        inst->exec("UPDATE iva SET factor2 = 7 WHERE factor=13");
        const QStringList prices{"precovenda1=10", "precovenda2=20", "pvp4=30", "pvpmeia4=15", "precocompra=5", "validade=NULL"};
        const auto bySale = AddProduct(*inst, QStringList{"ivavenda=13", "iva=6", "ivacompra=6"} + prices);
        const auto byIva = AddProduct(*inst, QStringList{"ivavenda=6", "iva=13", "ivacompra=13"} + prices);

        auto db = inst->connect();
        RunChange(*db, Request("Meltra", {On("13", "23", "23%")}, "vc"), TRunKind::Immediate);

        const double k = 1.23 / 1.13;
        COMPARE_PRICE(Field(*inst, bySale, "precovenda1").toDouble(), 10 * k);
        COMPARE_PRICE(Field(*inst, bySale, "precovenda2").toDouble(), 20 * k);
        COMPARE_PRICE(Field(*inst, bySale, "pvp4").toDouble(), 30.0);
        COMPARE_PRICE(Field(*inst, bySale, "precocompra").toDouble(), 5.0);
        QVERIFY(!Field(*inst, bySale, "validade").isNull());
        COMPARE_PRICE(Field(*inst, byIva, "precovenda1").toDouble(), 10.0);
        COMPARE_PRICE(Field(*inst, byIva, "pvp4").toDouble(), 30 * k);
        COMPARE_PRICE(Field(*inst, byIva, "pvpmeia4").toDouble(), 15 * k);
        COMPARE_PRICE(Field(*inst, byIva, "precocompra").toDouble(), 5 * k);
        QVERIFY(Field(*inst, byIva, "validade").isNull());

        QCOMPARE(Field(*inst, bySale, "ivavenda").toInt(), 23);
        QCOMPARE(Field(*inst, bySale, "iva").toInt(), 6);
        QCOMPARE(Field(*inst, byIva, "iva").toInt(), 13);
        QCOMPARE(Field(*inst, byIva, "ivacompra").toInt(), 23);
        QCOMPARE(inst->scalar("SELECT factor2 FROM iva WHERE factor=23").toInt(), 7);
        QCOMPARE(inst->scalar("SELECT count(*) FROM iva WHERE factor=13").toInt(), 0);
    }

    // Quibon: the further rate columns, ids, the deleted code and the terminals' defaults,
    // which match the old rate as typed text ("06" leaves a stored "6" alone).
    void quibon_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QVariant>("movedId");
        QTest::newRow("change run") << int(TRunKind::Immediate) << QVariant();
        QTest::newRow("scheduled, first row") << int(TRunKind::Scheduled) << QVariant(0);
    }

    void quibon()
    {
        QFETCH(int, kind);
        QFETCH(QVariant, movedId);

        auto inst = EmptyInstallation("Quibon", OptionalProductColumns());
        SetRates(*inst, {6, 13});
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
        COMPARE_PRICE(Field(*inst, atOld, "precovenda").toDouble(), Cents(10 * k));
        COMPARE_PRICE(Field(*inst, atOld, "precomeia").toDouble(), Cents(5 * k));
        COMPARE_PRICE(Field(*inst, atOld, "pvpmeia2").toDouble(), Cents(10 * k));
        COMPARE_PRICE(Field(*inst, atOld, "precocompra").toDouble(), 4.0);
        COMPARE_PRICE(Field(*inst, atOther, "pvp2").toDouble(), 20.0);

        QCOMPARE(Field(*inst, atOld, "iva").toInt(), 23);
        if (movedId.isValid())
            QCOMPARE(Field(*inst, atOld, "id").toInt(), movedId.toInt());
        else
            QVERIFY(Field(*inst, atOld, "id").isNull());
        QCOMPARE(Field(*inst, atOld, "iva2").toInt(), 23);        // filled after the move
        QCOMPARE(Field(*inst, atOld, "ivarevenda").toInt(), 23);
        QCOMPARE(Field(*inst, atOther, "iva2").toInt(), 13);      // filled with its own rate
        QCOMPARE(Field(*inst, atOther, "id").toInt(), 7);
        QCOMPARE(Field(*inst, secondAtOld, "iva2").toInt(), 23);
        QCOMPARE(Field(*inst, secondAtOld, "iva").toInt(), 13);

        QCOMPARE(inst->rows("SELECT chave, valor FROM configpostos ORDER BY chave"),
                 (QList<QVariantList>{{"IVA AO BALCAO", "13"},
                                      {"IVA NO CONSUMO MINIMO", "23"},
                                      {"IVA POR DEFEITO", "6"},
                                      {"OUTRA CHAVE", "06"}}));
        QCOMPARE(inst->scalar("SELECT group_concat(codigo) FROM iva_apagar").toString(), QString("6"));
        QCOMPARE(inst->scalar("SELECT count(*) FROM iva WHERE factor=6").toInt(), 0);
        QCOMPARE(inst->scalar("SELECT codigo FROM iva WHERE factor=23").toInt(), 23);
    }

    // The old rate kept: its row stays, nothing is recorded as deleted, products move anyway.
    void keepCurrentRate()
    {
        auto inst = EmptyInstallation("Quibon", {});
        SetRates(*inst, {6, 13});
        inst->exec("DELETE FROM iva_apagar");
        const auto p = AddProduct(*inst, {"iva=13", "ivacompra=13", "precovenda=10", "precomeia=5", "precocompra=4"});
        auto db = inst->connect();
        RunChange(*db, Request("Quibon", {On("13", "23", "nova")}, "k"), TRunKind::Immediate);

        QCOMPARE(inst->scalar("SELECT descricao FROM iva WHERE factor=13").toString(), QString("13%"));
        QCOMPARE(inst->scalar("SELECT descricao FROM iva WHERE factor=23").toString(), QString("nova"));
        QCOMPARE(inst->scalar("SELECT count(*) FROM iva_apagar").toInt(), 0);
        QCOMPARE(Field(*inst, p, "iva").toInt(), 23);
        COMPARE_PRICE(Field(*inst, p, "precovenda").toDouble(), 10.0);
    }
};

QTEST_GUILESS_MAIN(PriceEffectsTest)
#include "PriceEffectsTest.moc"
