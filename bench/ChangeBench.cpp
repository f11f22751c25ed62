// Times a full three-row Quibon change (every option, every optional column) through the
// program's own data layer against the same statement texts run by the sqlite3 shell in one
// transaction on a copy of the same database, and reports the program's peak memory.
//
//   taxas-bench [--sizes 10000,100000] [--million] [--repeat R] [--sqlite3 PATH] [--keep DIR]
//   taxas-bench --simulation | --undo [--sizes N,N] [--million] [--repeat R] [--keep DIR]
//   taxas-bench --window N [--keep DIR]
//
// The program's side runs as the window runs it: with the progress observed (each statement
// posted as a queued call, as to the window) and the run's record written to TaxasIVA.log.
// --window N runs the real window (offscreen) on N products instead, "Alterar Taxas Agora!"
// pressed, with a timer asking for a repaint every 50 ms, and reports the longest wait for
// a repaint and the longest gap between the timer's ticks while the change ran.
//
// Each size runs in a child process of its own so that its peak memory is its own. A round
// runs both sides, alternating which goes first; R rounds (six up to 100 000 products, four
// above, unless --repeat says). Times are each side's median, the ratio is the median of the
// rounds' own ratios, shown with their range: on a shared virtual machine the same side's time
// moves by a quarter from one minute to the next, and only a ratio taken within a round
// cancels that. The CPU ratio (user + system time) is what other processes disturb least.
//
// --simulation times the change against its simulation; --undo times the change without its
// images, the same change with them, and the undo of that change from them, and compares the
// database after the undo with the original, whole. Each side of these runs in a process of its
// own.

#include "ChangeImages.h"
#include "ChangeRun.h"
#include "Installation.h"
#include "RunRecord.h"
#include "Simulation.h"
#include "TDbConnection.h"
#include "TSqlDialect.h"
#include "Tmain.h"
#include "Undo.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <sys/resource.h>

