// "Alterar Taxas Agora!" from the rate entry page to the done page, on real installations:
// what the operator sees, what the database holds afterwards, and that a failure anywhere in
// the run leaves both the page and the database as they were.

#include "WindowHarness.h"

namespace {

// product code -> price, for the products whose rateColumn holds rate.
QMap<QString, double> PricesAt(const TTempInstallation& db, const QString& price, const QString& rateColumn,
                               int rate)
{
    QMap<QString, double> prices;
    const auto rows =
        db.rows(QStringLiteral("SELECT codigo, %1 FROM produtos WHERE %2=%3").arg(price, rateColumn).arg(rate));
    for (const QVariantList& row : rows)
        prices.insert(row[0].toString(), row[1].toDouble());
    return prices;
}

// Every product of before, now at 23 %, priced as divided by 1.13 and multiplied by 1.23,
// rounded to the cent.
void VerifyRecalculated(const QMap<QString, double>& before, const QMap<QString, double>& after)
{
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const double expected = qRound64(it.value() / 1.13 * 1.23 * 100) / 100.0;
        QVERIFY2(qAbs(after.value(it.key(), -1) - expected) < 0.0051,
                 qPrintable(QStringLiteral("%1: %2 -> %3, expected %4")
                                .arg(it.key()).arg(it.value()).arg(after.value(it.key(), -1)).arg(expected)));
    }
}

}  // namespace

class ChangeRunTest : public QObject {
    Q_OBJECT

private slots:
    // One row 13 -> 23 with every price option, per form of the schema: the done page with
    // nothing but the confirmation shown, the controls as typed, and in the database the new
    // rate in place of the old, the products moved and their prices recalculated to the cent.
    void immediateChange_data()
    {
        QTest::addColumn<QString>("app");
        for (const char* app : {"Varlo", "Meltra", "Quibon"})
            QTest::newRow(app) << app;
    }

    void immediateChange()
    {
        QFETCH(QString, app);
        const auto db = EnteredInstallation(app);
        // The sale price column and the rate column that selects it.
        const struct {
            QString price, rate;
        } sale = {app == "Meltra" ? "precovenda1" : "precovenda", app == "Meltra" ? "ivavenda" : "iva"};
        const auto saleBefore = PricesAt(*db, sale.price, sale.rate, 13);
        const auto purchaseBefore = PricesAt(*db, QStringLiteral("precocompra"), QStringLiteral("ivacompra"), 13);
        const auto untouchedBefore = PricesAt(*db, sale.price, sale.rate, 6);
        QVERIFY(!saleBefore.isEmpty() && !purchaseBefore.isEmpty() && !untouchedBefore.isEmpty());

        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("Taxa1=1;anterior=13;nova=23;descricao=Taxa normal 23;opvenda=1;opcompra=1;oparredondar=1;casas=2");
        const QString controls = h.state();
        h.click("btalterar");

        QCOMPARE(h.window().ActivePage(), int(tabconcluido));
        QCOMPARE(h.dialogs.texts(), QStringList{kConfirmation});
        QCOMPARE(h.state(), controls);

        QCOMPARE(db->scalar("SELECT COUNT(*) FROM iva WHERE factor=13").toInt(), 0);
        QCOMPARE(db->scalar("SELECT descricao FROM iva WHERE factor=23").toString(), QStringLiteral("Taxa normal 23"));
        QCOMPARE(db->scalar(QStringLiteral("SELECT COUNT(*) FROM produtos WHERE %1=13").arg(sale.rate)).toInt(), 0);
        QCOMPARE(db->scalar("SELECT COUNT(*) FROM produtos WHERE ivacompra=13").toInt(), 0);
        VerifyRecalculated(saleBefore, PricesAt(*db, sale.price, sale.rate, 23));
        VerifyRecalculated(purchaseBefore, PricesAt(*db, QStringLiteral("precocompra"), QStringLiteral("ivacompra"), 23));
        QCOMPARE(PricesAt(*db, sale.price, sale.rate, 6), untouchedBefore);
    }

    // A run that fails at any point, whether the database refuses a statement of its own
    // accord or the connection fails the k-th statement, shows the database's text in the
    // error report, stays on the rate entry page with the entries as typed, and leaves the
    // database exactly as before: nothing half-divided, no rate half-moved.
    void failureLeavesEverythingAsItWas_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<int>("failAt");
        QTest::addColumn<QString>("expectedText");

        QTest::newRow("the database refuses the reassignment of row 2")
            << "CREATE TRIGGER recusa BEFORE UPDATE OF iva ON produtos WHEN NEW.iva = 23 "
               "BEGIN SELECT RAISE(ABORT, 'artigo bloqueado pela contabilidade'); END"
            << 0 << "artigo bloqueado pela contabilidade";
        QTest::newRow("the database refuses the description of row 3")
            << "CREATE TRIGGER recusa BEFORE UPDATE OF descricao ON iva WHEN NEW.descricao = 'zero' "
               "BEGIN SELECT RAISE(ABORT, 'descrição reservada'); END"
            << 0 << "descrição reservada";
        // The click's first statements are the check's look-ups; the run follows them.
        for (int k : {4, 52, 145})
            QTest::newRow(qPrintable(QStringLiteral("statement %1 fails").arg(k)))
                << QString() << k << QString();
    }

    void failureLeavesEverythingAsItWas()
    {
        QFETCH(QString, trigger);
        QFETCH(int, failAt);
        QFETCH(QString, expectedText);

        const auto db = EnteredInstallation(QStringLiteral("Quibon"));
        if (!trigger.isEmpty())
            db->exec(trigger);
        const QString before = db->dump();

        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("Taxa1=1;anterior=6;nova=7;descricao=sete;Taxa2=1;anterior2=13;nova2=23;descricao2=normal;"
               "Taxa3=1;anterior3=23;nova3=0;descricao3=zero;opvenda=1;opcompra=1;oparredondar=1;casas=2");
        const QString controls = h.state();
        TStatementLog log;
        log.attach(h.window().cn());
        log.failAt = failAt;
        h.click("btalterar");

        QCOMPARE(h.window().ActivePage(), int(tabexec));
        QVERIFY(h.window().isVisible());
        QCOMPARE(h.state(), controls);
        QCOMPARE(h.dialogs.shown.size(), size_t(2));
        QCOMPARE(h.dialogs.shown[0].text, kConfirmation);
        QCOMPARE(h.dialogs.shown[1].title, QStringLiteral("Taxas de IVA"));
        if (!expectedText.isEmpty())
            QVERIFY2(h.dialogs.shown[1].text.contains(expectedText), qPrintable(h.dialogs.shown[1].text));
        if (failAt > 0)
            QCOMPARE(log.statements.size(), failAt);
        QCOMPARE(db->dump(), before);

        // The operator can mend the cause and press the button again: the same request then
        // runs whole.
        if (!trigger.isEmpty()) {
            db->exec("DROP TRIGGER recusa");
            h.dialogs.clear();
            h.click("btalterar");
            QCOMPARE(h.window().ActivePage(), int(tabconcluido));
            QCOMPARE(db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=6").toInt(), 0);
        }
    }
};

QTEST_MAIN(ChangeRunTest)
#include "ChangeRunTest.moc"
