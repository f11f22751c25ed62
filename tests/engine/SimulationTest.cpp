// The simulation against the change itself, on each kind of installation: the products counted
// as rates are typed, the statements and the rows each changed, the database file left byte for
// byte, and the file of every product agreeing with what the real change then leaves.

#include "EngineTestData.h"
#include "RateCounts.h"
#include "Simulation.h"

#include <QtTest>

namespace {

QStringList RowsAffected(const TRecordingObserver& observer)
{
    QStringList out;
    for (const TStatementReport& r : observer.reports)
        out << QString::number(r.rowsAffected) + u' ' + r.sql;
    return out;
}

// The file's products: the key's value -> the fields after it, as written.
QMap<QString, QStringList> CsvProducts(const QString& path, QStringList* header)
{
    QMap<QString, QStringList> products;
    const QByteArray bytes = FileBytes(path);
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return products;
    QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    *header = lines.takeFirst().split(u';');
    for (const QString& line : lines) {
        const QStringList fields = line.split(u';');
        products.insert(fields.first(), fields.mid(1));
    }
    return products;
}

}  // namespace

class SimulationTest : public QObject {
    Q_OBJECT

private slots:
    void simulation_data()
    {
        QTest::addColumn<TChangeRequest>("request");
        QTest::addColumn<QStringList>("columns");  // optional columns of produtos
        QTest::newRow("Varlo, chained rows, every option")
            << Request("Varlo", {On("6", "13", "13%"), On("13", "23", "23%")}, "vcr") << QStringList();
        QTest::newRow("Meltra, a unique code, pvp4 by iva") << Request("Meltra", {On("13", "23", "23%")}, "v")
                                                           << QStringList{"pvp4", "pvpmeia4"};
        QTest::newRow("Quibon, further rates and prices")
            << Request("Quibon", {On("23", "21", "21%"), On("6", "5", "5%")}, "vcr")
            << QStringList{"iva2", "ivarevenda", "pvp2", "pvpmeia2"};
        QTest::newRow("Tosvel, without a key") << Request("Tosvel", {On("13", "23", "23%")}, "vr") << QStringList();
    }

    void simulation()
    {
        QFETCH(TChangeRequest, request);
        QFETCH(QStringList, columns);
        const auto inst = EnteredInstallation(AppName(request.app));
        ShapeProducts(*inst, columns);
        if (request.app == TAppKind::Quibon)  // an empty iva2 is given the sale rate
            inst->exec("UPDATE produtos SET iva2 = NULL WHERE rowid % 7 = 0");
        auto db = inst->connect();

        const QString sale = request.app == TAppKind::Meltra ? "ivavenda" : "iva";
        for (const TRatePair& row : request.rows) {
            if (!row.enabled)
                continue;
            const TProductCount count = CountProductsAt(*db, request.app, row.existing);
            QCOMPARE(count.sale, inst->scalar(QString("SELECT COUNT(*) FROM produtos WHERE %1=%2").arg(sale, row.existing)).toLongLong());
            QCOMPARE(count.purchase, inst->scalar("SELECT COUNT(*) FROM produtos WHERE ivacompra=" + row.existing).toLongLong());
        }

        const QByteArray file = FileBytes(inst->databaseFile());
        QTemporaryDir dir;
        TRecordingObserver simulated;
        const TSimulation result = SimulateChange(*db, request, &simulated, dir.filePath("simulacao.csv"));
        QCOMPARE(FileBytes(inst->databaseFile()), file);

        TRecordingObserver real;
        TRunHooks hooks;
        hooks.observer = &real;
        RunChange(*db, request, TRunKind::Immediate, hooks);
        QCOMPARE(RowsAffected(simulated), RowsAffected(real));
        QVERIFY(result.products > 0);
        QCOMPARE(result.rounding, request.options.roundPrices);
        if (result.rounding) {
            // Each row's rounding to cents takes a price at most half a cent from its row's
            // conversion, a little more once the next row converts it again: never the cents
            // or euros of a conversion measured with the wrong factor.
            const int rows = int(std::count_if(request.rows.begin(), request.rows.end(),
                                               [](const TRatePair& r) { return r.enabled; }));
            QVERIFY2(result.largestDifference > 0 && result.largestDifference < 0.0055 * rows,
                     qPrintable(QString::number(result.largestDifference)));
        }

        if (result.layout.key.isEmpty()) {
            QCOMPARE(result.productsFile, QString());
            QVERIFY(result.sample.isEmpty());
            return;
        }
        QCOMPARE(result.sample.size(), qMin<qint64>(result.products, kSampleSize));
        QStringList header;
        const QMap<QString, QStringList> products = CsvProducts(result.productsFile, &header);
        QCOMPARE(qint64(products.size()), result.products);
        // Every written column's value after, as the real change left it, exactly (validade
        // excepted: a clock reading of its own).
        for (auto it = products.cbegin(); it != products.cend(); ++it) {
            for (int i = 0; i < result.layout.columns.size(); ++i) {
                const TImageColumn& column = result.layout.columns[i];
                if (column.name == "validade")
                    continue;
                const QVariantList now = inst->rows(QString("SELECT %1, typeof(%1), printf('%!.20e', %1) FROM produtos "
                                                            "WHERE %2 = '%3'")
                                                        .arg(column.name, result.layout.key[0], it.key()))
                                             .value(0);
                const QString shown = it.value().value(2 * i + 1);
                if (now.value(1) == "real" || now.value(1) == "integer")  // the very number, in whatever digits
                    QVERIFY2(QString(shown).replace(',', '.').toDouble() == now.value(2).toDouble(), qPrintable(shown));
                else
                    QCOMPARE(shown, now.value(0).isNull() ? QString() : now.value(0).toString().replace('.', ','));
            }
        }
    }

    // The read after the change fails: the pairing, which waits for its rows on a thread of its
    // own, is given up, and the simulation raises the failure with nothing changed.
    void afterReadFails()
    {
        const auto inst = EnteredInstallation("Varlo");
        auto db = inst->connect();
        const QByteArray file = FileBytes(inst->databaseFile());
        const TChangeRequest request = Request("Varlo", {On("13", "23", "23%")}, "vr");
        QTemporaryDir dir;
        TStatementLog log;
        log.attach(*db);
        SimulateChange(*db, request, nullptr, dir.filePath("simulacao.csv"));
        QVERIFY2(log.statements.last().startsWith("SELECT"), qPrintable(log.statements.last()));
        log.failAt = int(log.statements.size());
        log.clear();
        QVERIFY(!ErrorOf([&] { SimulateChange(*db, request, nullptr, dir.filePath("simulacao.csv")); }).isEmpty());
        QCOMPARE(FileBytes(inst->databaseFile()), file);
        QVERIFY(!db->inTransaction());
    }
};

QTEST_GUILESS_MAIN(SimulationTest)
#include "SimulationTest.moc"
