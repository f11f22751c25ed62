// The exact statements a run sends, in order, for each application kind and option, and
// that a request whose texts cannot stand in a statement sends nothing at all.

#include "ChangeRun.h"
#include "EngineTestData.h"
#include "TDbConnection.h"
#include "TempInstallation.h"
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(TRunKind)

namespace {

// Stretches that many cases share, each written once; every statement is still literal text.
const char* const kAdd23 = R"(
SELECT * FROM iva WHERE factor=23
INSERT INTO iva (codigo, factor) VALUES (23,23)
UPDATE iva SET descricao = '23%' WHERE factor=23
)";
const char* const kDelete13 = "DELETE FROM iva WHERE factor=13";
const char* const kRecord13 = "INSERT INTO iva_apagar (codigo) VALUES (13)";
const char* const kMove13 = R"(
UPDATE produtos SET iva = 23 WHERE iva=13
UPDATE produtos SET ivacompra = 23 WHERE ivacompra=13
)";
const char* const kQuibonMove13 = R"(
UPDATE produtos SET iva = 23, id = NULL WHERE iva=13
UPDATE produtos SET ivacompra = 23 WHERE ivacompra=13
SELECT TOP 1 * FROM produtos
)";
const char* const kTerminals13 = R"(
UPDATE configpostos SET valor = '23' WHERE (chave = 'IVA POR DEFEITO') AND (valor = '13')
UPDATE configpostos SET valor = '23' WHERE (chave = 'IVA NO CONSUMO MINIMO') AND (valor = '13')
UPDATE configpostos SET valor = '23' WHERE (chave = 'IVA AO BALCAO') AND (valor = '13')
)";

const char* const kWorkedExample = R"(
SELECT * FROM iva WHERE factor=23
INSERT INTO iva (codigo, factor) VALUES (23,23)
UPDATE iva SET descricao = '23%' WHERE factor=23
DELETE FROM iva WHERE factor=13
UPDATE produtos SET precovenda=precovenda / 1.13 WHERE iva=13
UPDATE produtos SET precovenda=precovenda * 1.23 WHERE iva=13
SELECT TOP 1 * FROM produtos
UPDATE produtos SET precocompra=precocompra / 1.13 WHERE ivacompra=13
UPDATE produtos SET precocompra=precocompra * 1.23 WHERE ivacompra=13
UPDATE produtos SET precocompra= ROUND(precocompra, 2) WHERE ivacompra=13
UPDATE produtos SET precovenda= ROUND(precovenda, 2) WHERE iva=13
UPDATE produtos SET iva = 23 WHERE iva=13
UPDATE produtos SET ivacompra = 23 WHERE ivacompra=13
)";

