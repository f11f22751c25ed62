// taxas-iva-cli on real installations of each kind: every exit code for its cause, with what
// the database and the record hold after it; a change equal to the engine's own; a schedule
// the window resumes as its own.

#include "ChangeRun.h"
#include "WindowHarness.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <csignal>

namespace {

struct TCliRun {
    int code = -1;
    QString out, err;
};

// The program as a shop gets it, beside the window program in folder, run there.
TCliRun Cli(const QString& folder, const QStringList& arguments, const std::function<void(QProcess&)>& meanwhile = {})
{
    const QString program = QDir(folder).filePath("taxas-iva-cli");
    if (!QFile::exists(program)
        && (!QFile::copy(TAXAS_CLI, program) || !WriteFileBytes(QDir(folder).filePath("taxas-iva"), {})))
        qFatal("cannot place the program in %s", qPrintable(folder));
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForStarted())
        qFatal("the program did not start");
    if (meanwhile)
        meanwhile(process);
    if (!process.waitForFinished(120000))
        qFatal("the program did not end");
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString Record(const QString& folder)
{
    return QString::fromUtf8(FileBytes(QDir(folder).filePath("TaxasIVA.log")));
}

// Meltra stamps the products it changes with the moment: the same change made twice apart
// in time differs only there.
QString Stamped(QString dump)
{
    return dump.replace(QRegularExpression(QDate::currentDate().toString("yyyy-MM-dd") + " \\d\\d:\\d\\d:\\d\\d"),
                        "(agora)");
}

}  // namespace

class CliTest : public QObject {
    Q_OBJECT

    TUserFolders user_;

private slots:
    void exitCodes_data()
    {
        QTest::addColumn<QString>("app");
        QTest::addColumn<QString>("setup");     // SQL run first, "lock", "unreadable images" (a change
                                                 // made, its images spoilt) or "none" (no installation)
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");      // on standard output or error
        QTest::addColumn<QString>("recorded");  // in TaxasIVA.log; empty: no record at all
        QTest::addColumn<bool>("changed");
        const QStringList change = {"alterar", "--linha", "13:23"};
        for (const char* app : {"Varlo", "Meltra", "Quibon", "Tosvel"})
            QTest::newRow(app) << app << "" << QStringList{"verificar"} << 0
                               << QStringLiteral("Aplicação: %1\nPasta: ").arg(app) << "" << false;
        QTest::newRow("simulated") << "Quibon" << "" << QStringList{"simular", "--linha", "13:23", "--precos-venda"}
                                   << 0 << "Produtos: 90 mudam de taxa de venda"
                                   << "Execução: linha de comandos (simulação)\r\n" << false;
        QTest::newRow("a row without its new rate")
            << "Varlo" << "" << QStringList{"alterar", "--linha", "13"} << 1 << "indique ANTIGA:NOVA" << "" << false;
        QTest::newRow("a rate the field cannot hold")
            << "Varlo" << "" << QStringList{"alterar", "--linha", "100:23"} << 1 << "tem mais de 2 caracteres" << ""
            << false;
        QTest::newRow("an option of another command")
            << "Varlo" << "" << QStringList{"simular", "--linha", "13:23", "--quando", "2099-01-01 10:00"} << 1
            << "O comando simular não aceita a opção --quando." << "" << false;
        QTest::newRow("no command") << "Varlo" << "" << QStringList{"--linha", "13:23"} << 1
                                    << "Falta o comando (verificar, simular, alterar, agendar, desfazer ou estado)."
                                    << "" << false;
        QTest::newRow("a rule of the check") << "Varlo" << "" << QStringList{"alterar", "--linha", "13:13"} << 1
                                             << "A nova taxa não pode ser igual à já existente!" << "" << false;
        QTest::newRow("a look-up of the check")
            << "Meltra" << "" << QStringList{"alterar", "--linha", "7:23"} << 1
            << "Não foi encontrada a primeira taxa existente, por favor indique uma taxa válida!" << "" << false;
        QTest::newRow("prices kept without VAT")
            << "Tosvel" << "UPDATE configuracao SET ivaincluido = 0" << change + QStringList{"--precos-venda"} << 1
            << "não incluem IVA" << "" << false;
        QTest::newRow("another copy changing it")
            << "Varlo" << "lock" << change << 1 << TInstallationLock::BusyText() << "" << false;
        QTest::newRow("nothing to undo") << "Varlo" << "" << QStringList{"desfazer"} << 1
                                         << "Não há nenhuma alteração que possa ser desfeita." << "" << false;
        QTest::newRow("rates put back before they change")
            << "Varlo" << "" << QStringList{"agendar", "--linha", "13:23", "--quando", "2099-01-02 10:00", "--repor",
                                            "2099-01-01 10:00"}
            << 1 << "tem de ser posterior à da alteração" << "" << false;
        QTest::newRow("images that cannot be read")
            << "Varlo" << "unreadable images" << QStringList{"desfazer"} << 1
            << "A alteração não pode ser desfeita; nada foi enviado à base de dados." << "== Fim " << false;
        QTest::newRow("a trigger refuses") << "Varlo" << RefusedMoveTrigger() << change << 2 << "artigo bloqueado"
                                           << "Resultado: anulada: [SQLite]artigo bloqueado" << false;
        QTest::newRow("no application") << "" << "none" << QStringList{"verificar"} << 3
                                        << "Não foi detectado qualquer software" << "" << false;
        QTest::newRow("Ctrl+C") << "Varlo" << SlowPricesTrigger() << change + QStringList{"--precos-venda"} << 5
                                << "A alteração foi cancelada. Nada foi alterado na base de dados."
                                << "Resultado: cancelada pelo operador" << false;
    }

