// Data-link files for SQL Server reach the driver manager as ODBC connections. No SQL Server
// is at hand, so this process gets a driver list of its own (ODBCSYSINI, read once by the
// driver manager, hence the separate executable) in which "ODBC Driver 17 for SQL Server" is
// the SQLite driver in disguise: the string built for SQL Server is really sent and answered.

#include "DriverManager.h"
#include "Installation.h"
#include "TDbConnection.h"
#include "TempInstallation.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class SqlServerLinkTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempInstallation> inst_;

    // Replaces the installation's data-link file.
    void Link(const QString& line) { WriteDataLinkFile(inst_->folder() + "/varlo.udl", line); }

private slots:
    void init()
    {
        inst_ = std::make_unique<TTempInstallation>();
        inst_->enter();
    }
    void cleanup() { inst_.reset(); }

    void asksTheDriverManager()
    {
        QCOMPARE(InstalledOdbcDrivers(), (QStringList{"SQL Server Native Client 11.0", "ODBC Driver 17 for SQL Server", "SQLite3"}));
    }

    void opensThroughTheChosenDriver()
    {
        Link(QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=x;Initial Catalog=%1;Data Source=.")
                 .arg(inst_->databaseFile()));
        auto db = inst_->connect();
        db->setSQL("SELECT TOP 1 * FROM configuracao");
        db->Open();
        QCOMPARE(db->FieldByName("ivaincluido"), 1);
        QVERIFY(db->translatesTSql());  // the disguised driver is still SQLite at the other end
    }

    // A connection that fails carries the data layer's text, and never the password, even
    // when that text echoes it.
    void passwordNeverInErrors_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("driverText");
        QTest::newRow("SQL Server login refused")
            << "Provider=SQLOLEDB.1;Password=Segredo#1;User ID=sa;Initial Catalog=/inexistente/Segredo#1/x.db;Data Source=SRV"
            << "Não foi possível abrir a base de dados /inexistente/****/x.db";
        QTest::newRow("driver echoing the password")
            << "Provider=MSDASQL.1;Password=Segredo#1;Extended Properties=\"DRIVER={Segredo#1}\"" << "Can't open lib";
        QTest::newRow("password inside extended properties")
            << "Provider=MSDASQL.1;Extended Properties=\"DRIVER={Segredo#1 x};PWD={Segredo#1}\"" << "Can't open lib";
        QTest::newRow("quoted password")
            << "Provider=SQLNCLI11;Password='Segredo#1;=';User ID=sa;Initial Catalog=\"/inexistente/Segredo#1;=/x.db\""
            << "Não foi possível abrir a base de dados /inexistente/****/x.db";
    }
    void passwordNeverInErrors()
    {
        QFETCH(QString, link);
        QFETCH(QString, driverText);
        Link(link);
        auto db = inst_->connect();
        QStringList errors;
        errors << ErrorOf([&] { db->setConnected(true); });
        db->setSQL("SELECT * FROM configuracao");
        errors << ErrorOf([&] { db->Open(); });
        db->setSQL("DELETE FROM iva");
        errors << ErrorOf([&] { db->ExecSQL(); });
        for (const QString& e : errors) {
            QVERIFY2(e.contains(driverText), qPrintable(e));
            QVERIFY2(!e.contains("Segredo#1"), qPrintable(e));
        }
        QVERIFY(!db->connected());
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir drivers;
    QFile ini(drivers.filePath("odbcinst.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write("[SQL Server Native Client 11.0]\nDriver=/inexistente/libsqlncli-11.so\n\n"
              "[ODBC Driver 17 for SQL Server]\nDriver=libsqlite3odbc.so\n\n"
              "[SQLite3]\nDriver=libsqlite3odbc.so\n");
    ini.close();
    qputenv("ODBCSYSINI", QFile::encodeName(drivers.path()));
    QCoreApplication app(argc, argv);
    SqlServerLinkTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SqlServerLinkTest.moc"
