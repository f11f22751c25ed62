// Detection as the operator meets it: "Li e aceito as condições" on a folder holding a
// real installation (SQLite through the ODBC driver), and what page 1 and the header show.

#include "ErrorReport.h"
#include "Installation.h"
#include "TdsListener.h"
#include "TempInstallation.h"
#include "EventHook.h"
#include "WindowHarness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>

namespace {

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

}  // namespace

class DetectionTest : public QObject {
    Q_OBJECT

private slots:
    void detect_data()
    {
        QTest::addColumn<QString>("app");             // installation made in the folder; empty: none
        QTest::addColumn<QString>("layout");          // its files: "no ini", "capitals" or "unknown provider"
        QTest::addColumn<QStringList>("otherFiles");  // empty files added beside it
        QTest::addColumn<QStringList>("setup");       // statements run on its database first
        QTest::addColumn<QString>("software");
        // The boxes: "connect" the failed connect and then the failed query, "report" the
        // failed query alone, "unconfigured" the empty configuration (the window closes).
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<QString>("ivamode");  // empty: hidden

        const QString in = QStringLiteral("IVA incluido");
        const QString out = QStringLiteral("IVA não incluído");
        const QStringList none;
        auto config = [](const char* columns, std::initializer_list<const char*> rows) {
            QStringList setup = {"DROP TABLE configuracao", QStringLiteral("CREATE TABLE configuracao (%1)").arg(columns)};
            for (const char* values : rows)
                setup << QStringLiteral("INSERT INTO configuracao VALUES (%1)").arg(values);
            return setup;
        };

        for (const char* app : {"Varlo", "Meltra", "Quibon", "Tosvel"})
            QTest::addRow("%s", app) << app << "" << none << none << app << "" << in;
        QTest::newRow("Varlo and Tosvel: the last wins")
            << "Tosvel" << "" << QStringList{"varlo.udl", "varlo.ini"} << none << "Tosvel" << "" << in;
        QTest::newRow("Meltra, then Quibon present")
            << "Meltra" << "" << QStringList{"quibon.udl", "quibon.ini"} << none << "Quibon" << "connect" << "";
        QTest::newRow("file names in capitals") << "Quibon" << "capitals" << none << none << "Quibon" << "" << in;
        QTest::newRow("data-link file without settings file")
            << "Meltra" << "no ini" << none << none << "Nenhum" << "connect" << "";
        QTest::newRow("empty folder") << "" << "no ini" << none << none << "Nenhum" << "connect" << "";
        // The application's name stays shown, yet its configuration is asked of no application.
        QTest::newRow("connection refused")
            << "Meltra" << "unknown provider" << none << none << "Meltra" << "connect" << "";
        QTest::newRow("configuration table missing")
            << "Varlo" << "" << none << QStringList{"DROP TABLE configuracao"} << "Varlo" << "report" << "";
        QTest::newRow("empty configuration")
            << "Varlo" << "" << none << QStringList{"DELETE FROM configuracao"} << "Varlo" << "unconfigured" << "";
        QTest::newRow("empty Meltra configuration")
            << "Meltra" << "" << none << QStringList{"DELETE FROM config"} << "Meltra" << "unconfigured" << "";
        QTest::newRow("prices without VAT")
            << "Varlo" << "" << none << QStringList{"UPDATE configuracao SET ivaincluido = 0"} << "Varlo" << "" << out;
        QTest::newRow("any non-zero value includes VAT")
            << "Tosvel" << "" << none << QStringList{"UPDATE configuracao SET ivaincluido = 5"} << "Tosvel" << "" << in;
        QTest::newRow("no ivaincluido column")
            << "Varlo" << "" << none << config("empresa VARCHAR(50)", {"'Loja'"}) << "Varlo" << "" << in;
        QTest::newRow("several rows, the first without VAT")
            << "Varlo" << "" << none << config("posto INTEGER, ivaincluido INTEGER", {"1, 0", "2, 1"}) << "Varlo" << ""
            << out;
        QTest::newRow("several rows, the first with VAT")
            << "Varlo" << "" << none << config("posto INTEGER, ivaincluido INTEGER", {"1, 1", "2, 0"}) << "Varlo" << ""
            << in;
    }

