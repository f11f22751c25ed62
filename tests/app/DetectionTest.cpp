// Detection as the operator meets it: "Li e aceito as condições" on a folder holding a
// real installation (SQLite through the ODBC driver), and what page 1 and the header show.

#include "ErrorReport.h"
#include "Installation.h"
#include "TempInstallation.h"
#include "WindowHarness.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kReport = QStringLiteral("<report>");

// What the error report shows when the statement fails on a fresh connection: the window's
// second attempt must surface the data layer's own text.
QString ReportOf(const QString& connectionString, const QString& statement)
{
    TDbConnection db;
    db.setConnectionString(connectionString);
    db.setSQL(statement);
    try {
        db.Open();
        db.Close();
    } catch (const TDbError& e) {
        return ErrorReportText(e.text());
    }
    return QStringLiteral("<no error>");
}

void Touch(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

}  // namespace

class DetectionTest : public QObject {
    Q_OBJECT

private slots:
    void detect_data()
    {
        QTest::addColumn<QString>("app");            // installation made in the folder; empty: none
        QTest::addColumn<bool>("ini");                // its settings file is there
        QTest::addColumn<QStringList>("otherFiles");  // empty files added beside it
        QTest::addColumn<bool>("capitals");           // its two files named in capitals
        QTest::addColumn<bool>("brokenDataLink");     // its data-link file names an unknown provider
        QTest::addColumn<QStringList>("setup");       // statements run on its database first

        QTest::addColumn<QString>("software");
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QStringList>("boxes");  // "title|text"; "<report>" for the data layer's text
        QTest::addColumn<bool>("found");         // msg1 hidden, "Continuar" shown and focused
        QTest::addColumn<QString>("ivamode");    // empty: hidden
        QTest::addColumn<bool>("vatIncluded");
        QTest::addColumn<bool>("closed");

        const QStringList configuracao = {"SELECT * FROM configuracao"};
        const QStringList config = {"SELECT * FROM config"};
        const QString included = QStringLiteral("IVA incluido");
        const QString excluded = QStringLiteral("IVA não incluído");
        const QStringList failedTwice = {QStringLiteral("Aviso|Falha na ligação à base de dados"),
                                         QStringLiteral("Taxas de IVA|") + kReport};
        const QStringList notConfigured = {QStringLiteral(
            "Aviso|O programa não foi ainda configurado, por favor entre no programa e execute o procedimento de "
            "configuração")};
        auto conn = [](const char* app) { return QStringLiteral("FILE NAME=.\\%1.UDL").arg(QLatin1String(app)); };

        for (const char* app : {"Varlo", "Meltra", "Quibon", "Tosvel"}) {
            QTest::addRow("%s", app) << app << true << QStringList() << false << false << QStringList()  //
                                     << app << conn(app)
                                     << (QByteArray(app) == "Meltra" ? config : configuracao) << QStringList()
                                     << true << included << true << false;
        }
        QTest::newRow("Varlo and Tosvel: the last wins")
            << "Tosvel" << true << QStringList{"varlo.udl", "varlo.ini"} << false << false << QStringList()
            << "Tosvel" << conn("Tosvel") << configuracao << QStringList() << true << included << true << false;
        QTest::newRow("Meltra, then Quibon present")
            << "Meltra" << true << QStringList{"quibon.udl", "quibon.ini"} << false << false << QStringList()
            << "Quibon" << conn("Quibon") << configuracao << failedTwice << false << QString() << false << false;
        QTest::newRow("file names in capitals")
            << "Quibon" << true << QStringList() << true << false << QStringList()  //
            << "Quibon" << conn("Quibon") << configuracao << QStringList() << true << included << true << false;
        QTest::newRow("data-link file without settings file")
            << "Meltra" << false << QStringList() << false << false << QStringList()  //
            << "Nenhum" << conn("Nenhum") << configuracao << failedTwice << false << QString() << false << false;
        QTest::newRow("settings file without data-link file")
            << "" << false << QStringList{"tosvel.ini"} << false << false << QStringList()  //
            << "Nenhum" << conn("Nenhum") << configuracao << failedTwice << false << QString() << false << false;
        QTest::newRow("empty folder")
            << "" << false << QStringList() << false << false << QStringList()  //
            << "Nenhum" << conn("Nenhum") << configuracao << failedTwice << false << QString() << false << false;
        // The application's name stays shown, yet its configuration is asked of no application.
        QTest::newRow("connection refused")
            << "Meltra" << true << QStringList() << false << true << QStringList()  //
            << "Meltra" << conn("Meltra") << configuracao << failedTwice << false << QString() << false << false;
        QTest::newRow("configuration table missing")
            << "Varlo" << true << QStringList() << false << false << QStringList{"DROP TABLE configuracao"}
            << "Varlo" << conn("Varlo") << configuracao << QStringList{QStringLiteral("Taxas de IVA|") + kReport}
            << true << QString() << false << false;
        QTest::newRow("empty configuration")
            << "Varlo" << true << QStringList() << false << false << QStringList{"DELETE FROM configuracao"}
            << "Varlo" << conn("Varlo") << configuracao << notConfigured << true << QString() << false << true;
        QTest::newRow("empty Meltra configuration")
            << "Meltra" << true << QStringList() << false << false << QStringList{"DELETE FROM config"}
            << "Meltra" << conn("Meltra") << config << notConfigured << true << QString() << false << true;
        QTest::newRow("prices without VAT")
            << "Varlo" << true << QStringList() << false << false
            << QStringList{"UPDATE configuracao SET ivaincluido = 0"}
            << "Varlo" << conn("Varlo") << configuracao << QStringList() << true << excluded << false << false;
        QTest::newRow("Meltra prices without VAT")
            << "Meltra" << true << QStringList() << false << false << QStringList{"UPDATE config SET ivaincluido = 0"}
            << "Meltra" << conn("Meltra") << config << QStringList() << true << excluded << false << false;
        QTest::newRow("any non-zero value includes VAT")
            << "Tosvel" << true << QStringList() << false << false
            << QStringList{"UPDATE configuracao SET ivaincluido = 5"}
            << "Tosvel" << conn("Tosvel") << configuracao << QStringList() << true << included << true << false;
        QTest::newRow("no ivaincluido column")
            << "Varlo" << true << QStringList() << false << false
            << QStringList{"DROP TABLE configuracao", "CREATE TABLE configuracao (empresa VARCHAR(50))",
                           "INSERT INTO configuracao (empresa) VALUES ('Loja')"}
            << "Varlo" << conn("Varlo") << configuracao << QStringList() << true << included << true << false;
        QTest::newRow("column named in capitals")
            << "Varlo" << true << QStringList() << false << false
            << QStringList{"DROP TABLE configuracao", "CREATE TABLE configuracao (IVAINCLUIDO INTEGER)",
                           "INSERT INTO configuracao (IVAINCLUIDO) VALUES (0)"}
            << "Varlo" << conn("Varlo") << configuracao << QStringList() << true << excluded << false << false;
        QTest::newRow("several rows, the first without VAT")
            << "Varlo" << true << QStringList() << false << false
            << QStringList{"DROP TABLE configuracao", "CREATE TABLE configuracao (posto INTEGER, ivaincluido INTEGER)",
                           "INSERT INTO configuracao (posto, ivaincluido) VALUES (1, 0)",
                           "INSERT INTO configuracao (posto, ivaincluido) VALUES (2, 1)"}
            << "Varlo" << conn("Varlo") << configuracao << QStringList() << true << excluded << false << false;
        QTest::newRow("several rows, the first with VAT")
            << "Varlo" << true << QStringList() << false << false
            << QStringList{"DROP TABLE configuracao", "CREATE TABLE configuracao (posto INTEGER, ivaincluido INTEGER)",
                           "INSERT INTO configuracao (posto, ivaincluido) VALUES (1, 1)",
                           "INSERT INTO configuracao (posto, ivaincluido) VALUES (2, 0)"}
            << "Varlo" << conn("Varlo") << configuracao << QStringList() << true << included << true << false;
    }