// After kAdd23: factor2 travels, sets 2 and 3 follow ivavenda, pvp4 and pvp5 follow iva.
const char* const kMeltraEverything = R"(
UPDATE iva SET factor2 = (SELECT factor2 FROM iva WHERE factor=13) WHERE factor=23
DELETE FROM iva WHERE factor=13
UPDATE produtos SET precovenda1=precovenda1 / 1.13, validade=GETDATE() WHERE ivavenda=13
UPDATE produtos SET precovenda1=precovenda1 * 1.23 WHERE ivavenda=13
SELECT TOP 1 * FROM produtos
UPDATE produtos SET precovenda2=precovenda2 / 1.13 WHERE ivavenda=13
UPDATE produtos SET precovenda2=precovenda2 * 1.23 WHERE ivavenda=13
UPDATE produtos SET precovenda3=precovenda3 / 1.13 WHERE ivavenda=13
UPDATE produtos SET precovenda3=precovenda3 * 1.23 WHERE ivavenda=13
UPDATE produtos SET pvp4=pvp4 / 1.13 WHERE iva=13
UPDATE produtos SET pvp4=pvp4 * 1.23 WHERE iva=13
UPDATE produtos SET pvpmeia4=pvpmeia4 / 1.13 WHERE iva=13
UPDATE produtos SET pvpmeia4=pvpmeia4 * 1.23 WHERE iva=13
UPDATE produtos SET pvp5=pvp5 / 1.13 WHERE iva=13
UPDATE produtos SET pvp5=pvp5 * 1.23 WHERE iva=13
UPDATE produtos SET pvpmeia5=pvpmeia5 / 1.13 WHERE iva=13
UPDATE produtos SET pvpmeia5=pvpmeia5 * 1.23 WHERE iva=13
UPDATE produtos SET precocompra=precocompra / 1.13 WHERE ivacompra=13
UPDATE produtos SET precocompra=precocompra * 1.23 WHERE ivacompra=13
UPDATE produtos SET precocompra= ROUND(precocompra, 3) WHERE ivacompra=13
UPDATE produtos SET precovenda1= ROUND(precovenda1, 3) WHERE ivavenda=13
UPDATE produtos SET precovenda2= ROUND(precovenda2, 3) WHERE ivavenda=13
UPDATE produtos SET precovenda3= ROUND(precovenda3, 3) WHERE ivavenda=13
UPDATE produtos SET pvp4= ROUND(pvp4, 3) WHERE iva=13
UPDATE produtos SET pvpmeia4= ROUND(pvpmeia4, 3) WHERE iva=13
UPDATE produtos SET pvp5= ROUND(pvp5, 3) WHERE iva=13
UPDATE produtos SET pvpmeia5= ROUND(pvpmeia5, 3) WHERE iva=13
UPDATE produtos SET ivavenda = 23 WHERE ivavenda=13
UPDATE produtos SET ivacompra = 23 WHERE ivacompra=13
)";

// The 34 price statements (the probe among them) of one Quibon row with every optional
// column and every option, in three stretches: base prices and the probe, set 2, the rest.
const char* const kQuibonBasePrices = R"(
UPDATE produtos SET precovenda=precovenda / 1.13 WHERE iva=13
UPDATE produtos SET precovenda=precovenda * 1.23 WHERE iva=13
UPDATE produtos SET precomeia=precomeia / 1.13 WHERE iva=13
UPDATE produtos SET precomeia=precomeia * 1.23 WHERE iva=13
SELECT TOP 1 * FROM produtos
)";
const char* const kQuibonSet2 = R"(
UPDATE produtos SET pvp2=pvp2 / 1.13 WHERE iva=13
UPDATE produtos SET pvp2=pvp2 * 1.23 WHERE iva=13
UPDATE produtos SET pvpmeia2=pvpmeia2 / 1.13 WHERE iva=13
UPDATE produtos SET pvpmeia2=pvpmeia2 * 1.23 WHERE iva=13
)";
const char* const kQuibonOtherPrices = R"(
UPDATE produtos SET pvp3=pvp3 / 1.13 WHERE iva=13
UPDATE produtos SET pvp3=pvp3 * 1.23 WHERE iva=13
UPDATE produtos SET pvpmeia3=pvpmeia3 / 1.13 WHERE iva=13
UPDATE produtos SET pvpmeia3=pvpmeia3 * 1.23 WHERE iva=13
UPDATE produtos SET pvp4=pvp4 / 1.13 WHERE iva=13
UPDATE produtos SET pvp4=pvp4 * 1.23 WHERE iva=13
UPDATE produtos SET pvpmeia4=pvpmeia4 / 1.13 WHERE iva=13
UPDATE produtos SET pvpmeia4=pvpmeia4 * 1.23 WHERE iva=13
UPDATE produtos SET pvp5=pvp5 / 1.13 WHERE iva=13
UPDATE produtos SET pvp5=pvp5 * 1.23 WHERE iva=13
UPDATE produtos SET pvpmeia5=pvpmeia5 / 1.13 WHERE iva=13
UPDATE produtos SET pvpmeia5=pvpmeia5 * 1.23 WHERE iva=13
UPDATE produtos SET precocompra=precocompra / 1.13 WHERE ivacompra=13
UPDATE produtos SET precocompra=precocompra * 1.23 WHERE ivacompra=13
UPDATE produtos SET precocompra= ROUND(precocompra, 2) WHERE ivacompra=13
UPDATE produtos SET precovenda= ROUND(precovenda, 2) WHERE iva=13
UPDATE produtos SET precomeia= ROUND(precomeia, 2) WHERE iva=13
UPDATE produtos SET pvp2= ROUND(pvp2, 2) WHERE iva=13
UPDATE produtos SET pvpmeia2= ROUND(pvpmeia2, 2) WHERE iva=13
UPDATE produtos SET pvp3= ROUND(pvp3, 2) WHERE iva=13
UPDATE produtos SET pvpmeia3= ROUND(pvpmeia3, 2) WHERE iva=13
UPDATE produtos SET pvp4= ROUND(pvp4, 2) WHERE iva=13
UPDATE produtos SET pvpmeia4= ROUND(pvpmeia4, 2) WHERE iva=13
UPDATE produtos SET pvp5= ROUND(pvp5, 2) WHERE iva=13
UPDATE produtos SET pvpmeia5= ROUND(pvpmeia5, 2) WHERE iva=13
)";

