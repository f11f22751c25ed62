// A run is all or nothing: whatever statement fails, in whichever row, the database is
// afterwards exactly as before, and the error that reaches the report is the one raised.

#include "ChangeRun.h"
#include "EngineTestData.h"
#include "TDbConnection.h"
#include "TempInstallation.h"
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

// Three rows on Quibon with every option and every optional column: the longest run there is.
TChangeRequest LongestRun()
{
    return Request("Quibon", {On("13", "23", "23%"), On("6", "7", "taxa d'água"), On("23", "25", "25%")}, "vcr");
}

std::unique_ptr<TTempInstallation> QuibonWithData()
{
    auto inst = EnteredInstallation("Quibon");
    ShapeProducts(*inst, OptionalProductColumns());
    // Every product gets a value in every optional column, so that each statement changes rows.
    for (const QString& c : OptionalProductColumns())
        inst->exec(QStringLiteral("UPDATE produtos SET %1 = %2 WHERE %1 IS NULL").arg(c, c.startsWith("iva") ? "iva" : "7.5"));
    inst->exec("UPDATE produtos SET iva2 = NULL WHERE rowid % 3 = 0");
    return inst;
}

}  // namespace

class RollbackTest : public QObject {
    Q_OBJECT

private slots:
    // Statement k fails, for every k of the longest run, and then the commit itself.
    void everyStatementPosition()
    {
        auto inst = QuibonWithData();
        auto db = inst->connect();
        TStatementLog log;
        log.attach(*db);
        const QString before = inst->dump();

        // A failure just before the commit undoes the whole run, and counts it.
        TRunHooks refuse;
        refuse.beforeCommit = [] { throw TDbError("recusado"); };
        QVERIFY_THROWS_EXCEPTION(TDbError, RunChange(*db, LongestRun(), TRunKind::Immediate, refuse));
        QCOMPARE(inst->dump(), before);
        const int total = log.statements.size();
        QVERIFY(total > 100);

        for (int k = 1; k <= total; ++k) {
            log.clear();
            log.failAt = k;
            QVERIFY2(!ErrorOf([&] { RunChange(*db, LongestRun(), TRunKind::Immediate); }).isEmpty(),
                     qPrintable(QString("statement %1 did not fail the run").arg(k)));
            QCOMPARE(log.statements.size(), k);
            QVERIFY(!db->inTransaction());
            if (inst->dump() != before)
                QFAIL(qPrintable(QString("database changed after a failure at statement %1: %2").arg(k).arg(log.statements.last())));
        }

        // The connection is still good for a whole run after all those rollbacks, and the
        // run changes the database, so the sweep above proved something.
        log.clear();
        log.failAt = 0;
        RunChange(*db, LongestRun(), TRunKind::Immediate);
        QCOMPARE(log.statements.size(), total);
        QVERIFY(inst->dump() != before);
    }

    // Failures raised by the database itself, early and late in the run.
    void databaseFailures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("errorText");
        QTest::addColumn<QString>("failingStatement");

