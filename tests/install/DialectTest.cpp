// The two T-SQL forms rewritten for SQLite, and everything else left exactly as built.

#include "TSqlDialect.h"

#include <QtTest>

class DialectTest : public QObject {
    Q_OBJECT

private slots:
    void translates_data()
    {
        QTest::addColumn<QString>("tsql");
        QTest::addColumn<QString>("sqlite");
        const QString now = "datetime('now','localtime')";
        QTest::newRow("column probe") << "SELECT TOP 1 * FROM produtos" << "SELECT * FROM produtos LIMIT 1";
        QTest::newRow("top, lower case, more rows") << "select top 25 codigo FROM produtos WHERE iva=23 ORDER BY codigo"
                                                    << "select codigo FROM produtos WHERE iva=23 ORDER BY codigo LIMIT 25";
        QTest::newRow("top across lines") << "SELECT\n  TOP 1\n  *\nFROM produtos\n" << "SELECT *\nFROM produtos LIMIT 1";
        QTest::newRow("validity stamp")
            << "UPDATE produtos SET precovenda1=precovenda1 / 1.13, validade=GETDATE() WHERE ivavenda=13"
            << "UPDATE produtos SET precovenda1=precovenda1 / 1.13, validade=" + now + " WHERE ivavenda=13";
        QTest::newRow("getdate any case and blanks") << "SELECT getdate ( ), GetDate()" << "SELECT " + now + ", " + now;
        QTest::newRow("top and getdate") << "SELECT TOP 1 GETDATE() FROM iva" << "SELECT " + now + " FROM iva LIMIT 1";

        // Nothing else changes.
        const QStringList unchanged = {
            "UPDATE produtos SET precovenda= ROUND(precovenda, 2) WHERE iva=13",
            "UPDATE produtos SET iva2 = iva WHERE iva2 IS NULL",
            "UPDATE iva SET descricao = 'GETDATE() e TOP 1' WHERE factor=23",
            "UPDATE iva SET descricao = 'it''s GETDATE()' WHERE factor=23",
            "SELECT [getdate()] FROM \"TOP 1\"",
            "SELECT [a]]GETDATE()] FROM iva",
            "SELECT 'never closed'' GETDATE()",
            "SELECT MYGETDATE() FROM iva",
            "SELECT GETDATE_X() FROM iva",
            "SELECT GETDATE FROM iva",
            "SELECT * FROM iva WHERE descricao='SELECT TOP 1'",
            "INSERT INTO iva (codigo, factor) VALUES (23,23)",
            "SELECT TOPO FROM iva",
            "SELECT * FROM (SELECT TOP 1 * FROM iva) x",
            "UPDATE configpostos SET valor = '23' WHERE (chave = 'IVA POR DEFEITO') AND (valor = '13')",
            "  SELECT * FROM iva  ",
            "",
        };
        for (const QString& s : unchanged)
            QTest::newRow(qPrintable("unchanged: " + s)) << s << s;
    }
    void translates()
    {
        QFETCH(QString, tsql);
        QFETCH(QString, sqlite);
        QCOMPARE(TranslateTSqlForSqlite(tsql), sqlite);
    }

    // Only an engine that says it is SQLite gets translated statements.
    void translatesOnlyForSqlite_data()
    {
        QTest::addColumn<QString>("dbmsName");
        QTest::addColumn<bool>("translates");
        QTest::newRow("SQLite") << "SQLite" << true;
        QTest::newRow("SQL Server") << "Microsoft SQL Server" << false;
        QTest::newRow("unknown engine") << "PostgreSQL" << false;
        QTest::newRow("name not readable") << "" << false;
    }
    void translatesOnlyForSqlite()
    {
        QFETCH(QString, dbmsName);
        QFETCH(bool, translates);
        QCOMPARE(TranslatesTSqlFor(dbmsName), translates);
    }
};

QTEST_GUILESS_MAIN(DialectTest)
#include "DialectTest.moc"