namespace {

QString g_sqlite3 = QStringLiteral("sqlite3");

[[noreturn]] void Fail(const QString& text)
{
    std::fprintf(stderr, "taxas-bench: %s\n", qPrintable(text));
    std::exit(2);
}

// Runs SQL through the sqlite3 shell; returns its standard output.
QString Shell(const QString& database, const QString& sql, qint64* elapsedMs = nullptr)
{
    QProcess p;
    QElapsedTimer timer;
    timer.start();
    p.start(g_sqlite3, {QStringLiteral("-bail"), database});
    if (!p.waitForStarted()) Fail(QStringLiteral("cannot start %1").arg(g_sqlite3));
    p.write(sql.toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(-1);
    if (elapsedMs) *elapsedMs = timer.elapsed();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        Fail(QStringLiteral("sqlite3 failed: %1").arg(QString::fromUtf8(p.readAllStandardError())));
    return QString::fromUtf8(p.readAllStandardOutput());
}

qint64 PeakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

const QStringList kOptional = {"pvp2", "pvp3", "pvp4", "pvp5", "pvpmeia2", "pvpmeia3",
                               "pvpmeia4", "pvpmeia5", "iva2", "ivarevenda"};

// Quibon's schema, every optional column added, products spread over the rates 6, 13 and 23.
void BuildDatabase(const QString& folder, const QString& database, qint64 products)
{
    TInstallationOptions options;
    options.app = QStringLiteral("Quibon");
    options.sampleData = false;
    options.databaseName = QFileInfo(database).fileName();
    MakeInstallation(folder, options);

    QStringList have;
    QMap<QString, QString> required;  // NOT NULL columns without a default, with their type
    const QString info = Shell(database, QStringLiteral(
        ".mode list\n.separator |\nSELECT lower(name), type, \"notnull\", dflt_value IS NULL "
        "FROM pragma_table_info('produtos');\n"));
    for (const QString& line : info.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split('|');
        have << f.value(0);
        if (f.value(2) == QLatin1String("1") && f.value(3) == QLatin1String("1"))
            required.insert(f.value(0), f.value(1).toUpper());
    }

    QString sql = QStringLiteral("BEGIN;\n");
    for (const QString& c : kOptional)
        if (!have.contains(c))
            sql += QStringLiteral("ALTER TABLE produtos ADD COLUMN %1 %2;\n")
                       .arg(c, c.startsWith(QLatin1String("iva")) ? "INTEGER" : "NUMERIC(15,4)");

    // The rate columns and every price get a value; other NOT NULL columns a plain one.
    QMap<QString, QString> values;
    const QString rate = QStringLiteral("(CASE x % 3 WHEN 0 THEN 6 WHEN 1 THEN 13 ELSE 23 END)");
    const QString price = QStringLiteral("(1 + (x * 37 % 100000) / 100.0)");
    values[QStringLiteral("iva")] = rate;
    values[QStringLiteral("ivacompra")] = QStringLiteral("(CASE x % 5 WHEN 0 THEN 6 WHEN 1 THEN 13 ELSE 23 END)");
    values[QStringLiteral("iva2")] = QStringLiteral("(CASE WHEN x % 4 = 0 THEN NULL ELSE %1 END)").arg(rate);
    values[QStringLiteral("ivarevenda")] = rate;
    values[QStringLiteral("id")] = QStringLiteral("x");
    for (const char* c : {"precovenda", "precomeia", "precocompra", "pvp2", "pvp3", "pvp4", "pvp5",
                          "pvpmeia2", "pvpmeia3", "pvpmeia4", "pvpmeia5"})
        values[QString::fromLatin1(c)] = price;
    for (auto it = required.cbegin(); it != required.cend(); ++it)
        if (!values.contains(it.key()))
            values[it.key()] = it.value().contains(QLatin1String("CHAR")) || it.value().contains(QLatin1String("TEXT"))
                                   ? QStringLiteral("'P' || x")
                                   : QStringLiteral("x");
    sql += QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
                          "INSERT INTO produtos (%2) SELECT %3 FROM n;\n")
               .arg(products)
               .arg(values.keys().join(QStringLiteral(", ")), values.values().join(QStringLiteral(", ")));
    sql += QStringLiteral(
        "DELETE FROM iva; DELETE FROM iva_apagar; DELETE FROM configpostos;\n"
        "INSERT INTO iva (codigo, factor, descricao) VALUES (6, 6, '6%'), (13, 13, '13%'), (23, 23, '23%');\n"
        "INSERT INTO configpostos (chave, valor) VALUES ('IVA POR DEFEITO', '23'), "
        "('IVA NO CONSUMO MINIMO', '13'), ('IVA AO BALCAO', '6');\n"
        "COMMIT;\n");
    Shell(database, sql);
}

// folder's database of n products, built afresh, and original.db, its copy that each timed
// run starts from.
void PrepareOriginal(const QString& folder, qint64 n)
{
    const QString database = QDir(folder).filePath(QStringLiteral("quibon.db"));
    const QString original = QDir(folder).filePath(QStringLiteral("original.db"));
    BuildDatabase(folder, database, n);
    QFile::remove(original);
    if (!QFile::copy(database, original))
        Fail(QStringLiteral("cannot copy the database"));
}

// --repeat, or as many rounds as the drift between them needs at n products.
int Rounds(qint64 n, int repeat)
{
    return repeat > 0 ? repeat : (n <= 100000 ? 6 : 4);
}

TChangeRequest FullQuibonRequest()
{
    TChangeRequest r;
    r.app = TAppKind::Quibon;
    r.rows[0] = {true, QStringLiteral("23"), QStringLiteral("21"), QStringLiteral("21%")};
    r.rows[1] = {true, QStringLiteral("13"), QStringLiteral("12"), QStringLiteral("12%")};
    r.rows[2] = {true, QStringLiteral("6"), QStringLiteral("5"), QStringLiteral("5%")};
    r.options.salePrices = r.options.purchasePrices = r.options.roundPrices = true;
    r.options.places = QStringLiteral("2");
    return r;
}

// What both databases must agree on afterwards.
const char* const kChecksum =
    "SELECT count(*), total(precovenda), total(precomeia), total(precocompra), total(pvp2), "
    "total(pvp5), total(pvpmeia5), total(iva), total(ivacompra), total(iva2), total(ivarevenda), "
    "count(id) FROM produtos;\n"
    "SELECT group_concat(factor || ':' || descricao, ' ') FROM (SELECT * FROM iva ORDER BY factor);\n"
    "SELECT group_concat(codigo, ' ') FROM iva_apagar;\n"
    "SELECT group_concat(valor, ' ') FROM (SELECT valor FROM configpostos ORDER BY chave);\n";

// CPU time (user + system) in ms of this process or of its finished children.
qint64 CpuMs(int who)
{
    rusage u{};
    getrusage(who, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000LL + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

// What the window's relay does with a run's progress: the record hears every statement, and
// each is posted to the window's thread as a queued call.
class TPostedProgress : public TRunObserver {
public:
    explicit TPostedProgress(TRunRecord& record) : record_(record) {}
    void TotalChanged(int total) override { post(-1, total); }
    void StatementDone(const TStatementReport& r) override
    {
        record_.StatementDone(r);
        post(r.done, r.total);
    }
    void RowDone(int row, qint64 moved) override { record_.RowDone(row, moved); }
    int shown = 0;

private:
    void post(int done, int total)
    {
        QMetaObject::invokeMethod(qApp, [this, done, total] { shown = qMax(shown, done + total); }, Qt::QueuedConnection);
    }
    TRunRecord& record_;
};

// Answers Sim to the confirmation and prints any other box.
class TYesDialogs : public TDialogs {
public:
    void ShowMessage(const QString& text, const QString& title) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
    bool Confirm(const QString&, const QString&) override { return true; }
    void ShowSimulation(const TSimulationReport&) override {}
};

// The real window on a Quibon installation of products: the full change pressed, repaints
// asked for every 50 ms while it runs.
int WindowRun(qint64 products, const QString& folder)
{
    const QString database = QDir(folder).filePath(QStringLiteral("quibon.db"));
    BuildDatabase(folder, database, products);
    // Detection reads whether prices include VAT.
    Shell(database, QStringLiteral("INSERT INTO configuracao (empresa, contribuinte, morada, casasdecimais, "
                                   "ivaincluido) VALUES ('Loja', '500000000', 'Rua', 2, 1);\n"));
    QDir::setCurrent(folder);

    TYesDialogs dialogs;
    TmainEnvironment environment;
    environment.dialogs = &dialogs;
    environment.settingsFile = QDir(folder).filePath(QStringLiteral("Qorvanta.ini"));
    environment.executablePath = QDir(folder).filePath(QStringLiteral("taxas-iva"));
    Tmain window(environment);
    window.show();
    auto press = [&](const char* name) {
        auto* button = window.findChild<QAbstractButton*>(QString::fromLatin1(name));
        if (!button) Fail(QStringLiteral("no %1").arg(QString::fromLatin1(name)));
        button->click();
        // What the press started runs on the session's database thread; the window answers meanwhile.
        for (int i = 0; i < 5 || window.Session().Busy(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    press("btaceito");
    press("btnext1");
    if (window.ActivePage() != tabexec) Fail(QStringLiteral("the rate entry page was not reached"));
    window.LoadRequest(FullQuibonRequest());

    QElapsedTimer clock;
    clock.start();
    qint64 asked = -1, lastTick = -1, worstPaint = 0, worstGap = 0, paints = 0;
    // The header band paints itself whole: a repaint asked of it is a paint that must come.
    QWidget* band = window.findChild<QWidget*>(QStringLiteral("header"));
    if (!band) Fail(QStringLiteral("no header band"));
    struct TPaintWatch : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) onPaint();
            return false;
        }
    } watch;
    watch.onPaint = [&] {
        if (asked < 0) return;
        const qint64 wait = clock.elapsed() - asked;
        if (wait > 60 && qEnvironmentVariableIsSet("TAXAS_BENCH_TRACE"))
            std::fprintf(stderr, "repaint waited %lld ms at %lld ms\n", static_cast<long long>(wait),
                         static_cast<long long>(asked));
        worstPaint = qMax(worstPaint, wait);
        asked = -1;
        ++paints;
    };
    band->installEventFilter(&watch);
    QTimer ticker;
    ticker.setInterval(50);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick >= 0) worstGap = qMax(worstGap, now - lastTick - 50);
        lastTick = now;
        if (asked < 0) asked = now;
        band->update();
    });
    ticker.start();
    const qint64 cpu = CpuMs(RUSAGE_SELF);
    const qint64 started = clock.elapsed();
    if (qEnvironmentVariableIsSet("TAXAS_BENCH_TRACE"))
        std::fprintf(stderr, "pressed at %lld ms\n", static_cast<long long>(started));
    press("btalterar");
    const qint64 ran = clock.elapsed() - started;
    ticker.stop();
    if (window.ActivePage() != tabconcluido) Fail(QStringLiteral("the change did not reach the done page"));
    std::printf("| %lld | %lld | %lld | %lld | %lld | %lld |\n", static_cast<long long>(products),
                static_cast<long long>(ran), static_cast<long long>(CpuMs(RUSAGE_SELF) - cpu),
                static_cast<long long>(paints), static_cast<long long>(worstPaint), static_cast<long long>(worstGap));
    return 0;
}