    void exitCodes()
    {
        QFETCH(QString, app);
        QFETCH(QString, setup);
        QFETCH(QStringList, words);
        QFETCH(int, code);
        QFETCH(QString, says);
        QFETCH(QString, recorded);
        QFETCH(bool, changed);
        QTemporaryDir empty;
        std::unique_ptr<TTempInstallation> db;
        if (setup != "none")
            db = EnteredInstallation(app);
        const QString folder = db ? db->folder() : empty.path();
        TInstallationLock other(folder);
        if (setup == "lock")
            QVERIFY(other.TryLock(QDateTime::currentDateTime()));
        else if (setup == "unreadable images") {
            QCOMPARE(Cli(folder, {"alterar", "--linha", "13:23"}).code, 0);
            const QStringList images = QDir(folder).entryList({"TaxasIVA.*.imagens"});
            QCOMPARE(images.size(), 1);
            QVERIFY(WriteFileBytes(QDir(folder).filePath(images[0]), "?"));
        } else if (db && !setup.isEmpty())
            db->exec(setup);
        const QString before = db ? db->dump() : QString();

        const TCliRun run = Cli(folder, words, [&](QProcess& process) {
            if (code != 5)
                return;
            // Once the change has begun, as a person would press it.
            QVERIFY(QTest::qWaitFor([&] { return Record(folder).contains("== Início "); }, 30000));
            ::kill(process.processId(), SIGINT);
        });
        QVERIFY2(run.code == code, qPrintable(run.err));
        QVERIFY2((run.out + run.err).contains(says), qPrintable(run.out + run.err));
        if (db)
            QCOMPARE(db->dump() != before, changed);
        const QString record = Record(folder);
        QVERIFY2(recorded.isEmpty() ? record.isEmpty() : record.contains(recorded), qPrintable(record));
    }

    // The same request through the command line and through the engine leaves the same
    // database; the JSON names the run the record holds; "desfazer" puts the database back as
    // it was (a product table without a key leaves nothing to undo).
    void sameAsTheEngine_data()
    {
        QTest::addColumn<QString>("app");
        for (const char* app : {"Varlo", "Meltra", "Quibon", "Tosvel"})
            QTest::newRow(app) << app;
    }

