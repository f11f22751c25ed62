// "Alterar Taxas Agora!" from the rate entry page to the done page, on real installations:
// what the operator sees, what the database holds afterwards, and that a failure anywhere in
// the run leaves both the page and the database as they were.

#include "WindowHarness.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

const QString kCancelQuestion =
    QStringLiteral("Cancelar a alteração? Se ainda não estiver a ser gravada na base de dados, nada será alterado.");
const QString kCancelled = QStringLiteral("A alteração foi cancelada. Nada foi alterado na base de dados.");

// The record the window's runs left beside its settings file, as text; checks the form every
// record must have on the way.
QString RecordText(const TWindowHarness& h)
{
    const QByteArray bytes = FileBytes(QDir(h.home()).filePath(QStringLiteral("TaxasIVA.log")));
    if (!bytes.startsWith("\xEF\xBB\xBF") || bytes.count("\n") != bytes.count("\r\n"))
        return QStringLiteral("(not UTF-8 with a byte-order mark and CR LF lines)");
    return QString::fromUtf8(bytes.mid(3));
}

// The last "Resultado:" line of the record, and how many statements its last end block lists.
QString LastOutcome(const QString& record)
{
    const qsizetype at = record.lastIndexOf(QStringLiteral("Resultado: "));
    return at < 0 ? QString() : record.mid(at).section(QStringLiteral("\r\n"), 0, 0);
}
int LastStatementCount(const QString& record)
{
    return int(record.mid(record.lastIndexOf(QStringLiteral("== Fim "))).count(QStringLiteral("\r\nInstrução ")));
}
// How many statements of a log the change itself sent: the record lists those, not the reads of
// its images (under update locks, with the column probes and the write lock around them).
int ChangeStatements(const QStringList& statements)
{
    int n = 0;
    bool imageFollows = false;  // the column probes come just before the image's reads
    for (qsizetype i = statements.size() - 1; i >= 0; --i) {
        const QString& s = statements[i];
        const bool image = s.contains(QLatin1String("UPDLOCK"))
                           || s == QLatin1String("UPDATE iva SET factor = factor WHERE 1 = 0")
                           || (imageFollows && s.startsWith(QLatin1String("SELECT TOP 1 * FROM")));
        n += !image;
        imageFollows = image;
    }
    return n;
}

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

        const int moving = db->scalar(QStringLiteral("SELECT COUNT(*) FROM produtos WHERE %1=13").arg(sale.rate)).toInt();

        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("Taxa1=1;anterior=13;nova=23;descricao=Taxa normal 23;opvenda=1;opcompra=1;oparredondar=1;casas=2");
        const QString controls = h.state();
        TStatementLog log;
        log.attach(h.window().cn());
        h.click("btalterar");

        QCOMPARE(h.window().ActivePage(), int(tabconcluido));
        QCOMPARE(h.dialogs.texts(), QStringList{kConfirmation});
        QCOMPARE(h.state(), controls);
        QCOMPARE(h.child<QLabel>("lbresumo")->text(), QStringLiteral("13% → 23%: %1 produtos").arg(moving));
        QVERIFY(!h.child<QWidget>("progresso")->isVisible());
        QCOMPARE(h.window().cursor().shape(), Qt::ArrowCursor);

        // The record: who and what, then every statement the run sent (the check's look-up
        // before it is not the run's), then the commit.
        const QString record = RecordText(h);
        for (const QString& line : {QStringLiteral("Aplicação: ") + app, QStringLiteral("Execução: imediata"),
                                    QStringLiteral("Linha 1: 13% → 23%, descrição \"Taxa normal 23\""),
                                    QStringLiteral("Resultado: confirmada")})
            QVERIFY2(record.contains(line + QStringLiteral("\r\n")), qPrintable(record));
        QVERIFY2(record.contains(QDir::toNativeSeparators(db->folder())), qPrintable(record));
        QCOMPARE(LastStatementCount(record), ChangeStatements(log.statements) - 1);

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
    // The way back, per form of the schema: the done page offers to undo the change just
    // made and, confirmed, the database is as it was byte for byte, the record naming the
    // change undone; a product edited since is left as it is, counted and listed; nothing is
    // offered any more. Without a key the operator is told before confirming, and no undo is
    // offered.
    void undo_data()
    {
        QTest::addColumn<QString>("app");
        QTest::addColumn<bool>("edited");
        for (const char* app : {"Varlo", "Meltra", "Quibon", "Tosvel"})
            QTest::newRow(app) << app << false;
        QTest::newRow("Varlo, a product edited between") << "Varlo" << true;
    }

    void undo()
    {
        QFETCH(QString, app);
        QFETCH(bool, edited);
        const auto db = EnteredInstallation(app);
        const QString before = db->dump();
        const QString at23 = QStringLiteral("SELECT COUNT(*) FROM produtos WHERE iva = 23");
        const int before23 = db->scalar(at23).toInt();
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("Taxa1=1;anterior=13;nova=23;descricao=normal;Taxa2=1;anterior2=6;nova2=5;descricao2=cinco;"
               "opvenda=1;opcompra=1;oparredondar=1;casas=2");
        h.click("btalterar");
        QCOMPARE(h.window().ActivePage(), int(tabconcluido));
        const bool keyed = app != QLatin1String("Tosvel");
        QCOMPARE(h.dialogs.texts().first().contains(QStringLiteral("esta alteração não poderá ser desfeita")), !keyed);
        QCOMPARE(h.child<QWidget>("btdesfazer")->isVisible(), keyed);
        if (!keyed)
            return;
        if (edited)
            db->exec("UPDATE produtos SET precovenda = 99 WHERE codigo = (SELECT MIN(codigo) FROM produtos WHERE iva = 23)");

        h.dialogs.shown.clear();
        h.click("btdesfazer");
        QTRY_COMPARE(h.dialogs.shown.size(), size_t(2));
        QVERIFY2(h.dialogs.shown[0].text.startsWith(QStringLiteral("Desfazer a alteração de ")), qPrintable(h.dialogs.shown[0].text));
        QVERIFY2(h.dialogs.shown[1].text.contains(edited ? "1 produtos foram alterados" : "Produtos repostos"),
                 qPrintable(h.dialogs.shown[1].text));
        QCOMPARE(h.window().ActivePage(), int(tabexec));
        QVERIFY(!h.child<QWidget>("btdesfazerultima")->isVisible());
        if (!edited) {
            QCOMPARE(db->dump(), before);
        } else {
            QCOMPARE(db->scalar(at23).toInt(), before23 + 1);
            QCOMPARE(db->scalar("SELECT COUNT(*) FROM produtos WHERE precovenda = 99").toInt(), 1);
        }
        const QString record = RecordText(h);
        QVERIFY2(record.contains(QStringLiteral("Execução: reposição\r\nAlteração desfeita: ")), qPrintable(record));
        QCOMPARE(LastOutcome(record), QStringLiteral("Resultado: confirmada"));
    }

    void failureLeavesEverythingAsItWas_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<int>("failAt");
        QTest::addColumn<QString>("expectedText");

        QTest::newRow("the database refuses the reassignment of row 2")
            << RefusedMoveTrigger(23, "artigo bloqueado pela contabilidade")
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
        // The record says the run was rolled back, with the database's own words, and lists
        // the statements sent before the failure.
        const QString record = RecordText(h);
        QVERIFY2(LastOutcome(record).startsWith(QStringLiteral("Resultado: anulada: ")), qPrintable(record));
        if (!expectedText.isEmpty())
            QVERIFY2(LastOutcome(record).contains(expectedText), qPrintable(record));
        if (failAt > 0)
            QCOMPARE(LastStatementCount(record), ChangeStatements(log.statements.mid(0, failAt - 1)) - 3);

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

    // "Cancelar" during the run. Sim interrupts the statement in flight (a trigger that would
    // run for hours), rolls back, and brings page 2 back as typed with an "Aviso"; Não lets
    // the run go on to the done page.
    void cancel_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Sim, mid-statement") << true;
        QTest::newRow("Não") << false;
    }

    void cancel()
    {
        QFETCH(bool, yes);
        const auto db = EnteredInstallation(QStringLiteral("Varlo"));
        if (yes)
            db->exec(SlowPricesTrigger());
        const QString before = db->dump();

        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("Taxa1=1;anterior=13;nova=23;descricao=normal;opvenda=1;opcompra=1");
        const QString controls = h.state();
        h.dialogs.answers = {true, yes};
        TStatementLog log;
        log.attach(h.window().cn());
        bool pressed = false;
        h.window().cn().setObserver([&](const QString& statement, TStatementKind kind) {
            log.statements << statement;
            log.kinds << kind;
            if (pressed || !statement.startsWith("UPDATE produtos SET precovenda"))
                return;
            pressed = true;
            if (yes)  // once the statement is surely under way
                QMetaObject::invokeMethod(qApp, [&] { QTimer::singleShot(200, [&] { h.click("btcancelar"); }); });
            else
                OnWindowThread([&] { h.click("btcancelar"); });
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { qFatal("the cancel did not stop the statement in flight"); });
        watchdog.start(20000);
        h.click("btalterar");
        watchdog.stop();

        QVERIFY(pressed);
        QCOMPARE(h.dialogs.shown[1], (TShownBox{TShownBox::Question, kCancelQuestion, "Confirme"}));
        if (yes) {
            QCOMPARE(h.dialogs.shown.size(), size_t(3));
            QCOMPARE(h.dialogs.shown[2], (TShownBox{TShownBox::Message, kCancelled, "Aviso"}));
            QCOMPARE(h.window().ActivePage(), int(tabexec));
            QCOMPARE(h.state(), controls);
            QVERIFY(h.child<QPushButton>("btalterar")->isVisible() && h.child<QPushButton>("btalterar")->isEnabled());
            QVERIFY(h.child<QWidget>("anterior")->isEnabled());
            QVERIFY(log.statements.last().startsWith("UPDATE produtos SET precovenda"));
            QCOMPARE(db->dump(), before);
            QCOMPARE(LastOutcome(RecordText(h)), QStringLiteral("Resultado: cancelada pelo operador"));
        } else {
            QCOMPARE(h.dialogs.shown.size(), size_t(2));
            QCOMPARE(h.window().ActivePage(), int(tabconcluido));
            QCOMPARE(db->scalar("SELECT COUNT(*) FROM produtos WHERE iva=13").toInt(), 0);
        }
    }

    // "Simular": no question, every statement of the change and its products read, nothing
    // kept; the result in a box of its own, the page as it was, the record saying so.
    void simulate()
    {
        const auto db = EnteredInstallation(QStringLiteral("Quibon"));
        const QByteArray file = FileBytes(db->databaseFile());
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("Taxa1=1;anterior=13;nova=23;descricao=normal;opvenda=1;oparredondar=1");
        const QString controls = h.state();
        h.click("btsimular");

        QCOMPARE(h.dialogs.texts(), QStringList{"Simulação"});
        const TSimulationReport& report = h.dialogs.simulations.at(0);
        QVERIFY2(report.summary.startsWith("Linha 1: 13% → 23%\n"), qPrintable(report.summary));
        QCOMPARE(report.products.size(), 20);
        QCOMPARE(report.headers.first(), QStringLiteral("codigo"));
        QVERIFY2(report.notes.contains("Arredondamento: "), qPrintable(report.notes));
        QCOMPARE(h.window().ActivePage(), int(tabexec));
        QCOMPARE(h.state(), controls);
        QCOMPARE(FileBytes(db->databaseFile()), file);
        const QString record = RecordText(h);
        QVERIFY(record.contains("Execução: simulação\r\n"));
        QCOMPARE(LastOutcome(record), QStringLiteral("Resultado: simulada (anulada)"));
    }

    // While the run lasts the window paints its progress and takes nothing else: a second
    // press of the button (its signal, past the disabled control), Escape, the timer's tick
    // and the close box all do nothing; the cursor is busy; the bar counts the statements.
    void nothingElseDuringTheRun()
    {
        const auto db = EnteredInstallation(QStringLiteral("Varlo"));
        TWindowHarness h;
        QVERIFY(h.openRateEntry());
        h.fill("Taxa2=1;anterior2=13;nova2=23;descricao2=normal;Taxa3=1;anterior3=6;nova3=5;descricao3=cinco;opcompra=1");
        TStatementLog log;
        log.attach(h.window().cn());
        QStringList seen;
        h.window().cn().setObserver([&](const QString& statement, TStatementKind kind) {
            log.statements << statement;
            log.kinds << kind;
            if (ChangeStatements(log.statements) != 2 + 8)  // row 3's first: the check's two, row 2's seven
                return;
            OnWindowThread([&] {
                Tmain& w = h.window();
                QVERIFY(w.Running());
                seen << h.child<QLabel>("lbprogresso")->text();
                const auto* bar = h.child<QProgressBar>("barraprogresso");
                seen << QStringLiteral("%1/%2").arg(bar->value()).arg(bar->maximum());
                QVERIFY(h.child<QWidget>("progresso")->isVisible() && h.child<QWidget>("btcancelar")->isVisible());
                QVERIFY(!h.child<QWidget>("anterior")->isEnabled() && !h.child<QWidget>("btalterar")->isVisible());
                QCOMPARE(w.cursor().shape(), Qt::BusyCursor);
                emit h.child<QPushButton>("btalterar")->clicked();
                emit h.child<QPushButton>("BitBtn1")->clicked();
                QTest::keyClick(&w, Qt::Key_Escape);
                Tick(w);
                w.close();
                QVERIFY(w.isVisible());
            });
        });
        h.click("btalterar");

        QCOMPARE(seen, (QStringList{"Linha 2 de 2: 6% → 5%", "7/15"}));
        QCOMPARE(h.window().ActivePage(), int(tabconcluido));
        // The close box said why it did nothing.
        QCOMPARE(h.dialogs.texts(),
                 (QStringList{kConfirmation, "A alteração das taxas de IVA está em curso e a janela não pode ser "
                                             "fechada agora. Aguarde o fim da alteração ou use \"Cancelar\"."}));
        // The check's two look-ups and one run: nothing was started a second time.
        QCOMPARE(ChangeStatements(log.statements), 2 + 15);
        QCOMPARE(h.child<QLabel>("lbresumo")->text().count(u'\n'), 1);
        // A server that does not say how many rows a statement changed: no count for that row.
        TRunEnd uncounted;
        uncounted.moved = {-1, -1, 1};
        emit h.window().Session().RunEnded(uncounted);
        QCOMPARE(h.child<QLabel>("lbresumo")->text(), QStringLiteral("13% → 23%\n6% → 5%: 1 produto"));
    }
};

QTEST_MAIN(ChangeRunTest)
#include "ChangeRunTest.moc"