// The middle value; with an even count, the mean of the two middle ones.
template <typename T>
double Median(QList<T> v)
{
    if (v.isEmpty()) return 0;
    std::sort(v.begin(), v.end());
    const int m = v.size() / 2;
    return v.size() % 2 ? double(v[m]) : (double(v[m - 1]) + double(v[m])) / 2;
}

// Each round's ratio of the program to the shell: the two sides of a round run minutes apart,
// so the drift of a shared machine's speed between rounds (here up to a quarter) cancels.
QList<double> RoundRatios(const QList<qint64>& program, const QList<qint64>& shell)
{
    QList<double> ratios;
    for (int i = 0; i < program.size() && i < shell.size(); ++i)
        if (shell[i] > 0) ratios << double(program[i]) / double(shell[i]);
    return ratios;
}

// Timed runs start from a fresh copy of the same database, with the kernel's pending writes
// flushed first, and alternate which side goes first, so that neither pays for the other's
// (or the build's) write-back.
int RunOne(qint64 products, const QString& folder, int repeat)
{
    const QString original = QDir(folder).filePath(QStringLiteral("original.db"));
    const QString database = QDir(folder).filePath(QStringLiteral("quibon.db"));
    const QString copy = QDir(folder).filePath(QStringLiteral("quibon-shell.db"));
    PrepareOriginal(folder, products);
    QDir::setCurrent(folder);

    QList<qint64> engineTimes, shellTimes, engineCpu, shellCpu;
    QStringList texts;
    int statementCount = 0;
    bool same = true;
    for (int r = 0; r < repeat; ++r) {
        for (const QString& target : {database, copy}) {
            QFile::remove(target);
            if (!QFile::copy(original, target)) Fail(QStringLiteral("cannot copy the database"));
        }

        QStringList statements;
        auto runEngine = [&] {
            TDbConnection db;
            db.setConnectionString(QStringLiteral("FILE NAME=.\\Quibon.UDL"));
            QElapsedTimer step;
            db.setObserver([&](const QString& statement, TStatementKind) {
                if (qEnvironmentVariableIsSet("TAXAS_BENCH_TRACE") && !statements.isEmpty())
                    std::fprintf(stderr, "%6lld %s\n", static_cast<long long>(step.restart()), qPrintable(statements.last()));
                step.start();
                statements << statement;
            });
            db.setConnected(true);
            ::sync();
            QElapsedTimer timer;
            timer.start();
            const qint64 cpu = CpuMs(RUSAGE_SELF);
            TRunStart start;
            start.start = QDateTime::currentDateTime();
            start.request = FullQuibonRequest();
            start.app = start.request.app;
            start.dataLink = DataLinkFileOf(db.connectionString(), folder);
            TRunRecord record(QDir(folder).filePath(QStringLiteral("Qorvanta.ini")), start, folder);
            TPostedProgress progress(record);
            TRunHooks hooks;
            hooks.observer = &progress;
            RunChange(db, start.request, TRunKind::Immediate, hooks);
            record.Finish(TRunOutcome::Committed, QString(), QDateTime::currentDateTime());
            QCoreApplication::processEvents();
            engineTimes << timer.elapsed();
            engineCpu << CpuMs(RUSAGE_SELF) - cpu;
            db.setConnected(false);
        };
        auto runShell = [&](const QStringList& texts) {
            QString script = QStringLiteral("BEGIN;\n");
            for (const QString& s : texts) script += TranslateTSqlForSqlite(s) + QStringLiteral(";\n");
            script += QStringLiteral("COMMIT;\n");
            ::sync();
            qint64 ms = 0;
            const qint64 cpu = CpuMs(RUSAGE_CHILDREN);
            Shell(copy, script, &ms);
            shellTimes << ms;
            shellCpu << CpuMs(RUSAGE_CHILDREN) - cpu;
        };

        // The texts do not depend on the data, so from the second round on the previous
        // round's texts let the shell go first.
        if (r % 2 == 0 || texts.isEmpty()) {
            runEngine();
            runShell(statements);
        } else {
            runShell(texts);
            runEngine();
        }
        texts = statements;
        statementCount = statements.size();
        if (qEnvironmentVariableIsSet("TAXAS_BENCH_TRACE"))
            std::fprintf(stderr, "round %d: program %lld ms (CPU %lld), shell %lld ms (CPU %lld)\n", r + 1,
                         static_cast<long long>(engineTimes.last()), static_cast<long long>(engineCpu.last()),
                         static_cast<long long>(shellTimes.last()), static_cast<long long>(shellCpu.last()));
        same = same && Shell(database, QString::fromLatin1(kChecksum)) == Shell(copy, QString::fromLatin1(kChecksum));
    }

    const QList<double> ratios = RoundRatios(engineTimes, shellTimes);
    std::printf("RESULT %lld %.0f %.0f %lld %d %d %.0f %.0f %.4f %.4f %.4f %.4f\n", static_cast<long long>(products),
                Median(engineTimes), Median(shellTimes), static_cast<long long>(PeakKb()), statementCount,
                same ? 1 : 0, Median(engineCpu), Median(shellCpu), Median(ratios),
                Median(RoundRatios(engineCpu, shellCpu)), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    return same ? 0 : 1;
}

// The whole content of a database, as the sqlite3 shell hashes it (every value with its type).
QString ContentHash(const QString& database)
{
    return Shell(database, QStringLiteral(".sha3sum\n")).trimmed();
}

// Where the time of a change with its images, or of an undo, goes: the marks' times from the
// start, in ms.
class TPhaseClock : public TRunObserver {
public:
    TPhaseClock() { timer_.start(); }
    void Mark() { marks << timer_.elapsed(); }
    void Progress(qint64 done, qint64 total) override
    {
        if (done == total) productsDone = timer_.elapsed();
    }
    QList<qint64> marks;
    qint64 productsDone = -1;

private:
    QElapsedTimer timer_;
};

// The images side of the undo's series: the change with its images, written beside, as the
// session wires them. Phases: begin, the read before, the change's statements, the read after,
// the commit.
void ChangeWithImages(TDbConnection& db, const QString& path, TPhaseClock& clock)
{
    TChangeImageWriter images(path, QStringLiteral("bench"), FullQuibonRequest());
    bool imaged = false;
    TRunHooks hooks;
    hooks.afterBegin = [&] {
        clock.Mark();
        imaged = images.ReadBefore(db);
        clock.Mark();
    };
    hooks.beforeCommit = [&] {
        clock.Mark();
        if (imaged) images.ReadAfter(db);
        clock.Mark();
    };
    RunChange(db, FullQuibonRequest(), TRunKind::Immediate, hooks);
    clock.Mark();
    if (!imaged) Fail(QStringLiteral("the change took no images"));
}

// One side of the simulation's and the undo's series, in a process of its own so that its peak
// memory is its own: the full change, committed, or its simulation, or the change with its
// images, each from a fresh copy of the database; or the undo of the last change with images,
// from a copy of the database it left.
int RunSide(const QString& side, const QString& folder)
{
    const QString database = QDir(folder).filePath(QStringLiteral("quibon.db"));
    const QString changed = QDir(folder).filePath(QStringLiteral("changed.db"));
    const QString images = QDir(folder).filePath(QStringLiteral("TaxasIVA.bench.imagens"));
    QFile::remove(database);
    const bool undo = side == QLatin1String("undo");
    if (!QFile::copy(QDir(folder).filePath(undo ? QStringLiteral("changed.db") : QStringLiteral("original.db")), database))
        Fail(QStringLiteral("cannot copy the database"));
    QDir::setCurrent(folder);
    if (undo || side == QLatin1String("images")) {
        TDbConnection db;
        db.setConnectionString(QStringLiteral("FILE NAME=.\\Quibon.UDL"));
        db.setConnected(true);
        ::sync();
        TPhaseClock clock;
        QElapsedTimer timer;
        timer.start();
        QStringList fields;
        if (undo) {
            TRunHooks hooks;
            hooks.observer = &clock;
            hooks.afterBegin = [&] { clock.Mark(); };
            hooks.beforeCommit = [&] { clock.Mark(); };
            const TUndoResult result = UndoChange(db, TChangeImage(images), hooks,
                                                  QDir(folder).filePath(QStringLiteral("deixados.csv")));
            clock.Mark();
            const qint64 elapsed = timer.elapsed();
            db.setConnected(false);
            const bool same = ContentHash(database) == ContentHash(QDir(folder).filePath(QStringLiteral("original.db")));
            // Phases: begin, the products, the rest, the commit.
            const qint64 begin = clock.marks.value(0), products = clock.productsDone;
            fields << QString::number(elapsed) << QString::number(PeakKb()) << QString::number(result.productsRestored)
                   << QString::number(result.productsLeft) << (same ? QStringLiteral("1") : QStringLiteral("0"))
                   << QString::number(begin) << QString::number(products - begin)
                   << QString::number(clock.marks.value(1) - products)
                   << QString::number(clock.marks.value(2) - clock.marks.value(1));
        } else {
            QFile::remove(images);
            ChangeWithImages(db, images, clock);
            const qint64 elapsed = timer.elapsed();
            qint64 products = 0;
            TChangeImage(images).Products([&](const TImagedRow&) { ++products; });
            db.setConnected(false);
            QFile::remove(changed);
            if (!QFile::copy(database, changed)) Fail(QStringLiteral("cannot copy the database"));
            const QList<qint64>& m = clock.marks;
            fields << QString::number(elapsed) << QString::number(PeakKb()) << QString::number(products)
                   << QString::number(QFileInfo(images).size()) << QString::number(m.value(0))
                   << QString::number(m.value(1) - m.value(0)) << QString::number(m.value(2) - m.value(1))
                   << QString::number(m.value(3) - m.value(2)) << QString::number(m.value(4) - m.value(3));
        }
        std::printf("SIDE %s\n", qPrintable(fields.join(u' ')));
        return 0;
    }
    TDbConnection db;
    db.setConnectionString(QStringLiteral("FILE NAME=.\\Quibon.UDL"));
    db.setConnected(true);
    ::sync();
    QElapsedTimer timer;
    timer.start();
    qint64 products = 0;
    if (side == QLatin1String("simulation")) {
        const TSimulation result =
            SimulateChange(db, FullQuibonRequest(), nullptr, QDir(folder).filePath(QStringLiteral("simulacao.csv")));
        products = result.products;
    } else {
        RunChange(db, FullQuibonRequest(), TRunKind::Immediate);
    }
    std::printf("SIDE %lld %lld %lld\n", static_cast<long long>(timer.elapsed()), static_cast<long long>(PeakKb()),
                static_cast<long long>(products));
    return 0;
}

// One side's figures, from its child process.
QList<qint64> Side(const QString& side, const QString& folder)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--side"), side, folder});
    child.waitForFinished(-1);
    const QStringList f = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(' ');
    if (f.value(0) != QLatin1String("SIDE") || child.exitCode() != 0)
        Fail(QStringLiteral("the %1 side failed").arg(side));
    QList<qint64> values;
    for (const QString& v : f.mid(1))
        values << v.toLongLong();
    return values;
}