QStringList Concat(std::initializer_list<const char*> parts)
{
    QStringList out;
    for (const char* p : parts) out << Lines(p);
    return out;
}

}  // namespace

class StatementSequenceTest : public QObject {
    Q_OBJECT

private slots:
    void sequence_data()
    {
        QTest::addColumn<QStringList>("columns");   // optional columns of produtos
        QTest::addColumn<QList<int>>("rates");      // factors in iva beforehand
        QTest::addColumn<TChangeRequest>("request");
        QTest::addColumn<TRunKind>("kind");
        QTest::addColumn<QStringList>("expected");

        const auto now = TRunKind::Immediate;
        const auto later = TRunKind::Scheduled;
        const QStringList all = OptionalProductColumns(), none;
        const QList<int> std{6, 13};
        const TRatePair row13 = On("13", "23", "23%");

        QTest::newRow("Varlo worked example")
            << none << std << Request("Varlo", {row13}, "vcr") << now << Lines(kWorkedExample);
        QTest::newRow("Meltra with sets 2 and 3, pvp4 and pvp5")
            << QStringList{"precovenda2", "precovenda3", "pvp4", "pvpmeia4", "pvp5", "pvpmeia5"} << std
            << Request("Meltra", {row13}, "vcr", "3") << now << Concat({kAdd23, kMeltraEverything});

        const QStringList quibonPrices = Concat({kQuibonBasePrices, kQuibonSet2, kQuibonOtherPrices});
        QCOMPARE(quibonPrices.size(), 34);
        QTest::newRow("Quibon with every column and option")
            << all << std << Request("Quibon", {row13}, "vcr") << now
            << Concat({kAdd23, kDelete13, kRecord13}) + quibonPrices + Concat({kQuibonMove13, R"(
UPDATE produtos SET iva2 = 23 WHERE iva2=13
UPDATE produtos SET iva2 = iva WHERE iva2 IS NULL
UPDATE produtos SET ivarevenda = 23 WHERE ivarevenda = 13
)", kTerminals13});
        QTest::newRow("Quibon with pvp2 but not precovenda2 has set 2")
            << QStringList{"pvp2", "pvpmeia2"} << std << Request("Quibon", {row13}, "v") << now
            << Concat({kAdd23, kDelete13, kRecord13, kQuibonBasePrices, kQuibonSet2, kQuibonMove13, kTerminals13});

        QTest::newRow("sale off, purchase on: no probe")
            << all << std << Request("Tosvel", {row13}, "c") << now << Concat({kAdd23, kDelete13, R"(
UPDATE produtos SET precocompra=precocompra / 1.13 WHERE ivacompra=13
UPDATE produtos SET precocompra=precocompra * 1.23 WHERE ivacompra=13
)", kMove13});
        QTest::newRow("rounding with purchase off still rounds the purchase price")
            << QStringList{"precovenda2"} << std << Request("Varlo", {row13}, "vr", "4") << now
            << Concat({kAdd23, kDelete13, R"(
UPDATE produtos SET precovenda=precovenda / 1.13 WHERE iva=13
UPDATE produtos SET precovenda=precovenda * 1.23 WHERE iva=13
SELECT TOP 1 * FROM produtos
UPDATE produtos SET precovenda2=precovenda2 / 1.13 WHERE iva=13
UPDATE produtos SET precovenda2=precovenda2 * 1.23 WHERE iva=13
UPDATE produtos SET precocompra= ROUND(precocompra, 4) WHERE ivacompra=13
UPDATE produtos SET precovenda= ROUND(precovenda, 4) WHERE iva=13
UPDATE produtos SET precovenda2= ROUND(precovenda2, 4) WHERE iva=13
)", kMove13});
        QTest::newRow("keep the current rate, new rate present, no option")
            << none << QList<int>{6, 13, 23} << Request("Quibon", {On("13", "23", "normal")}, "k") << now
            << Concat({"SELECT * FROM iva WHERE factor=23", "UPDATE iva SET descricao = 'normal' WHERE factor=23",
                       kQuibonMove13, kTerminals13});

        QTest::newRow("one-digit rates get a leading zero in the factor only")
            << none << std << Request("Varlo", {On("6", "7", "7%")}, "v") << now << Lines(R"(
SELECT * FROM iva WHERE factor=7
INSERT INTO iva (codigo, factor) VALUES (7,7)
UPDATE iva SET descricao = '7%' WHERE factor=7
DELETE FROM iva WHERE factor=6
UPDATE produtos SET precovenda=precovenda / 1.06 WHERE iva=6
UPDATE produtos SET precovenda=precovenda * 1.07 WHERE iva=6
SELECT TOP 1 * FROM produtos
UPDATE produtos SET iva = 7 WHERE iva=6
UPDATE produtos SET ivacompra = 7 WHERE ivacompra=6
)");
        QTest::newRow("06 as typed, 0 and 00")
            << none << QList<int>{0, 6, 13}
            << Request("Quibon", {On("06", "0", "isento"), Off(), On("00", "13", "x")}, "c") << now << Lines(R"(
SELECT * FROM iva WHERE factor=0
UPDATE iva SET descricao = 'isento' WHERE factor=0
DELETE FROM iva WHERE factor=06
INSERT INTO iva_apagar (codigo) VALUES (06)
UPDATE produtos SET precocompra=precocompra / 1.06 WHERE ivacompra=06
UPDATE produtos SET precocompra=precocompra * 1.00 WHERE ivacompra=06
UPDATE produtos SET iva = 0, id = NULL WHERE iva=06
UPDATE produtos SET ivacompra = 0 WHERE ivacompra=06
SELECT TOP 1 * FROM produtos
UPDATE configpostos SET valor = '0' WHERE (chave = 'IVA POR DEFEITO') AND (valor = '06')
UPDATE configpostos SET valor = '0' WHERE (chave = 'IVA NO CONSUMO MINIMO') AND (valor = '06')
UPDATE configpostos SET valor = '0' WHERE (chave = 'IVA AO BALCAO') AND (valor = '06')
SELECT * FROM iva WHERE factor=13
UPDATE iva SET descricao = 'x' WHERE factor=13
DELETE FROM iva WHERE factor=00
INSERT INTO iva_apagar (codigo) VALUES (00)
UPDATE produtos SET precocompra=precocompra / 1.00 WHERE ivacompra=00
UPDATE produtos SET precocompra=precocompra * 1.13 WHERE ivacompra=00
UPDATE produtos SET iva = 13, id = NULL WHERE iva=00
UPDATE produtos SET ivacompra = 13 WHERE ivacompra=00
SELECT TOP 1 * FROM produtos
UPDATE configpostos SET valor = '13' WHERE (chave = 'IVA POR DEFEITO') AND (valor = '00')
UPDATE configpostos SET valor = '13' WHERE (chave = 'IVA NO CONSUMO MINIMO') AND (valor = '00')
UPDATE configpostos SET valor = '13' WHERE (chave = 'IVA AO BALCAO') AND (valor = '00')
)");
        QTest::newRow("6 to 13 then 13 to 23; a quote in a description")
            << none << std << Request("Varlo", {On("6", "13", "taxa d'água"), row13}) << now << Concat({R"(
SELECT * FROM iva WHERE factor=13
UPDATE iva SET descricao = 'taxa d''água' WHERE factor=13
DELETE FROM iva WHERE factor=6
UPDATE produtos SET iva = 13 WHERE iva=6
UPDATE produtos SET ivacompra = 13 WHERE ivacompra=6
)", kAdd23, kDelete13, kMove13});
        QTest::newRow("only row 2 ticked")
            << none << std << Request("Meltra", {Off("1", "2", "a"), row13, Off("6", "8", "c")}) << now
            << Concat({kAdd23, R"(
UPDATE iva SET factor2 = (SELECT factor2 FROM iva WHERE factor=13) WHERE factor=23
DELETE FROM iva WHERE factor=13
UPDATE produtos SET ivavenda = 23 WHERE ivavenda=13
UPDATE produtos SET ivacompra = 23 WHERE ivacompra=13
)"});

        const char* scheduledLater = R"(
SELECT * FROM iva WHERE factor=7
INSERT INTO iva (codigo, factor) VALUES (7,7)
UPDATE iva SET descricao = '7%' WHERE factor=7
DELETE FROM iva WHERE factor=6
INSERT INTO iva_apagar (codigo) VALUES (6)
UPDATE produtos SET iva = 7, id = NULL WHERE iva=6
UPDATE produtos SET ivacompra = 7 WHERE ivacompra=6
SELECT TOP 1 * FROM produtos
UPDATE configpostos SET valor = '7' WHERE (chave = 'IVA POR DEFEITO') AND (valor = '6')
UPDATE configpostos SET valor = '7' WHERE (chave = 'IVA NO CONSUMO MINIMO') AND (valor = '6')
UPDATE configpostos SET valor = '7' WHERE (chave = 'IVA AO BALCAO') AND (valor = '6')
)";
        QTest::newRow("scheduled on Quibon: row 1 with id 0, row 2 as the change run")
            << none << std << Request("Quibon", {row13, On("6", "7", "7%")}) << later << Concat({R"(
SELECT * FROM iva WHERE factor=23
INSERT INTO iva (id, codigo, factor) VALUES (0, 23,23)
UPDATE iva SET descricao = '23%' WHERE factor=23
DELETE FROM iva WHERE factor=13
INSERT INTO iva_apagar (codigo) VALUES (13)
UPDATE produtos SET iva = 23, id = 0 WHERE iva=13
UPDATE produtos SET ivacompra = 23 WHERE ivacompra=13
SELECT TOP 1 * FROM produtos
)", kTerminals13, scheduledLater});
        QTest::newRow("scheduled on Quibon, row 1 unticked: row 2 is a later row")
            << none << std << Request("Quibon", {Off("13", "23", "a"), On("6", "7", "7%")}) << later
            << Lines(scheduledLater);
        QTest::newRow("scheduled elsewhere: row 1 as the change run")
            << none << std << Request("Varlo", {row13}, "vcr") << later << Lines(kWorkedExample);
        QTest::newRow("nothing ticked sends nothing")
            << all << std << Request("Quibon", {Off("13", "23", "a")}, "vcr") << now << QStringList{};
    }

    void sequence()
    {
        QFETCH(QStringList, columns);
        QFETCH(QList<int>, rates);
        QFETCH(TChangeRequest, request);
        QFETCH(TRunKind, kind);
        QFETCH(QStringList, expected);

        auto inst = EnteredInstallation(AppName(request.app), false);
        ShapeProducts(*inst, columns);
        SetRates(*inst, rates);

        auto db = inst->connect();
        TStatementLog log;
        log.attach(*db);
        TRecordingObserver observer;
        TRunHooks hooks;
        hooks.observer = &observer;
        try {
            RunChange(*db, request, kind, hooks);
        } catch (const std::exception& e) {
            QFAIL(qPrintable(log.statements.join('\n') + "\n" + e.what()));
        }
        QCOMPARE(log.statements, expected);
        for (int i = 0; i < log.statements.size(); ++i)
            QCOMPARE(log.kinds.value(i), log.statements[i].startsWith("SELECT") ? TStatementKind::Read
                                                                                : TStatementKind::Command);
        QVERIFY(!db->inTransaction());

        // The observer saw the same statements, counted one by one, and the total it was
        // given was never below what had been sent and, at the end, exactly what was sent.
        QCOMPARE(observer.sql(), expected);
        for (int i = 0; i < observer.reports.size(); ++i) {
            QCOMPARE(observer.reports[i].done, i + 1);
            QVERIFY(observer.reports[i].total >= i + 1);
        }
        if (!expected.isEmpty())
            QCOMPARE(observer.totals.last(), int(expected.size()));
    }

    // Texts a hand-edited settings file or a paste can carry, and the rounding without the
    // sale update, are refused before anything is sent; places are not looked at when nothing
    // is rounded, nor an unticked row judged.
    void unfitTexts_data()
    {
        QTest::addColumn<TChangeRequest>("request");
        QTest::addColumn<QString>("error");  // empty: the request runs
        QTest::newRow("letters") << Request("Varlo", {On("a1", "23", "x")})
                                 << "A taxa existente da primeira linha ('a1') não é válida: uma taxa tem um ou dois algarismos.";
        QTest::newRow("three digits in row 3, after two good rows")
            << Request("Varlo", {On("13", "23", "x"), On("6", "7", "y"), On("8", "100", "z")})
            << "A nova taxa da terceira linha ('100') não é válida: uma taxa tem um ou dois algarismos.";
        QTest::newRow("a blank") << Request("Varlo", {Off(), On("13", "2 ", "x")})
                                 << "A nova taxa da segunda linha ('2 ') não é válida: uma taxa tem um ou dois algarismos.";
        QTest::newRow("a sign") << Request("Varlo", {On("-6", "23", "x")})
                                << "A taxa existente da primeira linha ('-6') não é válida: uma taxa tem um ou dois algarismos.";
        QTest::newRow("places not digits") << Request("Varlo", {On("13", "23", "x")}, "vr", "2)")
                                           << "O número de casas de arredondamento ('2)') não é válido: indique só algarismos.";
        QTest::newRow("places empty") << Request("Varlo", {On("13", "23", "x")}, "r", "")
                                      << "O número de casas de arredondamento ('') não é válido: indique só algarismos.";
        QTest::newRow("rounding without the sale update")
            << Request("Varlo", {On("13", "23", "x")}, "cr")
            << "O arredondamento dos preços só pode ser pedido com a actualização dos preços de venda!";
        QTest::newRow("places without rounding, an unticked row")
            << Request("Varlo", {On("13", "23", "x"), Off("abc", "", "")}, "vc", "zz") << QString();
    }

    void unfitTexts()
    {
        QFETCH(TChangeRequest, request);
        QFETCH(QString, error);
        auto inst = EnteredInstallation("Varlo", false);
        auto db = inst->connect();
        TStatementLog log;
        log.attach(*db);
        QString raised;
        try {
            RunChange(*db, request, TRunKind::Scheduled);
        } catch (const TRequestError& e) {
            raised = e.text();
        }
        QCOMPARE(raised, error);
        QCOMPARE(log.statements.isEmpty(), !error.isEmpty());
        QVERIFY(!db->inTransaction());
    }
};

QTEST_GUILESS_MAIN(StatementSequenceTest)
#include "StatementSequenceTest.moc"