        QTest::newRow("trigger on the purchase price, row 1")
            << "CREATE TRIGGER t_block BEFORE UPDATE OF precocompra ON produtos "
               "BEGIN SELECT RAISE(ABORT, 'preço de compra bloqueado'); END"
            << "preço de compra bloqueado"
            << "UPDATE produtos SET precocompra=precocompra / 1.13 WHERE ivacompra=13";
        QTest::newRow("trigger on the deleted codes, row 3")
            << "CREATE TRIGGER t_block BEFORE INSERT ON iva_apagar WHEN NEW.codigo = 23 "
               "BEGIN SELECT RAISE(ABORT, 'código 23 em uso'); END"
            << "código 23 em uso" << "INSERT INTO iva_apagar (codigo) VALUES (23)";
        QTest::newRow("trigger on a terminal default, last statement")
            << "CREATE TRIGGER t_block BEFORE UPDATE ON configpostos WHEN NEW.valor = '25' "
               "BEGIN SELECT RAISE(ABORT, 'posto bloqueado'); END"
            << "posto bloqueado"
            << "UPDATE configpostos SET valor = '25' WHERE (chave = 'IVA POR DEFEITO') AND (valor = '23')";
        QTest::newRow("missing column")
            << "ALTER TABLE produtos DROP COLUMN pvpmeia5" << "pvpmeia5"
            << "UPDATE produtos SET pvpmeia5=pvpmeia5 / 1.13 WHERE iva=13";
    }

    void databaseFailures()
    {
        QFETCH(QString, setup);
        QFETCH(QString, errorText);
        QFETCH(QString, failingStatement);

        auto inst = QuibonWithData();
        inst->exec(setup);
        const QString before = inst->dump();
        auto db = inst->connect();
        TStatementLog log;
        log.attach(*db);

        QString error;
        try {
            RunChange(*db, LongestRun(), TRunKind::Immediate);
        } catch (const TDbError& e) {
            error = e.text();
        }
        QVERIFY2(error.contains(errorText), qPrintable(error));
        QVERIFY(!log.statements.isEmpty());
        QCOMPARE(log.statements.last(), failingStatement);
        QVERIFY(!db->inTransaction());
        QCOMPARE(inst->dump(), before);
    }

    // The scheduled run records its progress around the commit: a failure recorded before
    // the commit undoes the change, and the after-hook sees a committed change.
    void commitHooks()
    {
        auto inst = QuibonWithData();
        const QString before = inst->dump();
        auto db = inst->connect();

        QStringList calls;
        TRunHooks failing;
        failing.beforeCommit = [&] {
            calls << (db->inTransaction() ? "before, in transaction" : "before, outside");
            throw std::runtime_error("registo falhou");
        };
        failing.afterCommit = [&] { calls << "after"; };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, RunChange(*db, LongestRun(), TRunKind::Scheduled, failing));
        QCOMPARE(calls, QStringList{"before, in transaction"});
        QCOMPARE(inst->dump(), before);

        calls.clear();
        TRunHooks good;
        good.beforeCommit = [&] { calls << "before"; };
        good.afterCommit = [&] {
            calls << (db->inTransaction() ? "after, in transaction" : "after, committed");
            // Committed means visible on another connection.
            calls << (inst->dump() != before ? "changed" : "unchanged");
        };
        RunChange(*db, LongestRun(), TRunKind::Scheduled, good);
        QCOMPARE(calls, (QStringList{"before", "after, committed", "changed"}));

        // A request with no row ticked opens no transaction and calls no hook.
        calls.clear();
        RunChange(*db, Request("Quibon", {Off("13", "23", "x")}), TRunKind::Scheduled, good);
        QVERIFY(calls.isEmpty());
    }

    // A commit that the disk cannot take (SQLite then undoes the transaction by itself): the
    // change is undone, the run says nothing was committed, so that a schedule is run again
    // rather than dropped as in doubt, and the connection's next run is again one transaction.
    void commitRefusedByAFullDisk()
    {
        auto inst = QuibonWithData();
        // Whole prices take a byte or two on disk, divided ones eight: the commit must grow
        // the file past the limit, as a change does on a disk that is nearly full.
        QStringList whole;
        for (const QString& c : OptionalProductColumns() + QStringList{"precovenda", "precomeia", "precocompra"})
            if (!c.startsWith("iva")) whole << c + " = 1";
        inst->exec("UPDATE produtos SET " + whole.join(", "));
        inst->exec("VACUUM");
        const QString before = inst->dump();
        auto db = inst->connect();

        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        QStringList calls;
        TRunHooks hooks;
        hooks.beforeCommit = [&] {
            rlimit small = saved;
            small.rlim_cur = QFileInfo(inst->databaseFile()).size();
            setrlimit(RLIMIT_FSIZE, &small);
        };
        hooks.afterCommit = [&] { calls << "committed"; };
        hooks.commitRolledBack = [&] { calls << "rolled back"; };
        const QString error = ErrorOf([&] { RunChange(*db, LongestRun(), TRunKind::Scheduled, hooks); });
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        QVERIFY2(error.contains("I/O"), qPrintable(error));
        QCOMPARE(calls, QStringList{"rolled back"});
        QCOMPARE(inst->dump(), before);

        TRunHooks refuse;
        refuse.beforeCommit = [] { throw TDbError("recusado"); };
        QCOMPARE(ErrorOf([&] { RunChange(*db, LongestRun(), TRunKind::Scheduled, refuse); }), QString("recusado"));
        QCOMPARE(inst->dump(), before);
    }
};

QTEST_GUILESS_MAIN(RollbackTest)
#include "RollbackTest.moc"