QString Range(const QList<double>& ratios)
{
    return QString::number(*std::min_element(ratios.begin(), ratios.end()), 'f', 2) + QStringLiteral(" to ")
           + QString::number(*std::max_element(ratios.begin(), ratios.end()), 'f', 2);
}

// The simulation against the change it simulates, round by round, each side going first in
// turn, for each size.
int SimulationSeries(const QList<qint64>& sizes, int repeat, const QString& base)
{
    QTextStream out(stdout);
    out << "| products | rounds | change (ms) | simulation (ms) | ratio | ratio range | peak memory, change (MiB) "
           "| peak memory, simulation (MiB) | products read back |\n"
        << "|---:|---:|---:|---:|---:|:---:|---:|---:|---:|\n";
    out.flush();
    for (qint64 n : sizes) {
        const QString folder = QDir(base).filePath(QStringLiteral("s%1").arg(n));
        QDir().mkpath(folder);
        PrepareOriginal(folder, n);
        const int rounds = Rounds(n, repeat);
        QList<qint64> change, simulation, changePeak, simulationPeak;
        qint64 read = 0;
        for (int r = 0; r < rounds; ++r) {
            const QStringList order = r % 2 == 0 ? QStringList{"change", "simulation"} : QStringList{"simulation", "change"};
            for (const QString& side : order) {
                const QList<qint64> f = Side(side, folder);
                (side == QLatin1String("change") ? change : simulation) << f.value(0);
                (side == QLatin1String("change") ? changePeak : simulationPeak) << f.value(1);
                if (side == QLatin1String("simulation"))
                    read = f.value(2);
            }
        }
        const QList<double> ratios = RoundRatios(simulation, change);
        out << "| " << n << " | " << rounds << " | " << Median(change) << " | " << Median(simulation) << " | "
            << QString::number(Median(ratios), 'f', 2) << " | " << Range(ratios) << " | "
            << QString::number(Median(changePeak) / 1024.0, 'f', 1) << " | "
            << QString::number(Median(simulationPeak) / 1024.0, 'f', 1) << " | " << read << " |\n";
        out.flush();
    }
    return 0;
}

