// The installations the demo and every database test start from: the schema of each kind,
// its sample data, and the files that make it an installation the program recognises.

#include "Detection.h"
#include "Installation.h"
#include "TDbConnection.h"
#include "TempInstallation.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include <clocale>

namespace {

QStringList Columns(const TTempInstallation& inst, const QString& table)
{
    QStringList out;
    for (const auto& row : inst.rows(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        out << row.value(1).toString();
    return out;
}

QStringList Tables(const TTempInstallation& inst)
{
    QStringList out;
    for (const auto& row : inst.rows("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"))
        out << row.value(0).toString();
    return out;
}

}  // namespace

class InstallationTest : public QObject {
    Q_OBJECT

private slots:
    // The schema of each kind, its sample data, and the program finding and opening it.
    void schemaOfEachKind_data()
    {
        QTest::addColumn<QString>("app");
        QTest::addColumn<QStringList>("tables");
        QTest::addColumn<QStringList>("products");
        QTest::addColumn<QStringList>("rates");
        const QStringList common = {"iva", "ivacompra", "precovenda", "precocompra"};
        QTest::newRow("Varlo") << "Varlo" << QStringList{"configuracao", "iva", "produtos"} << common
                               << QStringList{"codigo", "factor", "descricao"};
        QTest::newRow("Tosvel") << "Tosvel" << QStringList{"configuracao", "iva", "produtos"}
                                << common + QStringList{"precovenda2", "precovenda3"}
                                << QStringList{"codigo", "factor", "descricao"};
        QTest::newRow("Meltra") << "Meltra" << QStringList{"config", "iva", "produtos"}
                                << QStringList{"ivavenda", "ivacompra", "precovenda1", "precovenda2", "precovenda3", "precocompra", "validade"}
                                << QStringList{"codigo", "factor", "descricao", "factor2"};
        QTest::newRow("Quibon") << "Quibon" << QStringList{"configpostos", "configuracao", "iva", "iva_apagar", "produtos"}
                                << QStringList{"id", "iva", "iva2", "ivarevenda", "ivacompra", "precovenda", "precomeia",
                                               "pvp2", "pvp3", "pvp4", "pvp5", "pvpmeia2", "pvpmeia3", "pvpmeia4", "pvpmeia5", "precocompra"}
                                << QStringList{"id", "codigo", "factor", "descricao"};
    }
    void schemaOfEachKind()
    {
        QFETCH(QString, app);
        QFETCH(QStringList, tables);
        QFETCH(QStringList, products);
        QFETCH(QStringList, rates);
        auto made = EnteredInstallation(app);
        const TTempInstallation& inst = *made;
        QCOMPARE(Tables(inst), tables);
        const QStringList productColumns = Columns(inst, "produtos");
        for (const QString& c : products)
            QVERIFY2(productColumns.contains(c), qPrintable(c));
        QCOMPARE(Columns(inst, "iva"), rates);
        // The optional columns of the other kinds are absent, so the probes see each kind as it is.
        for (const QString c : {"precovenda2", "pvp2", "iva2", "ivavenda", "precovenda1"})
            QCOMPARE(productColumns.contains(c), products.contains(c));

        // Sample data: rates 0/6/13/23 with descriptions, a few hundred products at 6, 13
        // and 23 % with VAT-inclusive decimal prices, VAT included in the configuration.
        QCOMPARE(inst.scalar("SELECT group_concat(factor) FROM (SELECT factor FROM iva ORDER BY factor)").toString(), QString("0,6,13,23"));
        QCOMPARE(inst.scalar("SELECT count(*) FROM iva WHERE descricao IS NULL OR descricao = '' OR codigo <> factor").toInt(), 0);
        const QString rate = app == "Meltra" ? "ivavenda" : "iva";
        const QString price = app == "Meltra" ? "precovenda1" : "precovenda";
        // Yes or no, in order: at least 300 products, at least 50 at each of 6, 13 and 23 %,
        // none at another rate; over 200 decimal prices; some purchase rates unlike the sale
        // rate; every price positive, purchase below sale; descriptions unique.
        QCOMPARE(inst.rows(QStringLiteral("SELECT count(*) >= 300, sum(%1=6) >= 50, sum(%1=13) >= 50, sum(%1=23) >= 50, "
                                          "sum(%1 NOT IN (6, 13, 23)) = 0, sum(%2 <> round(%2)) > 200, sum(ivacompra <> %1) > 0, "
                                          "sum(%2 <= 0 OR precocompra <= 0 OR precocompra >= %2) = 0, "
                                          "count(DISTINCT descricao) = count(*) FROM produtos").arg(rate, price)).value(0),
                 QVariantList(9, 1));
        const QString config = app == "Meltra" ? "config" : "configuracao";
        QCOMPARE(inst.rows("SELECT ivaincluido FROM " + config), (QList<QVariantList>{{1}}));
        if (app == "Quibon") {
            QCOMPARE(inst.scalar("SELECT count(DISTINCT chave) FROM configpostos WHERE chave IN "
                                 "('IVA POR DEFEITO', 'IVA NO CONSUMO MINIMO', 'IVA AO BALCAO')").toInt(), 3);
            QVERIFY(inst.scalar("SELECT count(*) FROM produtos WHERE iva2 IS NULL").toInt() > 0);
            QCOMPARE(inst.scalar("SELECT count(*) FROM iva_apagar").toInt(), 0);
        }
        if (app == "Meltra")
            QCOMPARE(inst.scalar("SELECT count(*) FROM iva WHERE factor2 IS NULL").toInt(), 0);

        // The program finds it and opens it through its own path.
        const TAppKind detected = ProbeInstalledApp(QDir::currentPath());
        QCOMPARE(AppName(detected), app);
        TDbConnection db;
        db.setConnectionString(ConnectionStringFor(detected));
        db.setSQL("SELECT * FROM " + config);
        db.Open();
        QCOMPARE(db.FieldByName("ivaincluido"), 1);
    }

    // taxas-make-installation in a folder whose path an ODBC connection string cannot carry
    // as it is, and under locales that are not UTF-8; then the program, under the same locale,
    // finds what it made and writes to it. Nothing is made beside the folder, and the texts
    // of both are stored in UTF-8, as the sqlite3 shell reads them.
    void toolInAnyFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("locale");  // the one locale variable set
        QTest::newRow("semicolon") << "loja;1" << "LANG=C.UTF-8";
        QTest::newRow("braces, quotes, percent") << "{\"d'a\" 5%}" << "LANG=C.UTF-8";
        QTest::newRow("LANG=C") << "loja" << "LANG=C";
        QTest::newRow("LC_ALL=C, accent, brace, semicolon") << "ção}a;{b" << "LC_ALL=C";
        QTest::newRow("locale not installed") << "loja" << "LANG=pt_PT.ISO-8859-15";
    }
    void toolInAnyFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, locale);
        QTemporaryDir dir;
        const QString path = dir.filePath(folder);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString& key : environment.keys())
            if (key == "LANG" || key.startsWith("LC_"))
                environment.remove(key);
        environment.insert(locale.section('=', 0, 0), locale.section('=', 1));
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(TAXAS_MAKE_INSTALLATION, {path});
        QVERIFY2(tool.waitForFinished(60000) && tool.exitCode() == 0, tool.readAllStandardError().constData());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{folder});

        const QString previousDir = QDir::currentPath();
        const QByteArray previousLocale = setlocale(LC_ALL, nullptr);
        const auto back = qScopeGuard([&] {
            QDir::setCurrent(previousDir);
            setlocale(LC_ALL, previousLocale.constData());
        });
        if (!setlocale(LC_ALL, locale.section('=', 1).toLatin1().constData()))
            setlocale(LC_ALL, "C");  // as the C library starts under a locale it lacks
        QVERIFY(QDir::setCurrent(path));
        TDbConnection db;
        db.setConnectionString(ConnectionStringFor(ProbeInstalledApp(path)));
        db.setSQL(QStringLiteral("UPDATE iva SET descricao=descricao || ' ção' WHERE factor=13"));
        QCOMPARE(ErrorOf([&] { db.ExecSQL(); }), QString());
        QProcess shell;
        shell.start("sqlite3", {path + "/varlo.db", "SELECT hex(descricao) FROM iva WHERE factor=13"});
        QVERIFY(shell.waitForFinished(30000));
        QCOMPARE(shell.readAllStandardOutput().trimmed(), QStringLiteral("Taxa intermédia ção").toUtf8().toHex().toUpper());
    }

    void options_data()
    {
        QTest::addColumn<bool>("sample");
        QTest::addColumn<bool>("udl");
        QTest::addColumn<bool>("ini");
        QTest::newRow("tables only") << false << true << true;
        QTest::newRow("no ini") << true << true << false;
        QTest::newRow("no udl") << true << false << true;
    }
    void options()
    {
        QFETCH(bool, sample);
        QFETCH(bool, udl);
        QFETCH(bool, ini);
        TInstallationOptions options;
        options.app = "Quibon";
        options.sampleData = sample;
        options.writeUdl = udl;
        options.writeIni = ini;
        TTempInstallation inst(options);
        QCOMPARE(QFileInfo::exists(inst.folder() + "/quibon.udl"), udl);
        QCOMPARE(QFileInfo::exists(inst.folder() + "/quibon.ini"), ini);
        for (const QString table : {"iva", "produtos", "configuracao", "configpostos"})
            QCOMPARE(inst.scalar("SELECT count(*) > 0 FROM " + table).toInt(), sample ? 1 : 0);
        QCOMPARE(AppName(ProbeInstalledApp(inst.folder())), QString(udl && ini ? "Quibon" : "Nenhum"));
    }

    // Making an installation again over an old one starts afresh: no stale data or files.
    void remakeReplaces()
    {
        TTempInstallation inst;
        inst.exec("DELETE FROM iva");
        TInstallationOptions options;
        options.app = "Varlo";
        options.sampleData = false;
        options.writeIni = false;
        MakeInstallation(inst.folder(), options);
        QCOMPARE(inst.scalar("SELECT count(*) FROM produtos").toInt(), 0);
        QVERIFY(!QFileInfo::exists(inst.folder() + "/varlo.ini"));
        MakeInstallation(inst.folder(), TInstallationOptions());
        QCOMPARE(inst.scalar("SELECT count(*) FROM iva").toInt(), 4);
    }

    void refusesUnknownKinds()
    {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, SchemaScript("Nenhum"));
        QTemporaryDir dir;
        TInstallationOptions options;
        options.app = "Outra";
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, MakeInstallation(dir.path(), options));
        QVERIFY(SchemaScript("quibon").contains("configpostos"));
    }

    // A script statement that fails names itself, and leaves nothing of the script behind.
    void scriptFailureIsAtomic()
    {
        TTempInstallation inst;
        const QString before = inst.dump();
        try {
            RunSqliteScript(inst.databaseFile(), "DELETE FROM iva;\nINSERT INTO nada VALUES (2)");
            QFAIL("the script ran");
        } catch (const TDbError& e) {
            QVERIFY2(e.text().contains("instrução 2") && e.text().contains("no such table: nada"), qPrintable(e.text()));
        }
        QCOMPARE(inst.dump(), before);
        RunSqliteScript(inst.databaseFile(), "DELETE FROM iva WHERE factor=0");
        QCOMPARE(inst.scalar("SELECT count(*) FROM iva").toInt(), 3);
    }

    void splitsScripts_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("statements");
        QTest::newRow("two") << "CREATE TABLE a (x);\nINSERT INTO a VALUES (1);\n" << QStringList{"CREATE TABLE a (x)", "INSERT INTO a VALUES (1)"};
        QTest::newRow("no final semicolon") << "SELECT 1; SELECT 2" << QStringList{"SELECT 1", "SELECT 2"};
        QTest::newRow("semicolon in a string") << "INSERT INTO a VALUES ('a;b', 'it''s;')" << QStringList{"INSERT INTO a VALUES ('a;b', 'it''s;')"};
        QTest::newRow("semicolon in identifiers") << "SELECT \"a;\" FROM [b;c]" << QStringList{"SELECT \"a;\" FROM [b;c]"};
        QTest::newRow("comments dropped") << "-- a; comment\nSELECT 1; /* b; */ SELECT 2 -- c;\n-- end" << QStringList{"SELECT 1", "SELECT 2"};
        QTest::newRow("comment marks inside strings") << "SELECT '--x', '/*y*/'" << QStringList{"SELECT '--x', '/*y*/'"};
        QTest::newRow("empty statements") << ";;\n ; " << QStringList{};
    }
    void splitsScripts()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, statements);
        QCOMPARE(SplitSqlScript(script), statements);
    }
};

QTEST_GUILESS_MAIN(InstallationTest)
#include "InstallationTest.moc"
