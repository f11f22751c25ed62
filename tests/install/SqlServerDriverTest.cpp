// A shop's data-link file handed to a real SQL Server ODBC driver (FreeTDS, installed by
// scripts/setup) through the program's own connection, and a loopback listener in place of
// the server: what the driver puts in its login packet, and what the operator then reads.

#include "DriverManager.h"
#include "OdbcLink.h"
#include "Installation.h"
#include "TDbConnection.h"
#include "TdsListener.h"
#include "TempInstallation.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const QString kRefused = QStringLiteral("Login failed for user 'loja'.");

}  // namespace

class SqlServerDriverTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(BestSqlServerDriver(InstalledOdbcDrivers()) == "FreeTDS",
                 "the FreeTDS ODBC driver (tdsodbc) must be the SQL Server driver installed: run scripts/setup");
    }

    // Each row: the data-link file's line ("@P" stands for the listener's port), what stands
    // behind that port, what the server says, what arrives in the login packet ("user",
    // "password", "database", "server"; none: no login reached the server), and what the
    // operator's error text must hold ("@P" again the port). The password is never shown.
    void connects_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("server");  // "listener", "silent", "nothing", "browser", "browser, no tcp"
        QTest::addColumn<QString>("serverText");
        QTest::addColumn<QStringList>("wire");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("secret");

        const QString at = QStringLiteral("servidor \"127.0.0.1,@P\"");
        auto row = [&](const char* name, const QString& link, const QStringList& wire, const QString& secret,
                       const QStringList& shown = {}) {
            QTest::newRow(name) << link << "listener" << kRefused << wire
                                << (QStringList{kRefused} + (shown.isEmpty() ? QStringList{at} : shown)) << secret;
        };
        row("SQLOLEDB",
            "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=loja;Password=Segredo#1;Initial Catalog=VARLO;Data Source=127.0.0.1,@P",
            {"loja", "Segredo#1", "VARLO", "127.0.0.1"}, "Segredo#1", {at + ", base de dados \"VARLO\", utilizador \"loja\""});
        row("SQLNCLI11", "Provider=SQLNCLI11;Data Source=127.0.0.1,@P;Initial Catalog=Quibon;User ID=loja;Password=Segredo#1",
            {"loja", "Segredo#1", "Quibon", "127.0.0.1"}, "Segredo#1");
        row("MSOLEDBSQL, tcp: before the server", "Provider=MSOLEDBSQL;Data Source=tcp:127.0.0.1,@P;Initial Catalog=x;User ID=loja;Password=Segredo#1",
            {"loja", "Segredo#1", "x", "127.0.0.1"}, "Segredo#1", {"servidor \"tcp:127.0.0.1,@P\""});
        row("keyword case and order", "password=Segredo#1 ; INITIAL catalog = Loja Centro;  user ID=loja;PROVIDER=sqloledb;data source=127.0.0.1,@P",
            {"loja", "Segredo#1", "Loja Centro", "127.0.0.1"}, "Segredo#1");
        row("quoted values holding ; and =",
            "Provider=SQLOLEDB.1;Data Source=\"127.0.0.1,@P\";Initial Catalog='Loja;Norte=2';User ID=\"lo;ja\";Password='p;w=d'",
            {"lo;ja", "p;w=d", "Loja;Norte=2", "127.0.0.1"}, "p;w=d");
        row("password with ; and a quote, last", "Provider=SQLOLEDB.1;User ID=loja;Data Source=127.0.0.1,@P;Password=\"p;w'd\"",
            {"loja", "p;w'd", "", "127.0.0.1"}, "p;w'd");
        row("password with a double quote, last", "Provider=SQLOLEDB.1;User ID=loja;Data Source=127.0.0.1,@P;Password='x\"y'",
            {"loja", "x\"y", "", "127.0.0.1"}, "x\"y");
        row("password with braces around ;", "Provider=SQLOLEDB.1;User ID=loja;Data Source=127.0.0.1,@P;Password='{a}}b;c}'",
            {"loja", "{a}}b;c}", "", "127.0.0.1"}, "{a}}b;c}");
        row("password with blanks and accents", "Provider=SQLOLEDB.1;User ID=loja;Data Source=127.0.0.1,@P;Password=\" Não €2 \"",
            {"loja", " Não €2 ", "", "127.0.0.1"}, " Não €2 ");
        row("Persist Security Info=False, password present",
            "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=loja;Password=Segredo#1;Data Source=127.0.0.1,@P",
            {"loja", "Segredo#1", "", "127.0.0.1"}, "Segredo#1");
        row("no password", "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=loja;Data Source=127.0.0.1,@P",
            {"loja", "", "", "127.0.0.1"}, "");

        const QString user = QStringLiteral("Provider=SQLOLEDB.1;User ID=loja;Password=Segredo#1;Initial Catalog=VARLO;");
        QTest::newRow("server text in Portuguese")
            << user + "Data Source=127.0.0.1,@P" << "listener" << "Falha no início de sessão do utilizador 'loja'."
            << QStringList{"loja", "Segredo#1", "VARLO", "127.0.0.1"}
            << QStringList{"Falha no início de sessão do utilizador 'loja'.", at} << "Segredo#1";
        QTest::newRow("server text echoing the password")
            << user + "Data Source=127.0.0.1,@P" << "listener" << "Senha Segredo#1 recusada."
            << QStringList{"loja", "Segredo#1", "VARLO", "127.0.0.1"} << QStringList{"Senha **** recusada."} << "Segredo#1";
        // FreeTDS asks Kerberos for a ticket before the login packet; there is none here.
        QTest::newRow("Integrated Security=SSPI")
            << "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=VARLO;Data Source=127.0.0.1,@P"
            << "listener" << kRefused << QStringList{}
            << QStringList{"Adaptive Server connection failed", at + ", base de dados \"VARLO\", autenticação do Windows"} << "";
        QTest::newRow("nothing listening")
            << user + "Data Source=127.0.0.1,@P" << "nothing" << "" << QStringList{}
            << QStringList{"Adaptive Server is unavailable or does not exist", at} << "Segredo#1";
        QTest::newRow("a server that never answers, Connect Timeout=2")
            << user + "Connect Timeout=2;Data Source=127.0.0.1,@P" << "silent" << "" << QStringList{}
            << QStringList{"Timeout expired", at} << "Segredo#1";
        // FreeTDS sends the instance after a NUL in the login's server name.
        const QString instance = QStringLiteral("127.0.0.1") + QChar(0) + QStringLiteral("LOJA");
        QTest::newRow("named instance found by the browser")
            << user + "Data Source=127.0.0.1\\LOJA" << "browser" << kRefused
            << QStringList{"loja", "Segredo#1", "VARLO", instance} << QStringList{kRefused, "servidor \"127.0.0.1\\LOJA\""}
            << "Segredo#1";
        QTest::newRow("named instance without TCP")
            << user + "Data Source=127.0.0.1\\LOJA" << "browser, no tcp" << "" << QStringList{}
            << QStringList{"Adaptive Server is unavailable or does not exist", "servidor \"127.0.0.1\\LOJA\""} << "Segredo#1";
        QTest::newRow("named instance and port: the port wins")
            << user + "Data Source=127.0.0.1\\LOJA,@P" << "listener" << kRefused
            << QStringList{"loja", "Segredo#1", "VARLO", instance} << QStringList{kRefused, "servidor \"127.0.0.1\\LOJA,@P\""}
            << "Segredo#1";
    }
    void connects()
    {
        QFETCH(QString, link);
        QFETCH(QString, server);
        QFETCH(QString, serverText);
        QFETCH(QStringList, wire);
        QFETCH(QStringList, shown);
        QFETCH(QString, secret);

        TTdsListener listener(serverText, server == "silent" ? TTdsListener::TMode::Silent : TTdsListener::TMode::RefuseLogin);
        if (server.startsWith("browser"))
            QVERIFY2(listener.answerBrowser("LOJA", server == "browser"), "UDP port 1434 on 127.0.0.1 stays taken");
        const QString port = QString::number(server == "nothing" ? UnusedLoopbackPort() : listener.port());
        auto inst = EnteredInstallation("Varlo", false);
        WriteDataLinkFile(inst->folder() + "/varlo.udl", QString(link).replace("@P", port));

        TDbConnection db;
        db.setConnectionString("FILE NAME=.\\Varlo.UDL");
        QElapsedTimer clock;
        clock.start();
        const QString error = ErrorOf([&] { db.setConnected(true); });
        const qint64 waited = clock.elapsed();

        for (QString part : shown)
            QVERIFY2(error.contains(part.replace("@P", port)), qPrintable(error));
        if (!secret.trimmed().isEmpty())
            QVERIFY2(!error.contains(secret), qPrintable(error));
        QVERIFY(!db.connected());
        QVERIFY2(waited < 4000, qPrintable(QString::number(waited)));  // never more than the shortest login timeout and a margin

        const QList<TTdsLogin> logins = listener.logins();
        if (wire.isEmpty()) {
            QCOMPARE(logins.size(), 0);
            return;
        }
        QCOMPARE(logins.size(), 1);
        const TTdsLogin& login = logins.first();
        QCOMPARE((QStringList{login.userName, login.password, login.database, login.serverName}), wire);
        QCOMPARE(login.tdsVersion, QString("7.4"));
        QCOMPARE(login.integratedSecurity, false);
        QCOMPARE(login.preLoginEncryption, 0);  // offered, not required: the file asks for none
        QCOMPARE(listener.browserRequests().isEmpty(), server != "browser");
    }
};

QTEST_GUILESS_MAIN(SqlServerDriverTest)
#include "SqlServerDriverTest.moc"
