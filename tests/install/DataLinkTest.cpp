// Data-link files as the applications' installers and the Windows editor leave them, and the
// ODBC connection each one turns into.

#include "DataLink.h"
#include "FileLookup.h"
#include "OdbcLink.h"
#include "OleDbString.h"
#include "Installation.h"
#include "TDbConnection.h"
#include "TempInstallation.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// text as a file in the encoding named: "ansi" (Latin-1) or a Unicode encoding, "-bom"
// with its byte-order mark.
QByteArray Encoded(const QString& text, const QString& encoding)
{
    if (encoding == "ansi")
        return text.toLatin1();
    const bool bom = encoding.endsWith("-bom");
    return QStringEncoder(qPrintable(bom ? encoding.chopped(4) : encoding),
                          bom ? QStringEncoder::Flag::WriteBom : QStringEncoder::Flag::Default)
        .encode(text);
}

const QStringList kSqlServerDrivers = {"SQLite3", "ODBC Driver 17 for SQL Server", "FreeTDS"};

}  // namespace

class DataLinkTest : public QObject {
    Q_OBJECT

private slots:
    void parsesOleDbKeywords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "Provider=SQLOLEDB.1;Data Source=SRV" << "data source" << "SRV";
        QTest::newRow("keyword case and blanks") << "  PROVIDER = x ;  data   SOURCE  =  SRV\\SQL2019 " << "Data Source" << "SRV\\SQL2019";
        QTest::newRow("double quotes hold ; and =") << "Password=\"a;b=c\";User ID=sa" << "password" << "a;b=c";
        QTest::newRow("single quotes hold ; and =") << "Password='x=1;y'" << "password" << "x=1;y";
        QTest::newRow("doubled quotes inside") << "Password=\"say \"\"hi\"\"\"" << "password" << "say \"hi\"";
        QTest::newRow("other quote inside") << "Password='it\"s'" << "password" << "it\"s";
        QTest::newRow("blanks kept inside quotes") << "Password=\" p \"" << "password" << " p ";
        QTest::newRow("= in an unquoted value") << "Extended Properties=DSN=x" << "extended properties" << "DSN=x";
        QTest::newRow("doubled = in keyword") << "a==b=1" << "a=b" << "1";
        QTest::newRow("last occurrence wins") << "User ID=a;User ID=b" << "user id" << "b";
        QTest::newRow("quote inside unquoted value") << "Password=ab'c" << "password" << "ab'c";
        QTest::newRow("empty value") << "Password=;User ID=sa" << "password" << "";
        QTest::newRow("absent") << "Provider=x" << "password" << "";
    }
    void parsesOleDbKeywords()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QCOMPARE(KeywordValue(ParseOleDbConnectionString(text), key), value);
    }

    void rejectsMalformedStrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("unterminated quote") << "Provider=SQLOLEDB;Password=\"Segredo;x";
        QTest::newRow("text after quote") << "Password=\"Segredo\"x;Provider=SQLOLEDB";
        QTest::newRow("no equals") << "Provider=SQLOLEDB;Segredo";
        QTest::newRow("empty keyword") << "=Segredo";
    }
    void rejectsMalformedStrings()
    {
        QFETCH(QString, text);
        const QString error = ErrorOf([&] { ParseOleDbConnectionString(text); });
        QVERIFY(!error.isEmpty());
        QVERIFY2(!error.contains("Segredo"), qPrintable(error));
    }

    // The connection line is found whatever the encoding and line ends of the file.
    void readsDataLinkFiles_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("eol");
        const QStringList encodings = {"UTF-16LE-bom", "UTF-16LE", "UTF-16BE-bom", "UTF-8-bom", "UTF-8", "ansi"};
        for (const QString& e : encodings) {
            QTest::newRow(qPrintable(e + " crlf")) << e << "\r\n";
            QTest::newRow(qPrintable(e + " lf")) << e << "\n";
        }
    }
    void readsDataLinkFiles()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, eol);
        const QString line = "Provider=SQLOLEDB.1;Password=\"Não;sei\";User ID=sa;Initial Catalog=Ourém";
        const QString text = "[oledb]" + eol + "; Everything after this line is an OLE DB initstring" + eol + line + eol;
        QCOMPARE(DataLinkConnectionLine(Encoded(text, encoding), "x.udl"), line);
    }

    void dataLinkFileWithoutConnection()
    {
        const QByteArray bytes = Encoded("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n\r\n", "UTF-16LE-bom");
        QVERIFY(ErrorOf([&] { DataLinkConnectionLine(bytes, "vazio.udl"); }).contains("vazio.udl"));
    }

    // What the file written for an installation says is what it reads back.
    void writtenFileReadsBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("x.udl");
        const QString line = SqliteDataLinkText("/pasta com espaço/a;b/\"x\".db");
        WriteDataLinkFile(path, line);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xFF\xFE[\0o\0l\0e\0d\0b\0]\0\r\0\n\0"));
        QCOMPARE(DataLinkConnectionLine(bytes, path), line);
        const TOdbcLink link = OdbcLinkForProviderString(line, {});
        // The SQLite driver ends a value at ';' and knows no braces: such a path goes as a URI.
        QVERIFY2(link.connectionString.contains("Database=file:///pasta%20com%20espa%C3%A7o/a%3Bb/%22x%22.db;"),
                 qPrintable(link.connectionString));
    }

    // The ODBC string each provider maps to, with the best SQL Server driver installed, and
    // as QODBC takes it (it adds DSN= or FILEDSN= itself unless the string names a driver
    // or a server).
    void mapsProviders_data()
    {
        QTest::addColumn<QString>("oleDb");
        QTest::addColumn<QStringList>("drivers");
        QTest::addColumn<QString>("odbc");
        QTest::addColumn<QString>("qt");  // empty: the same as odbc
        const QStringList d17 = kSqlServerDrivers;
        const QStringList d18 = {"FreeTDS", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"};
        QTest::newRow("SQLOLEDB, login")
            << "Provider=SQLOLEDB.1;Password=segredo;Persist Security Info=True;User ID=sa;Initial Catalog=VARLO;Data Source=SERVIDOR\\SQLEXPRESS"
            << d17 << "DRIVER={ODBC Driver 17 for SQL Server};SERVER=SERVIDOR\\SQLEXPRESS;DATABASE=VARLO;UID=sa;PWD=segredo;" << QString();
        QTest::newRow("this machine, integrated security")
            << "Provider=SQLNCLI11;Integrated Security=SSPI;Initial Catalog=Quibon;Data Source=.\\SQLEXPRESS"
            << d17 << "DRIVER={ODBC Driver 17 for SQL Server};SERVER=localhost\\SQLEXPRESS;DATABASE=Quibon;Trusted_Connection=yes;" << QString();
        QTest::newRow("(local)")
            << "Provider=MSOLEDBSQL;Data Source=(LOCAL);Initial Catalog=x" << d17
            << "DRIVER={ODBC Driver 17 for SQL Server};SERVER=localhost;DATABASE=x;" << QString();
        QTest::newRow("a name that starts with a dot is kept")
            << "Provider=SQLOLEDB;Data Source=.servidor;Initial Catalog=x" << d17
            << "DRIVER={ODBC Driver 17 for SQL Server};SERVER=.servidor;DATABASE=x;" << QString();
        QTest::newRow("driver 18 told not to encrypt")
            << "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=x" << d18
            << "DRIVER={ODBC Driver 18 for SQL Server};SERVER=srv;DATABASE=x;Encrypt=no;" << QString();
        QTest::newRow("driver 18, encryption asked")
            << "Provider=MSOLEDBSQL19;Data Source=srv;Initial Catalog=x;Use Encryption for Data=True;Trust Server Certificate=True"
            << d18 << "DRIVER={ODBC Driver 18 for SQL Server};SERVER=srv;DATABASE=x;Encrypt=yes;TrustServerCertificate=yes;" << QString();
        QTest::newRow("driver 17, encryption asked")
            << "Provider=SQLOLEDB;Data Source=srv;Encrypt=yes" << d17
            << "DRIVER={ODBC Driver 17 for SQL Server};SERVER=srv;Encrypt=yes;" << QString();
        QTest::newRow("FreeTDS, port")
            << "Provider=SQLOLEDB;Data Source=tcp:10.0.0.5,1444;Initial Catalog=x;User ID=u;Password=p" << QStringList{"FreeTDS"}
            << "DRIVER={FreeTDS};SERVER=10.0.0.5;PORT=1444;TDS_Version=7.4;DATABASE=x;UID=u;PWD=p;" << QString();
        QTest::newRow("FreeTDS, braces only around ';' and a leading '{', never doubled")
            << "Provider=SQLOLEDB;Data Source=srv;Initial Catalog='{x}';User ID='a;b}c';Password=p}q\"" << QStringList{"FreeTDS"}
            << "DRIVER={FreeTDS};SERVER=srv;TDS_Version=7.4;DATABASE={{x}};UID={a;b}c};PWD=p}q\";" << QString();
        QTest::newRow("password needing braces")
            << "Provider=SQLOLEDB;Data Source=srv;User ID=sa;Password='a;b}c'" << d17
            << "DRIVER={ODBC Driver 17 for SQL Server};SERVER=srv;UID=sa;PWD={a;b}}c};" << QString();
        QTest::newRow("MSDASQL, DSN")
            << "Provider=MSDASQL.1;Data Source=Loja;User ID=u;Password=p" << QStringList{}
            << "DSN=Loja;UID=u;PWD=p;" << "Loja;UID=u;PWD=p;";
        QTest::newRow("MSDASQL, extended properties")
            << "Provider=MSDASQL.1;Persist Security Info=False;Extended Properties=\"DRIVER=SQLite3;Database=/a/b.db\"" << QStringList{}
            << "DRIVER=SQLite3;Database=/a/b.db;" << QString();
        QTest::newRow("MSDASQL, DSN inside extended properties goes first")
            << "Provider=MSDASQL;Extended Properties='UID=u;DSN=Loja;PWD={x;y}'" << QStringList{}
            << "DSN=Loja;UID=u;PWD={x;y};" << "Loja;UID=u;PWD={x;y};";
        QTest::newRow("MSDASQL, file DSN")
            << "Provider=MSDASQL;Extended Properties=\"FILEDSN=/etc/loja.dsn\"" << QStringList{}
            << "FILEDSN=/etc/loja.dsn;" << "/etc/loja.dsn;";
        QTest::newRow("no provider means ODBC")
            << "Data Source=Loja" << QStringList{} << "DSN=Loja;" << "Loja;";
    }
    void mapsProviders()
    {
        QFETCH(QString, oleDb);
        QFETCH(QStringList, drivers);
        QFETCH(QString, odbc);
        QFETCH(QString, qt);
        const TOdbcLink link = OdbcLinkForProviderString(oleDb, drivers);
        QCOMPARE(link.connectionString, odbc);
        QCOMPARE(link.qtDatabaseName, qt.isEmpty() ? odbc : qt);
    }

    void prefersDrivers_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("18 over all") << QStringList{"FreeTDS", "SQL Server", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"} << "ODBC Driver 18 for SQL Server";
        QTest::newRow("17 over 13") << QStringList{"ODBC Driver 13 for SQL Server", "ODBC Driver 17 for SQL Server"} << "ODBC Driver 17 for SQL Server";
        QTest::newRow("native client over SQL Server") << QStringList{"SQL Server", "SQL Server Native Client 11.0"} << "SQL Server Native Client 11.0";
        QTest::newRow("SQL Server over FreeTDS") << QStringList{"FreeTDS", "SQL Server"} << "SQL Server";
        QTest::newRow("FreeTDS last") << QStringList{"SQLite3", "FreeTDS"} << "FreeTDS";
        QTest::newRow("none") << QStringList{"SQLite3", "PostgreSQL Unicode"} << "";
    }
    void prefersDrivers()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, chosen);
        QCOMPARE(BestSqlServerDriver(installed), chosen);
    }

    // A SQL Server login gives up after the file's Connect Timeout, else after 15 s;
    // ODBC data sources keep their driver's own.
    void loginTimeout_data()
    {
        QTest::addColumn<QString>("oleDb");
        QTest::addColumn<int>("seconds");
        QTest::newRow("not given") << "Provider=SQLOLEDB.1;Data Source=srv" << 15;
        QTest::newRow("given") << "Provider=SQLOLEDB.1;Data Source=srv;Connect Timeout=4" << 4;
        QTest::newRow("zero would wait for ever") << "Provider=SQLOLEDB.1;Data Source=srv;Connect Timeout=0" << 15;
        QTest::newRow("not a number") << "Provider=SQLOLEDB.1;Data Source=srv;Connect Timeout=x" << 15;
        QTest::newRow("ODBC data source") << "Provider=MSDASQL.1;Data Source=Loja;Connect Timeout=4" << 0;
    }
    void loginTimeout()
    {
        QFETCH(QString, oleDb);
        QFETCH(int, seconds);
        QCOMPARE(OdbcLinkForProviderString(oleDb, {"FreeTDS"}).loginTimeout, seconds);
    }

    // Errors say what is wrong and never hold the password.
    void refusesWhatItCannotOpen_data()
    {
        QTest::addColumn<QString>("oleDb");
        QTest::addColumn<QStringList>("drivers");
        QTest::addColumn<QString>("mentioned");
        QTest::newRow("unknown provider") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=c:\\loja.mdb;Jet OLEDB:Database Password=Segredo9" << kSqlServerDrivers << "Microsoft.Jet.OLEDB.4.0";
        QTest::newRow("only SQLNCLI and MSOLEDBSQL take an ending") << "Provider=SQLOLEDBX;Password=Segredo9" << kSqlServerDrivers
                                                                << "(suportados: SQLOLEDB, SQLNCLI, MSOLEDBSQL e MSDASQL)";
        QTest::newRow("no SQL Server driver") << "Provider=SQLOLEDB.1;Password=Segredo9;User ID=sa;Data Source=srv" << QStringList{"SQLite3"} << "ODBC Driver 18 for SQL Server";
        QTest::newRow("ODBC without source") << "Provider=MSDASQL.1;Password=Segredo9" << QStringList{} << "Data Source";
        QTest::newRow("FreeTDS cannot carry };") << "Provider=SQLOLEDB.1;Password='Segredo9};';User ID=sa;Data Source=srv" << QStringList{"FreeTDS"} << "\"Password\" no ficheiro de ligação contém \"};\"";
    }
    void refusesWhatItCannotOpen()
    {
        QFETCH(QString, oleDb);
        QFETCH(QStringList, drivers);
        QFETCH(QString, mentioned);
        const QString error = ErrorOf([&] { OdbcLinkForProviderString(oleDb, drivers); });
        QVERIFY2(error.contains(mentioned), qPrintable(error));
        QVERIFY2(!error.contains("Segredo9"), qPrintable(error));
    }

    // The connection string names a file relative to the current folder, found without
    // regard to case, its other keywords refining the file's.
    void resolvesFileName()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("Dados");
        WriteDataLinkFile(dir.filePath("Dados/Loja.UDL"), "Provider=MSDASQL.1;Data Source=Loja");
        QCOMPARE(FindFileIgnoringCase(".\\dados\\LOJA.udl", dir.path()), dir.filePath("Dados/Loja.UDL"));
        QCOMPARE(FindFileIgnoringCase("dados/../Dados/./loja.udl", dir.path()), dir.filePath("Dados/Loja.UDL"));
        QCOMPARE(FindFileIgnoringCase(dir.filePath("DADOS/loja.UDL"), "/"), dir.filePath("Dados/Loja.UDL"));
        QCOMPARE(FindFileIgnoringCase(".\\dados\\outra.udl", dir.path()), QString());

        QCOMPARE(OdbcLinkFor("FILE NAME=.\\DADOS\\loja.udl", dir.path(), {}).connectionString, QString("DSN=Loja;"));
        QCOMPARE(OdbcLinkFor("File Name=dados/loja.udl;User ID=u", dir.path(), {}).connectionString, QString("DSN=Loja;UID=u;"));

        const QString missing = ErrorOf([&] { OdbcLinkFor("FILE NAME=.\\Nenhum.UDL", dir.path(), {}); });
        QVERIFY2(missing.contains(".\\Nenhum.UDL") && missing.contains(dir.path() + "/Nenhum.UDL"), qPrintable(missing));
        QVERIFY(ErrorOf([&] { OdbcLinkFor("FILE NAME=.\\Dados", dir.path(), {}); }).contains("Dados"));
        QVERIFY(!ErrorOf([&] { OdbcLinkFor("", dir.path(), {}); }).isEmpty());
    }

    void removesSecrets()
    {
        QCOMPARE(WithoutSecrets("erro com pw e pw", {"pw", ""}), QString("erro com **** e ****"));
        QCOMPARE(WithoutSecrets("nada", {}), QString("nada"));
    }
};

QTEST_GUILESS_MAIN(DataLinkTest)
#include "DataLinkTest.moc"
