// The record of change runs: each block whole, in the log's own form, beside the settings
// file or in the per-user folder; a run whose process was killed is closed as interrupted at
// the next start, and a run still going in another process is left alone.
//
// Started with "--hold <settings> <folder> <commit lines>" the test program is itself that
// other process: it opens a run's record, writes those lines, says its id and waits to be killed.

#include "RunRecord.h"
#include "TempInstallation.h"
#include <QtTest>
#include <cstdio>
#include <thread>

namespace {

TRunStart Start()
{
    TRunStart s;
    s.start = QDateTime(QDate(2026, 3, 1), QTime(9, 30, 5));
    s.user = QStringLiteral("joão");
    s.computer = QStringLiteral("LOJA-1");
    s.app = TAppKind::Quibon;
    s.dataLink = QStringLiteral("C:\\Quibon\\Quibon.UDL");
    s.kind = TRunKind::Scheduled;
    s.request.rows[1] = {true, QStringLiteral("23"), QStringLiteral("22"), QStringLiteral("Taxa \"normal\"")};
    s.request.options.salePrices = s.request.options.roundPrices = true;
    return s;
}

// The calls that write these commit lines, in order.
void CommitLines(TRunRecord& r, const QStringList& lines)
{
    for (const QString& line : lines)
        line == "A gravar" ? r.Committing() : line == "Gravada" ? r.Committed() : r.CommitRolledBack();
}

int Hold(const QString& settings, const QString& folder, const QString& lines)
{
    TRunRecord record(settings, Start(), folder);
    CommitLines(record, lines.split('|', Qt::SkipEmptyParts));
    std::printf("%s\n", qPrintable(record.id()));
    std::fflush(stdout);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace

class RunRecordTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString settings() const { return dir_.filePath("programa/Qorvanta.ini"); }
    QString fallback() const { return dir_.filePath("utilizador"); }
    QString log() const { return dir_.filePath("programa/TaxasIVA.log"); }

private slots:
    void init()
    {
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.filePath("programa"));
    }