    void sameAsTheEngine()
    {
        QFETCH(QString, app);
        auto viaCli = EnteredInstallation(app);
        const QString original = viaCli->dump();
        const TCliRun run =
            Cli(viaCli->folder(), {"alterar", "--linha", "13:23:Normal: a nova", "--linha", "6:13", "--manter-taxa",
                                  "--precos-compra", "--precos-venda", "--arredondar", "3", "--json"});
        QVERIFY2(run.code == 0, qPrintable(run.err));

        auto viaEngine = EnteredInstallation(app);
        TChangeRequest request;
        request.rows[0] = {true, "13", "23", "Normal: a nova"};
        request.rows[1] = {true, "6", "13", "13%"};
        request.options = {true, true, true, true, "3"};
        request.app = AppKindNamed(app).value();
        RunChange(*viaEngine->connect(), request, TRunKind::Immediate);
        QCOMPARE(Stamped(viaCli->dump()), Stamped(viaEngine->dump()));

        const QJsonObject told = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(told.value("codigo").toInt(-1), 0);
        QCOMPARE(told.value("aplicacao").toString(), app);
        const QString record = Record(viaCli->folder());
        QVERIFY(record.contains("== Fim " + told.value("registo").toString() + " =="));
        QVERIFY(record.contains("Execução: linha de comandos\r\n"));

        const TCliRun undone = Cli(viaCli->folder(), {"desfazer", told.value("registo").toString(), "--json"});
        if (app == QLatin1String("Tosvel")) {
            QCOMPARE(undone.code, 1);
            return;
        }
        QVERIFY2(undone.code == 0, qPrintable(undone.err));
        QCOMPARE(viaCli->dump(), original);
        const QJsonObject undoneTold = QJsonDocument::fromJson(undone.out.toUtf8()).object();
        QCOMPARE(undoneTold.value("desfeita").toString(), told.value("registo").toString());
        QCOMPARE(undoneTold.value("resultado").toString(), QString("desfeita"));
    }

    // "agendar" leaves what "Confirmar" leaves: a window started there waits for the same
    // request, "estado" shows it, and no other change is made meanwhile.
    void scheduleResumedByTheWindow()
    {
        auto db = EnteredInstallation("Quibon");
        const QString folder = db->folder();
        const TCliRun scheduled = Cli(folder, {"agendar", "--linha", "23:22:Vinte e dois", "--precos-venda",
                                               "--arredondar", "2", "--quando", "15/03/2099 09:05", "--repor",
                                               "15/06/2099 00:00"});
        QVERIFY2(scheduled.code == 0, qPrintable(scheduled.err));
        QVERIFY(QFile::exists(EntryPath()));

        TChangeRequest expected = RequestOf("Quibon", "Taxa1=1;anterior=23;nova=22;descricao=Vinte e dois;opvenda=1;"
                                                      "oparredondar=1;casas=2");
        expected.moment = QDateTime(QDate(2099, 3, 15), QTime(9, 5));
        {
            TWindowHarness h([&](TmainEnvironment& env) { env.settingsFile = QDir(folder).filePath("Qorvanta.ini"); },
                             false);
            QCOMPARE(h.window().ActivePage(), int(tabwait));
            QCOMPARE(Describe(h.window().RequestFromControls()), Describe(expected));
            QCOMPARE(h.dialogs.texts(), QStringList());
        }

        const TCliRun status = Cli(folder, {"estado"});
        QVERIFY(status.out.startsWith("Alteração agendada para 15/03/2099 09:05 (Quibon)"));
        QVERIFY2(status.out.contains("  Taxas anteriores repostas em 15/06/2099 00:00.\n"), qPrintable(status.out));
        const QString before = db->dump();
        const TCliRun refused = Cli(folder, {"alterar", "--linha", "13:23"});
        QCOMPARE(refused.code, 1);
        QVERIFY(refused.err.startsWith("Existe uma alteração agendada para 15/03/2099 09:05"));
        QCOMPARE(db->dump(), before);
    }
};

QTEST_MAIN(CliTest)
#include "CliTest.moc"
