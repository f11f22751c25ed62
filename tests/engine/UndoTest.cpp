// A change undone from its images, on each kind of installation and with the options together:
// the database comes back value for value; a product edited since is left and listed; a rate a
// product still carries is kept; a table without a key gives no images at all.

#include "EngineTestData.h"
#include "Undo.h"

#include <QtTest>

namespace {

// The change with its images, as the program makes every change.
bool ChangeWithImages(TDbConnection& db, const TChangeRequest& request, const QString& path)
{
    TChangeImageWriter images(path, QStringLiteral("teste"), request);
    bool imaged = false;
    TRunHooks hooks;
    hooks.afterBegin = [&] { imaged = images.ReadBefore(db); };
    hooks.beforeCommit = [&] {
        if (imaged)
            images.ReadAfter(db);
    };
    RunChange(db, request, TRunKind::Immediate, hooks);
    return imaged;
}

}  // namespace

class UndoTest : public QObject {
    Q_OBJECT

private slots:
    void undo_data()
    {
        QTest::addColumn<TChangeRequest>("request");
        QTest::addColumn<QStringList>("columns");  // optional columns of produtos
        QTest::addColumn<QString>("meanwhile");    // done between the change and its undo
        QTest::addColumn<int>("left");             // products left as they are
        QTest::addColumn<QString>("leftTo");       // where their file goes: "" a folder of the test's
        QTest::newRow("Varlo, chained rows, every option")
            << Request("Varlo", {On("6", "13", "13%"), On("13", "23", "23%")}, "vcr") << QStringList() << "" << 0 << "";
        QTest::newRow("Meltra, keeping the old rate") << Request("Meltra", {On("13", "23", "nova")}, "kvr", "3")
                                                      << QStringList{"pvp4", "pvpmeia4"} << "" << 0 << "";
        QTest::newRow("Quibon, further rates and prices")
            << Request("Quibon", {On("23", "21", "21%"), On("6", "5", "5%")}, "vcr")
            << QStringList{"iva2", "ivarevenda", "pvp2", "pvpmeia2"} << "" << 0 << "";
        QTest::newRow("a product edited and one removed since")
            << Request("Varlo", {On("13", "23", "23%")}, "v") << QStringList()
            << "UPDATE produtos SET precovenda = 1 WHERE codigo = (SELECT MIN(codigo) FROM produtos WHERE iva = 23);"
               "DELETE FROM produtos WHERE codigo = (SELECT MAX(codigo) FROM produtos WHERE iva = 23)"
            << 2 << "";
        QTest::newRow("a new product at the new rate keeps it")
            << Request("Varlo", {On("13", "24", "24%")}, "v") << QStringList()
            << "INSERT INTO produtos (codigo, iva, ivacompra, precovenda, precocompra) VALUES ('novo', 24, 24, 1, 1)"
            << 0 << "";
        QTest::newRow("a new product at the new rate in a NUMERIC rate column keeps it")
            << Request("Quibon", {On("13", "24", "24%")}, "v") << QStringList{"iva2", "ivarevenda NUMERIC(15,4)"}
            << "INSERT INTO produtos (codigo, iva, ivacompra, iva2, ivarevenda, precovenda, precocompra) "
               "VALUES ('novo', 6, 6, 6, 24, 1, 1)"
            << 0 << "";
        // The file of the products left cannot be written whole: the undo fails and is rolled
        // back rather than hand on a file cut short.
        QTest::newRow("a full disk for the products left")
            << Request("Varlo", {On("13", "23", "23%")}, "v") << QStringList()
            << "UPDATE produtos SET precovenda = 1 WHERE codigo = (SELECT MIN(codigo) FROM produtos WHERE iva = 23)"
            << 1 << "/dev/full";
    }

    void undo()
    {
        QFETCH(TChangeRequest, request);
        QFETCH(QStringList, columns);
        QFETCH(QString, meanwhile);
        QFETCH(int, left);
        QFETCH(QString, leftTo);
        const auto inst = EnteredInstallation(AppName(request.app));
        ShapeProducts(*inst, columns);
        if (request.app == TAppKind::Quibon)
            inst->exec("UPDATE produtos SET iva2 = NULL WHERE rowid % 7 = 0");
        // Prices a few cents, below nothing, nothing, and no number of cents at all: each
        // comes back as it was.
        inst->exec("UPDATE produtos SET precocompra = CASE rowid % 5 WHEN 1 THEN 0.05 WHEN 2 THEN -1.5 WHEN 3 THEN 0 "
                   "WHEN 4 THEN 1.0 / 3 ELSE precocompra END");
        auto db = inst->connect();
        const QString before = inst->dump();
        QTemporaryDir dir;
        QVERIFY(ChangeWithImages(*db, request, dir.filePath("imagens")));
        QVERIFY(inst->dump() != before);
        for (const QString& statement : meanwhile.split(';', Qt::SkipEmptyParts))
            inst->exec(statement);
        const QString edited = inst->dump();

        if (!leftTo.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(TFileError, UndoChange(*db, TChangeImage(dir.filePath("imagens")), {}, leftTo));
            QCOMPARE(inst->dump(), edited);
            return;
        }
        const TUndoResult result = UndoChange(*db, TChangeImage(dir.filePath("imagens")), {}, dir.filePath("deixados.csv"));
        QCOMPARE(result.productsLeft, qint64(left));
        if (meanwhile.isEmpty()) {
            QCOMPARE(inst->dump(), before);
            QCOMPARE(result.leftFile, QString());
            return;
        }
        if (left > 0) {
            // Listed: the file has them, and the database keeps what was done to them.
            QCOMPARE(QString::fromUtf8(FileBytes(result.leftFile)).count("\r\n"), left + 1);
            QCOMPARE(inst->scalar("SELECT COUNT(*) FROM produtos WHERE precovenda = 1 AND iva = 23").toInt(), 1);
        } else {
            QCOMPARE(inst->scalar("SELECT COUNT(*) FROM iva WHERE factor = 24").toInt(), 1);
        }
        QVERIFY(inst->dump() != edited);
    }

    // Without a key the products could not be put back one by one: no images are taken.
    void noKey()
    {
        const auto inst = EnteredInstallation("Tosvel");
        auto db = inst->connect();
        QTemporaryDir dir;
        QVERIFY(!ChangeWithImages(*db, Request("Tosvel", {On("13", "23", "23%")}, "v"), dir.filePath("imagens")));
        QVERIFY(!QFile::exists(dir.filePath("imagens")));
    }
};

QTEST_GUILESS_MAIN(UndoTest)
#include "UndoTest.moc"