// The change without images, the same change with them, and the undo of that change from them,
// round by round: the two changes take turns to go first, the undo follows the change whose
// images it reads. The undo's database is compared with the original, whole.
int UndoSeries(const QList<qint64>& sizes, int repeat, const QString& base)
{
    QTextStream out(stdout);
    QStringList phases;
    out << "| products | rounds | change (ms) | with images (ms) | undo (ms) | images / change | range "
           "| undo / change | range | peak memory, change / images / undo (MiB) | images file (MiB) "
           "| products restored | database as before |\n"
        << "|---:|---:|---:|---:|---:|---:|:---:|---:|:---:|:---:|---:|---:|:---:|\n";
    out.flush();
    int status = 0;
    for (qint64 n : sizes) {
        const QString folder = QDir(base).filePath(QStringLiteral("u%1").arg(n));
        QDir().mkpath(folder);
        PrepareOriginal(folder, n);
        const int rounds = Rounds(n, repeat);
        QList<qint64> change, imaged, undo, changePeak, imagedPeak, undoPeak, fileSize;
        QList<QList<qint64>> imagedPhases(5), undoPhases(4);
        qint64 restored = -1;
        bool allSame = true, allRestored = true;
        for (int r = 0; r < rounds; ++r) {
            const QStringList order = r % 2 == 0 ? QStringList{"change", "images", "undo"}
                                                 : QStringList{"images", "undo", "change"};
            for (const QString& side : order) {
                const QList<qint64> f = Side(side, folder);
                if (side == QLatin1String("change")) {
                    change << f.value(0);
                    changePeak << f.value(1);
                } else if (side == QLatin1String("images")) {
                    imaged << f.value(0);
                    imagedPeak << f.value(1);
                    fileSize << f.value(3);
                    for (int i = 0; i < 5; ++i)
                        imagedPhases[i] << f.value(4 + i);
                    if (f.value(2) != n) allRestored = false;  // every product is imaged here
                } else {
                    undo << f.value(0);
                    undoPeak << f.value(1);
                    restored = f.value(2);
                    allRestored = allRestored && f.value(2) == n && f.value(3) == 0;
                    allSame = allSame && f.value(4) == 1;
                    for (int i = 0; i < 4; ++i)
                        undoPhases[i] << f.value(5 + i);
                }
            }
        }
        const QList<double> imagesRatios = RoundRatios(imaged, change), undoRatios = RoundRatios(undo, change);
        auto mib = [](double kb) { return QString::number(kb / 1024.0, 'f', 1); };
        out << "| " << n << " | " << rounds << " | " << Median(change) << " | " << Median(imaged) << " | "
            << Median(undo) << " | " << QString::number(Median(imagesRatios), 'f', 2) << " | " << Range(imagesRatios)
            << " | " << QString::number(Median(undoRatios), 'f', 2) << " | " << Range(undoRatios) << " | "
            << mib(Median(changePeak)) << " / " << mib(Median(imagedPeak)) << " / " << mib(Median(undoPeak)) << " | "
            << QString::number(Median(fileSize) / 1048576.0, 'f', 0) << " | " << restored << " | "
            << (allSame && allRestored ? "yes" : "NO") << " |\n";
        out.flush();
        auto medians = [](const QList<QList<qint64>>& p) {
            QStringList m;
            for (const QList<qint64>& v : p)
                m << QString::number(Median(v), 'f', 0);
            return m.join(QStringLiteral(" | "));
        };
        phases << QStringLiteral("| %1 | %2 | %3 |").arg(n).arg(medians(imagedPhases), medians(undoPhases));
        if (!allSame || !allRestored) status = 1;
    }
    out << "\nPhases (medians, ms):\n\n"
        << "| products | images: begin | read before | statements | read after | commit "
           "| undo: begin | products | rates and terminals | commit |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const QString& line : phases) out << line << "\n";
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) != "--window") continue;
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        const qint64 products = QByteArray(argv[i + 1]).toLongLong();
        QTemporaryDir scratch;
        QString folder = scratch.path();
        for (int j = 1; j + 1 < argc; ++j)
            if (QByteArray(argv[j]) == "--keep") folder = QString::fromLocal8Bit(argv[j + 1]);
        QDir().mkpath(folder);
        std::printf("| products | run (ms) | CPU (ms) | repaints | longest wait for a repaint (ms) | longest timer "
                    "delay (ms) |\n|---:|---:|---:|---:|---:|---:|\n");
        return WindowRun(products, folder);
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args[0] == QLatin1String("--side"))
        return RunSide(args[1], args[2]);
    QList<qint64> sizes{10000, 100000};
    bool simulationSeries = false, undoSeries = false;
    QString keep;
    qint64 one = 0;
    int repeat = 0;  // 0: six rounds up to 100 000 products, four above
    QString oneDir;
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        if (a == QLatin1String("--million")) sizes << 1000000;
        else if (a == QLatin1String("--simulation")) simulationSeries = true;
        else if (a == QLatin1String("--undo")) undoSeries = true;
        else if (a == QLatin1String("--sizes") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString& s : args[++i].split(',')) sizes << s.toLongLong();
        } else if (a == QLatin1String("--sqlite3") && i + 1 < args.size()) g_sqlite3 = args[++i];
        else if (a == QLatin1String("--keep") && i + 1 < args.size()) keep = args[++i];
        else if (a == QLatin1String("--repeat") && i + 1 < args.size()) repeat = args[++i].toInt();
        else if (a == QLatin1String("--one") && i + 2 < args.size()) {
            one = args[++i].toLongLong();
            oneDir = args[++i];
        } else {
            std::fprintf(stderr, "usage: taxas-bench [--simulation | --undo] [--sizes N,N] [--million] [--repeat R] "
                                 "[--sqlite3 PATH] [--keep DIR]\n");
            return 2;
        }
    }
    if (one > 0) return RunOne(one, oneDir, qMax(1, repeat));

    QTemporaryDir scratch;
    const QString base = keep.isEmpty() ? scratch.path() : keep;
    if (simulationSeries)
        return SimulationSeries(sizes, repeat, base);
    if (undoSeries)
        return UndoSeries(sizes, repeat, base);
    QTextStream out(stdout);
    out << "| products | rounds | statements | program (ms) | sqlite3 shell (ms) | ratio | ratio range "
           "| CPU ratio | peak memory (MiB) | same result |\n"
        << "|---:|---:|---:|---:|---:|---:|:---:|---:|---:|:---:|\n";
    out.flush();
    int status = 0;
    for (qint64 n : sizes) {
        const QString folder = QDir(base).filePath(QStringLiteral("n%1").arg(n));
        QDir().mkpath(folder);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const int rounds = Rounds(n, repeat);
        QStringList childArgs{QStringLiteral("--one"), QString::number(n), folder,
                              QStringLiteral("--sqlite3"), g_sqlite3, QStringLiteral("--repeat"),
                              QString::number(rounds)};
        child.start(QCoreApplication::applicationFilePath(), childArgs);
        child.waitForFinished(-1);
        const QStringList f = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(' ');
        if (f.value(0) != QLatin1String("RESULT")) {
            out << "| " << n << " | " << rounds << " | failed | | | | | | | |\n";
            status = 1;
            continue;
        }
        // Times are each side's median; the ratios are the median of the rounds' own ratios.
        auto fixed = [&](int i) { return QString::number(f.value(i).toDouble(), 'f', 2); };
        out << "| " << n << " | " << rounds << " | " << f[5] << " | " << f[2] << " | " << f[3] << " | " << fixed(9)
            << " | " << fixed(11) << " to " << fixed(12) << " | " << fixed(10) << " | "
            << QString::number(f[4].toDouble() / 1024.0, 'f', 1) << " | " << (f[6] == QLatin1String("1") ? "yes" : "NO")
            << " |\n";
        out.flush();
        if (f[6] != QLatin1String("1")) status = 1;
    }
    return status;
}
