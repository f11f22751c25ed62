// The connection against real SQLite databases through the SQLite ODBC driver: the same
// data-link files, driver manager and Qt driver the program uses.

#include "Installation.h"
#include "TDbConnection.h"
#include "TempInstallation.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <memory>

class DbConnectionTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempInstallation> inst_;

private slots:
    void init() { inst_ = EnteredInstallation(); }
    void cleanup() { inst_.reset(); }

    // Open and ExecSQL connect on their own from the connection string; a closed connection
    // comes back on the next statement.
    void connectsWhenNeeded()
    {
        auto db = inst_->connect();
        QVERIFY(!db->connected());
        for (bool read : {true, false, true, false}) {
            if (read) {
                db->setSQL("SELECT factor FROM iva WHERE factor=23");
                db->Open();
                QCOMPARE(db->FieldByName("factor"), 23);
            } else {
                db->setSQL("UPDATE iva SET descricao = 'Normal' WHERE factor=23");
                db->ExecSQL();
            }
            QVERIFY(db->connected());
            db->setConnected(false);
            QVERIFY(!db->connected());
        }
        QCOMPARE(inst_->scalar("SELECT descricao FROM iva WHERE factor=23").toString(), QString("Normal"));
    }

    // Statements that fail raise the driver's own text, after a sentence of ours (which starts
    // as "cause") when the text shows what the operator can act on; a missing data-link file
    // names itself. "before" runs first on the same connection, or is "lock": another
    // connection holds the database for writing. SQL Server's words come from a trigger.
    void failuresRaise_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("expected");
        const QString v = "FILE NAME=.\\Varlo.UDL", locked = "A base de dados está bloqueada por outro programa",
                      readOnly = "A base de dados só permite leitura", full = "Não há espaço", missing = "Falta uma tabela";
        QTest::newRow("missing table") << v << "" << "SELECT * FROM config" << true << missing << "no such table: config";
        QTest::newRow("bad command") << v << "" << "UPDATE produtos SET nada=1" << false << missing << "no such column: nada";
        QTest::newRow("locked") << v << "lock" << "DELETE FROM iva" << false << locked << "database is locked";
        QTest::newRow("read-only") << v << "PRAGMA query_only=1" << "DELETE FROM iva" << false << readOnly << "readonly database";
        QTest::newRow("full") << v << "PRAGMA max_page_count=1" << "CREATE TABLE c (x)" << false << full << "disk is full";
        const QList<QPair<QString, QString>> server = {
            {locked, "Lock request time out period exceeded."}, {readOnly, "Failed to update database \"V\" because the database is read-only."},
            {locked, "Transaction (Process ID 53) was deadlocked on lock resources with another process and has been chosen as the deadlock victim."},
            {full, "Could not allocate space for object 'dbo.iva' in database 'V' because the 'PRIMARY' filegroup is full."},
            {full, "The transaction log for database 'V' is full due to 'LOG_BACKUP'."}, {missing, "Invalid object name 'iva'."},
            {missing, "Invalid column name 'pvp2'."}, {"[SQLite]", "Violation of PRIMARY KEY constraint 'PK_iva'."}};
        for (const auto& [cause, words] : server)
            QTest::newRow(qPrintable(words)) << v << "CREATE TRIGGER t BEFORE DELETE ON iva BEGIN SELECT RAISE(ABORT, '"
                    + QString(words).replace("'", "''") + "'); END" << "DELETE FROM iva" << false << cause << words;
        QTest::newRow("missing file, Open") << "FILE NAME=.\\Nenhum.UDL" << "" << "SELECT * FROM configuracao" << true << "O ficheiro" << "Nenhum.UDL";
        QTest::newRow("missing file, ExecSQL") << "FILE NAME=.\\Meltra.UDL" << "" << "DELETE FROM iva" << false << "O ficheiro" << "Meltra.UDL";
    }
    void failuresRaise()
    {
        QFETCH(QString, connection);
        QFETCH(QString, before);
        QFETCH(QString, sql);
        QFETCH(bool, read);
        QFETCH(QString, cause);
        QFETCH(QString, expected);
        auto writer = inst_->connect();
        if (before == "lock") {
            inst_->setLockTimeout(100);
            writer->BeginTransaction();
            writer->setSQL("UPDATE iva SET descricao = descricao");
            writer->ExecSQL();
            before.clear();
        }
        TDbConnection db;
        db.setConnectionString(connection);
        if (!before.isEmpty()) {
            db.setSQL(before);
            db.ExecSQL();
        }
        db.setSQL(sql);
        const QString error = ErrorOf([&] { read ? db.Open() : db.ExecSQL(); });
        QVERIFY2(error.startsWith(cause) && error.contains(expected), qPrintable(error));
        QVERIFY(db.IsEmpty());
        writer.reset();
        QCOMPARE(inst_->scalar("SELECT count(*) FROM iva").toInt(), 4);
    }

    // The data-link file is found whatever the case of its name or of the folder's entries.
    void fileNameCase_data()
    {
        QTest::addColumn<QString>("onDisk");
        QTest::addColumn<QString>("connection");
        QTest::newRow("lower on disk") << "varlo.udl" << "FILE NAME=.\\Varlo.UDL";
        QTest::newRow("upper on disk") << "VARLO.UDL" << "FILE NAME=.\\Varlo.UDL";
        QTest::newRow("mixed, slashes") << "Varlo.Udl" << "FILE NAME=./varlo.udl";
        QTest::newRow("spaced keyword") << "varlo.udl" << "  file   name = .\\VARLO.udl ;";
    }
    void fileNameCase()
    {
        QFETCH(QString, onDisk);
        QFETCH(QString, connection);
        QDir dir(inst_->folder());
        if (onDisk != "varlo.udl")
            QVERIFY(dir.rename("varlo.udl", onDisk));
        TDbConnection db;
        db.setConnectionString(connection);
        db.setConnected(true);
        QVERIFY(db.connected());
    }

    // Names without regard to case, on a result with rows and on an empty one (the column
    // probe relies on both); nothing found once the result is closed.
    void findFieldIgnoresCase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("found");
        QTest::newRow("same case") << "precovenda" << true;
        QTest::newRow("upper") << "PRECOVENDA" << true;
        QTest::newRow("mixed") << "PrecoCompra" << true;
        QTest::newRow("absent") << "pvp2" << false;
        QTest::newRow("prefix only") << "preco" << false;
    }
    void findFieldIgnoresCase()
    {
        QFETCH(QString, name);
        QFETCH(bool, found);
        auto db = inst_->connect();
        for (bool empty : {false, true}) {
            if (empty)
                inst_->exec("DELETE FROM produtos");
            db->setSQL("SELECT TOP 1 * FROM produtos");
            db->Open();
            QCOMPARE(db->IsEmpty(), empty);
            QCOMPARE(db->FindField(name), found);
            db->Close();
            QVERIFY(!db->FindField(name));
        }
    }

    // The columns that name a row of a table, from the driver's catalogue: a primary key (of one
    // column or several, in the order the driver gives), else a unique index over columns that
    // are all NOT NULL; a unique index over a column that may hold NULL names nothing.
    void rowKey_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("key");
        QTest::newRow("primary key") << "CREATE TABLE t (a INTEGER, codigo VARCHAR(20) NOT NULL PRIMARY KEY, b INTEGER)"
                                     << QStringList{"codigo"};
        QTest::newRow("primary key of two columns")
            << "CREATE TABLE t (loja INTEGER NOT NULL, ref INTEGER NOT NULL, PRIMARY KEY (ref, loja))"
            << QStringList{"loja", "ref"};
        QTest::newRow("unique and not null") << "CREATE TABLE t (a INTEGER UNIQUE, codigo VARCHAR(20) NOT NULL UNIQUE)"
                                             << QStringList{"codigo"};
        QTest::newRow("unique but nullable") << "CREATE TABLE t (codigo VARCHAR(20) UNIQUE, n INTEGER)" << QStringList();
        QTest::newRow("no index") << "CREATE TABLE t (codigo VARCHAR(20) NOT NULL)" << QStringList();
    }
    void rowKey()
    {
        QFETCH(QString, table);
        QFETCH(QStringList, key);
        inst_->exec(table);
        auto db = inst_->connect();
        QCOMPARE(db->RowKey("t"), key);
    }

    // The current row's value as a 32-bit integer; an invalid expected value means an error.
    void fieldByName_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("integer column") << "SELECT * FROM configuracao" << "ivaincluido" << QVariant(1);
        QTest::newRow("other case") << "SELECT * FROM configuracao" << "IVAINCLUIDO" << QVariant(1);
        QTest::newRow("decimal") << "SELECT precovenda FROM produtos WHERE codigo='V00001'" << "precovenda" << QVariant(2);
        QTest::newRow("decimal rounds") << "SELECT 2.5 + 2.4 AS p" << "p" << QVariant(5);
        QTest::newRow("text digits") << "SELECT '13' AS t" << "t" << QVariant(13);
        QTest::newRow("null reads as zero") << "SELECT NULL AS n" << "n" << QVariant(0);
        QTest::newRow("negative") << "SELECT -7 AS n" << "n" << QVariant(-7);
        QTest::newRow("first row only") << "SELECT factor FROM iva ORDER BY factor DESC" << "factor" << QVariant(23);
        QTest::newRow("absent field") << "SELECT factor FROM iva" << "codigo2" << QVariant();
        QTest::newRow("text") << "SELECT descricao FROM iva WHERE factor=23" << "descricao" << QVariant();
        QTest::newRow("too big") << "SELECT 3000000000 AS n" << "n" << QVariant();
        QTest::newRow("no row") << "SELECT factor FROM iva WHERE factor=99" << "factor" << QVariant();
    }
    void fieldByName()
    {
        QFETCH(QString, sql);
        QFETCH(QString, field);
        QFETCH(QVariant, expected);
        auto db = inst_->connect();
        db->setSQL(sql);
        db->Open();
        if (expected.isValid())
            QCOMPARE(db->FieldByName(field), expected.toInt());
        else
            QVERIFY(!ErrorOf([&] { db->FieldByName(field); }).isEmpty());
    }

    // The observer sees each statement as built (before the dialect is translated), in
    // order, marked read or command; a throw from it keeps the statement from being sent.
    // The next statement closes a read left open: SQL Server refuses a statement on a
    // connection with a result still pending.
    void observerSeesStatementsAsBuilt()
    {
        auto db = inst_->connect();
        TStatementLog log;
        log.attach(*db);
        const QStringList sent = {"SELECT TOP 1 * FROM produtos",
                                  "UPDATE iva SET descricao = 'x' WHERE factor=6",
                                  "SELECT * FROM iva WHERE factor=6"};
        db->setSQL(sent[0]);
        db->Open();
        db->setSQL(sent[1]);
        QVERIFY(!db->FindField("precovenda"));
        db->ExecSQL();
        db->setSQL(sent[2]);
        db->Open();
        QCOMPARE(log.statements, sent);
        QCOMPARE(log.kinds, (QList<TStatementKind>{TStatementKind::Read, TStatementKind::Command, TStatementKind::Read}));
        QVERIFY(db->translatesTSql());

        log.clear();
        log.failAt = 1;
        db->setSQL("DELETE FROM iva");
        QVERIFY(ErrorOf([&] { db->ExecSQL(); }).contains("Falha simulada"));
        QCOMPARE(log.statements, QStringList{"DELETE FROM iva"});
        QCOMPARE(inst_->scalar("SELECT count(*) FROM iva").toInt(), 4);
    }

    // GETDATE() and TOP reach SQLite in its own dialect and work there.
    void tsqlFormsRunOnSqlite()
    {
        auto meltra = EnteredInstallation("Meltra");
        auto db = meltra->connect();
        db->setSQL("UPDATE produtos SET precovenda1=precovenda1 / 1.06, validade=GETDATE() WHERE ivavenda=6");
        db->ExecSQL();
        const QDateTime stamped = meltra->scalar("SELECT max(validade) FROM produtos").toDateTime();
        QVERIFY2(qAbs(stamped.secsTo(QDateTime::currentDateTime())) < 120, qPrintable(stamped.toString(Qt::ISODate)));
        QCOMPARE(meltra->scalar("SELECT count(*) FROM produtos WHERE ivavenda<>6 AND validade<>'2025-01-02 09:00:00'").toInt(), 0);
        db->setSQL("SELECT TOP 2 codigo FROM produtos ORDER BY codigo DESC");
        db->Open();
        QVERIFY(!db->IsEmpty());
    }

    // A rolled-back change leaves every table as it was, even after a statement the
    // database refused; a committed one stays; a connection dropped in the middle of a
    // transaction does not keep half of it.
    void transactions_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("rollback") << "rollback";
        QTest::newRow("commit") << "commit";
        QTest::newRow("disconnect") << "disconnect";
        QTest::newRow("destroyed") << "destroyed";
    }
    void transactions()
    {
        QFETCH(QString, ending);
        const QString before = inst_->dump();
        auto db = inst_->connect();
        db->BeginTransaction();
        QVERIFY(db->inTransaction());
        for (const char* sql : {"UPDATE produtos SET precovenda=precovenda / 1.23 WHERE iva=23",
                                "INSERT INTO iva (codigo, factor) VALUES (24,24)",
                                "DELETE FROM iva WHERE factor=23"}) {
            db->setSQL(sql);
            db->ExecSQL();
        }
        db->setSQL("UPDATE produtos SET naoexiste=1");
        QVERIFY(!ErrorOf([&] { db->ExecSQL(); }).isEmpty());
        QVERIFY(db->inTransaction());
        // Another connection does not see the change before it is committed.
        QCOMPARE(inst_->scalar("SELECT count(*) FROM iva WHERE factor=24").toInt(), 0);
        if (ending == "rollback")
            db->Rollback();
        else if (ending == "commit")
            db->Commit();
        else if (ending == "disconnect")
            db->setConnected(false);
        else
            db.reset();
        if (db)
            QVERIFY(!db->inTransaction());
        if (ending == "commit") {
            QVERIFY(inst_->dump() != before);
            QCOMPARE(inst_->scalar("SELECT count(*) FROM iva WHERE factor=24").toInt(), 1);
        } else {
            QCOMPARE(inst_->dump(), before);
        }
    }

    void transactionMisuse()
    {
        auto db = inst_->connect();
        db->Rollback();  // harmless with nothing open
        QVERIFY(!ErrorOf([&] { db->Commit(); }).isEmpty());
        db->BeginTransaction();
        QVERIFY(!ErrorOf([&] { db->BeginTransaction(); }).isEmpty());
        db->Rollback();
        db->BeginTransaction();  // a new one after the rollback
        db->Commit();
    }

    // The connection string is read at the next connect, not before.
    void connectionStringTakesEffectAtNextConnect()
    {
        TTempInstallation quibon(TInstallationOptions{"Quibon", true, true, true, {}});
        QFile::copy(quibon.folder() + "/quibon.udl", inst_->folder() + "/quibon.udl");
        auto db = inst_->connect();
        db->setConnected(true);
        db->setConnectionString("FILE NAME=.\\Quibon.UDL");
        db->setSQL("SELECT * FROM configpostos");
        QVERIFY(!ErrorOf([&] { db->Open(); }).isEmpty());  // still Varlo's database
        db->setConnected(false);
        db->Open();
        QVERIFY(!db->IsEmpty());
    }
};

QTEST_GUILESS_MAIN(DbConnectionTest)
#include "DbConnectionTest.moc"