    // Two runs append two pairs of blocks to one file with a single byte-order mark, every
    // line ending in CR LF; the end block lists the statements and the outcome, which the
    // commit lines written before it ("A gravar|…|Resultado") overrule.
    void blocks_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("expected");
        QTest::newRow("committed") << int(TRunOutcome::Committed) << QString() << "Resultado: confirmada";
        QTest::newRow("rolled back, a two-line error on one line")
            << int(TRunOutcome::RolledBack) << "artigo bloqueado\r\n(19)" << "Resultado: anulada: artigo bloqueado (19)";
        QTest::newRow("cancelled") << int(TRunOutcome::Cancelled) << QString() << "Resultado: cancelada pelo operador";
        QTest::newRow("commit's end unknown") << int(TRunOutcome::RolledBack) << "sem ligação"
            << "A gravar|Resultado: em dúvida: a gravação da alteração não terminou (sem ligação); verifique à mão as "
               "taxas e os preços";
        QTest::newRow("failed after the commit") << int(TRunOutcome::RolledBack) << "x"
                                                 << "A gravar|Gravada|Resultado: confirmada";
    }

    void blocks()
    {
        QFETCH(int, outcome);
        QFETCH(QString, error);
        QFETCH(QString, expected);
        QStringList lines = expected.split('|');
        expected = lines.takeLast();
        QStringList ids;
        for (int run = 0; run < 2; ++run) {
            TRunRecord record(settings(), Start(), fallback());
            QCOMPARE(record.path(), log());
            ids << record.id();
            record.StatementDone({"SELECT * FROM iva WHERE factor=22", TStatementKind::Read, -1, 1500, 1, 1, 2, {}});
            record.StatementDone({"UPDATE produtos SET iva = 22, id = NULL WHERE iva=23", TStatementKind::Command, 1234,
                                  240, 1, 2, 2, {}});
            CommitLines(record, lines);
            record.Finish(TRunOutcome(outcome), error, Start().start.addSecs(48));
        }
        QVERIFY(ids[0] != ids[1]);

        const QByteArray bytes = FileBytes(log());
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF") && bytes.lastIndexOf("\xEF\xBB\xBF") == 0);
        QCOMPARE(bytes.count("\n"), bytes.count("\r\n"));
        const QString text = QString::fromUtf8(bytes.mid(3));
        const QString block = QStringLiteral(
            "== Início %1 ==\r\nInício: 2026-03-01 09:30:05\r\nUtilizador: joão\r\nComputador: LOJA-1\r\n"
            "Aplicação: Quibon\r\nFicheiro de ligação: C:\\Quibon\\Quibon.UDL\r\nExecução: agendada\r\n"
            "Linha 2: 23% → 22%, descrição \"Taxa \"normal\"\"\r\n"
            "Opções: não eliminar a taxa actual: não; preços de compra: não; preços de venda: sim; arredondar: sim; "
            "casas decimais: 2\r\n\r\n%3"
            "== Fim %1 ==\r\nFim: 2026-03-01 09:30:53\r\n"
            "Instrução 1 (linha 2, 1.5 ms, leitura): SELECT * FROM iva WHERE factor=22\r\n"
            "Instrução 2 (linha 2, 0.2 ms, registos: 1234): UPDATE produtos SET iva = 22, id = NULL WHERE iva=23\r\n"
            "%2\r\n\r\n");
        QString commitLines;
        for (const QString& line : lines) commitLines += "== " + line + " %1 ==\r\n\r\n";
        QCOMPARE(text, block.arg(ids[0], expected, commitLines.arg(ids[0])) +
                           block.arg(ids[1], expected, commitLines.arg(ids[1])));
        // Ended runs hold no lock and are not taken for interrupted ones.
        QCOMPARE(QDir(dir_.filePath("programa")).entryList({"*.lock"}), QStringList());
        QCOMPARE(CloseInterruptedRuns(settings(), QDateTime::currentDateTime(), fallback()), QStringList());
    }

    // The settings file's folder cannot hold the log (here a folder stands where the file
    // would be): the per-user folder takes it, and the next start looks there too.
    void perUserFolder()
    {
        QDir().mkpath(log());
        {
            TRunRecord record(settings(), Start(), fallback());
            QCOMPARE(record.path(), fallback() + "/TaxasIVA.log");
        }
        QCOMPARE(CloseInterruptedRuns(settings(), QDateTime::currentDateTime(), fallback()).size(), 1);
    }

    // A run in another process: left alone while that process lives; once it is killed, the
    // next start closes its record, once, with what its last commit line says the database
    // holds, also where a power cut left the lock empty.
    void killedProcess_data()
    {
        QTest::addColumn<QString>("lines");
        QTest::addColumn<bool>("emptied");  // by a power cut, five minutes before the next start
        QTest::addColumn<QString>("result");
        const QString interrupted = "interrompida (o programa terminou durante a alteração; encontrada ao iniciar)";
        QTest::newRow("during the change") << "" << false << interrupted;
        QTest::newRow("while committing") << "A gravar" << false
            << "em dúvida: o programa terminou enquanto a alteração era gravada; verifique à mão as taxas e os preços";
        QTest::newRow("after the commit") << "A gravar|Gravada" << false
            << "confirmada (o programa terminou depois de gravar a alteração; encontrada ao iniciar)";
        QTest::newRow("after a refused commit was undone") << "A gravar|Gravação recusada" << false
            << "anulada (o programa terminou depois de a base de dados recusar a gravação; encontrada ao iniciar)";
        QTest::newRow("its lock emptied") << "" << true << interrupted;
    }
    void killedProcess()
    {
        QFETCH(QString, lines);
        QFETCH(bool, emptied);
        QFETCH(QString, result);
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(), {"--hold", settings(), fallback(), lines});
        QVERIFY(other.waitForReadyRead(10000));
        const QString id = QString::fromUtf8(other.readLine()).trimmed();
        QVERIFY(!id.isEmpty());

        QCOMPARE(CloseInterruptedRuns(settings(), QDateTime::currentDateTime(), fallback()), QStringList());
        other.kill();
        other.waitForFinished();
        const QDateTime now(QDate(2026, 3, 2), QTime(8, 0));
        QFile lock(log() + "." + id + ".lock");
        if (emptied)
            QVERIFY(lock.open(QFile::WriteOnly) && lock.setFileTime(now.addSecs(-300), QFile::FileModificationTime));
        QCOMPARE(CloseInterruptedRuns(settings(), now, fallback()), QStringList{id});
        QCOMPARE(CloseInterruptedRuns(settings(), now, fallback()), QStringList());
        const QString text = QString::fromUtf8(FileBytes(log()));
        QVERIFY2(text.endsWith(QStringLiteral("== Fim %1 ==\r\nFim: 2026-03-02 08:00:00\r\nResultado: %2\r\n\r\n")
                                   .arg(id, result)),
                 qPrintable(text));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "--hold") return Hold(argv[2], argv[3], QString::fromUtf8(argv[4]));
    RunRecordTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "RunRecordTest.moc"