    void detect()
    {
        QFETCH(QString, app);
        QFETCH(bool, ini);
        QFETCH(QStringList, otherFiles);
        QFETCH(bool, capitals);
        QFETCH(bool, brokenDataLink);
        QFETCH(QStringList, setup);
        QFETCH(QString, software);
        QFETCH(QString, connection);
        QFETCH(QStringList, statements);
        QFETCH(QStringList, boxes);
        QFETCH(bool, found);
        QFETCH(QString, ivamode);
        QFETCH(bool, vatIncluded);
        QFETCH(bool, closed);

        TInstallationOptions options;
        options.app = app.isEmpty() ? QStringLiteral("Varlo") : app;
        options.writeIni = ini;
        options.writeUdl = !app.isEmpty();
        TTempInstallation installation(options);
        QDir folder(installation.folder());
        if (app.isEmpty())
            QFile::remove(folder.filePath(QStringLiteral("varlo.db")));
        for (const QString& statement : setup)
            installation.exec(statement);
        for (const QString& file : otherFiles)
            Touch(folder.filePath(file));
        const QString lower = app.toLower();
        if (capitals) {
            for (const char* ext : {".udl", ".ini"})
                QVERIFY(QFile::rename(folder.filePath(lower + ext), folder.filePath(lower.toUpper() + QString(ext).toUpper())));
        }
        if (brokenDataLink)
            WriteDataLinkFile(folder.filePath(lower + ".udl"), QStringLiteral("Provider=Nada.1;Data Source=x"));
        installation.enter();

        TWindowHarness h;
        TStatementLog log;
        log.attach(h.window().cn());
        h.click("btaceito");
        QTRY_VERIFY(!h.child<QLabel>("software")->text().isEmpty());
        QTest::qWait(20);

        QCOMPARE(h.child<QLabel>("software")->text(), software);
        QCOMPARE(h.window().cn().connectionString(), connection);
        QCOMPARE(log.statements, statements);

        for (QString& box : boxes)
            box.replace(kReport, ReportOf(connection, statements.last()));
        QStringList shown;
        for (const TShownBox& box : h.dialogs.shown) {
            QCOMPARE(box.kind, TShownBox::Message);
            shown << box.title + "|" + box.text;
        }
        QCOMPARE(shown, boxes);

        QCOMPARE(h.window().isVisible(), !closed);
        if (closed)
            return;
        QCOMPARE(h.window().DetectedApp(), found ? software : QStringLiteral("Nenhum"));
        QCOMPARE(h.child("msg1")->isHidden(), found);
        QCOMPARE(h.child("btnext1")->isHidden(), !found);
        if (found)
            QCOMPARE(h.focusName(), QStringLiteral("btnext1"));
        QCOMPARE(h.child("ivamode")->isHidden(), ivamode.isEmpty());
        if (!ivamode.isEmpty())
            QCOMPARE(h.child<QLabel>("ivamode")->text(), ivamode);
        QCOMPARE(h.window().VatIncluded(), vatIncluded);
        QCOMPARE(h.window().ActivePage(), int(tabsoftware));
    }
};

QTEST_MAIN(DetectionTest)
#include "DetectionTest.moc"