    void detect()
    {
        QFETCH(QString, app);
        QFETCH(QString, layout);
        QFETCH(QStringList, otherFiles);
        QFETCH(QStringList, setup);
        QFETCH(QString, software);
        QFETCH(QString, boxes);
        QFETCH(QString, ivamode);

        TInstallationOptions options;
        options.app = app.isEmpty() ? QStringLiteral("Varlo") : app;
        options.writeIni = layout != QLatin1String("no ini");
        options.writeUdl = !app.isEmpty();
        TTempInstallation installation(options);
        QDir folder(installation.folder());
        if (app.isEmpty())
            QFile::remove(folder.filePath(QStringLiteral("varlo.db")));
        for (const QString& statement : setup)
            installation.exec(statement);
        for (const QString& file : otherFiles)
            QVERIFY(WriteFileBytes(folder.filePath(file), QByteArray()));
        const QString lower = app.toLower();
        if (layout == QLatin1String("capitals")) {
            for (const char* ext : {".udl", ".ini"})
                QVERIFY(QFile::rename(folder.filePath(lower + ext), folder.filePath(lower.toUpper() + QString(ext).toUpper())));
        }
        if (layout == QLatin1String("unknown provider"))
            WriteDataLinkFile(folder.filePath(lower + ".udl"), QStringLiteral("Provider=Nada.1;Data Source=x"));
        installation.enter();

        TWindowHarness h;
        TStatementLog log;
        log.attach(h.window().cn());
        h.click("btaceito");
        QTRY_VERIFY(!h.child<QLabel>("software")->text().isEmpty());
        QTest::qWait(20);

        const bool found = boxes != QLatin1String("connect");
        const QString connection = QStringLiteral("FILE NAME=.\\%1.UDL").arg(software);
        // After a failed login the configuration is not asked for: its error would be the login's again.
        const QStringList statements = !found ? QStringList()
                                      : QStringList{software == QLatin1String("Meltra") ? "SELECT * FROM config"
                                                                                       : "SELECT * FROM configuracao"};
        QCOMPARE(h.child<QLabel>("software")->text(), software);
        QCOMPARE(h.window().cn().connectionString(), connection);
        QCOMPARE(log.statements, statements);

        const QString report = QStringLiteral("Taxas de IVA|") + ReportOf(connection, QStringLiteral("SELECT * FROM configuracao"));
        QStringList expected;
        if (boxes == QLatin1String("connect"))
            expected = QStringList{QStringLiteral("Aviso|Falha na ligação à base de dados"), report};
        else if (boxes == QLatin1String("report"))
            expected = QStringList{report};
        else if (boxes == QLatin1String("unconfigured"))
            expected = QStringList{QStringLiteral("Aviso|O programa não foi ainda configurado, por favor entre no "
                                                  "programa e execute o procedimento de configuração")};
        QStringList shown;
        for (const TShownBox& box : h.dialogs.shown) {
            QCOMPARE(box.kind, TShownBox::Message);
            shown << box.title + "|" + box.text;
        }
        QCOMPARE(shown, expected);

        const bool closed = boxes == QLatin1String("unconfigured");
        QCOMPARE(h.window().isVisible(), !closed);
        if (closed)
            return;
        QCOMPARE(AppName(h.window().DetectedApp()), found ? software : QStringLiteral("Nenhum"));
        QCOMPARE(h.child("msg1")->isHidden(), found);
        QCOMPARE(h.child("btnext1")->isHidden(), !found);
        if (found)
            QCOMPARE(h.focusName(), QStringLiteral("btnext1"));
        QCOMPARE(h.child("ivamode")->isHidden(), ivamode.isEmpty());
        if (!ivamode.isEmpty())
            QCOMPARE(h.child<QLabel>("ivamode")->text(), ivamode);
        QCOMPARE(h.window().VatIncluded(), ivamode == QLatin1String("IVA incluido"));
        QCOMPARE(h.window().ActivePage(), int(tabsoftware));
    }

    // A server that accepts the connection and never answers keeps a login waiting for its
    // whole timeout: detection's, or a scheduled attempt's. The window meanwhile paints every
    // repaint asked of it within 250 ms, and then says what happened.
    void answersWhileALoginWaits_data()
    {
        QTest::addColumn<bool>("scheduled");
        QTest::newRow("detection") << false;
        QTest::newRow("a scheduled attempt") << true;
    }

    void answersWhileALoginWaits()
    {
        QFETCH(bool, scheduled);
        TUserFolders user;
        TTdsListener server(QString(), TTdsListener::TMode::Silent);
        const auto installation = EnteredInstallation(QStringLiteral("Varlo"));
        WriteDataLinkFile(QDir(installation->folder()).filePath("varlo.udl"),
                          QStringLiteral("Provider=SQLOLEDB.1;Data Source=127.0.0.1,%1;Initial Catalog=VARLO;"
                                         "User ID=loja;Password=Segredo#1;Connect Timeout=2").arg(server.port()));
        TWindowHarness h([&](TmainEnvironment& env) {
            if (scheduled)
                ScheduleIn(QFileInfo(env.settingsFile).absolutePath(),
                           RequestOf("Varlo", "Taxa1=1;anterior=13;nova=23;descricao=Normal"),
                           env.clock().addSecs(-60));
        });

        // The header band paints itself whole: each repaint asked of it is a paint that must come.
        QElapsedTimer clock;
        clock.start();
        qint64 asked = -1, worst = 0;
        QWidget* band = h.child("header");
        TEventHook paints(
            "paints",
            [&](QObject*, QEvent* event) {
                if (event->type() == QEvent::Paint && asked >= 0) {
                    worst = qMax(worst, clock.elapsed() - asked);
                    asked = -1;
                }
                return false;
            },
            nullptr);
        band->installEventFilter(&paints);
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (asked < 0)
                asked = clock.elapsed();
            band->update();
        });
        ticker.start(50);

        const QLabel* failure = h.child<QLabel>(scheduled ? "ultimafalha" : "software");
        if (!scheduled)
            QTest::mouseClick(h.child<QPushButton>("btaceito"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(scheduled ? !failure->text().isEmpty() : !h.dialogs.shown.empty(), 20000);
        const qint64 waited = clock.elapsed();
        ticker.stop();
        QVERIFY2(waited >= 1500, qPrintable(QStringLiteral("the login gave up after %1 ms").arg(waited)));
        QVERIFY2(worst < 250, qPrintable(QStringLiteral("a repaint waited %1 ms").arg(worst)));
        QVERIFY(server.connections() > 0);
        if (scheduled) {
            QVERIFY2(failure->text().contains("Timeout expired"), qPrintable(failure->text()));
            QVERIFY(h.window().Agenda().isActive());
        } else {
            QTRY_COMPARE(h.dialogs.texts().first(), QStringLiteral("Falha na ligação à base de dados"));
        }
    }
};

QTEST_MAIN(DetectionTest)
#include "DetectionTest.moc"
