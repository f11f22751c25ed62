#include "RunRecord.h"
#include "FileLookup.h"
#include "OleDbString.h"
#include "ScheduleGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

const QString kLogName = QStringLiteral("TaxasIVA.log");
const QByteArray kBom = "\xEF\xBB\xBF";

QString Stamp(const QDateTime& moment)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString YesNo(bool on)
{
    return on ? QStringLiteral("sim") : QStringLiteral("não");
}

// Lines joined with CR LF, a blank line closing the block.
QByteArray Block(const QStringList& lines)
{
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n")).toUtf8();
}

// One write with the file opened for appending (O_APPEND where there is one), so the block
// lands whole after whatever another process appended; a short write is cut back off, so a
// full disk leaves no half block.
bool Append(const QString& path, const QByteArray& block)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const qint64 before = file.size();
    const QByteArray bytes = before == 0 ? kBom + block : block;
    if (file.write(bytes) == bytes.size())
        return true;
    file.resize(before);
    return false;
}

QString LockPath(const QString& logPath, const QString& id)
{
    return logPath + QLatin1Char('.') + id + QStringLiteral(".lock");
}

QString Header(const char* name, const QString& id)
{
    return QStringLiteral("== ") + QString::fromUtf8(name) + QLatin1Char(' ') + id + QStringLiteral(" ==");
}

const char kStartName[] = "Início";
const char kEndName[] = "Fim";
const char kCommittingName[] = "A gravar";
const char kCommittedName[] = "Gravada";
const char kRolledBackName[] = "Gravação recusada";
const char kVerdictName[] = "Verificação";

const QString kInDoubt = QStringLiteral("em dúvida: ");
const QString kCheckByHand = QStringLiteral("verifique à mão as taxas e os preços");

QString KindText(TRunKind kind, bool commandLine)
{
    switch (kind) {
    case TRunKind::Immediate:
        return commandLine ? QStringLiteral("linha de comandos") : QStringLiteral("imediata");
    case TRunKind::Scheduled:
        return QStringLiteral("agendada");
    case TRunKind::Simulation:
        return commandLine ? QStringLiteral("linha de comandos (simulação)") : QStringLiteral("simulação");
    case TRunKind::Undo:
        return commandLine ? QStringLiteral("linha de comandos (reposição)") : QStringLiteral("reposição");
    case TRunKind::ScheduledUndo:
        return QStringLiteral("reposição agendada");
    }
    return QString();
}

// The record's lines, its byte-order mark and line ends left out; none when it cannot be read.
QStringList RecordLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.remove(u'\r');
    return text.split(u'\n');
}

// A block's header line: its name ("Início", "Fim", ...) and the run's id.
std::optional<std::pair<QString, QString>> HeaderOf(const QString& line)
{
    static const QRegularExpression header(QStringLiteral("^== (.+) (\\S+) ==$"));
    const auto m = header.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    return std::make_pair(m.captured(1), m.captured(2));
}

QString OneLine(const QString& text)
{
    return QString(text).replace(QRegularExpression(QStringLiteral("\\s*[\\r\\n]+\\s*")), QStringLiteral(" "));
}

}  // namespace

QStringList RunLogPlaces(const QString& settingsPath, const QString& fallbackFolder)
{
    const QString folder = !fallbackFolder.isEmpty()
        ? fallbackFolder
        : PerUserFallbackFolder();
    return {QFileInfo(settingsPath).absolutePath() + QLatin1Char('/') + kLogName,
            folder + QLatin1Char('/') + kLogName};
}

QStringList RequestLines(const TChangeRequest& request)
{
    QStringList lines;
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = request.rows[i];
        if (row.enabled)
            lines << QStringLiteral("Linha %1: %2% → %3%, descrição \"%4\"")
                         .arg(i + 1)
                         .arg(row.existing, row.replacement, row.description);
    }
    const TChangeOptions& o = request.options;
    lines << QStringLiteral("Opções: não eliminar a taxa actual: %1; preços de compra: %2; preços de venda: %3; "
                            "arredondar: %4; casas decimais: %5")
                 .arg(YesNo(o.keepCurrentRate), YesNo(o.purchasePrices), YesNo(o.salePrices), YesNo(o.roundPrices),
                      o.places);
    return lines;
}

QString DataLinkFileOf(const QString& connectionString, const QString& currentDir)
{
    try {
        const TKeywordList keywords = ParseOleDbConnectionString(connectionString);
        if (HasKeyword(keywords, QStringLiteral("file name"))) {
            const QString named = KeywordValue(keywords, QStringLiteral("file name"));
            const QString found = FindFileIgnoringCase(named, currentDir);
            return QDir::toNativeSeparators(found.isEmpty() ? named : QFileInfo(found).absoluteFilePath());
        }
        return QStringLiteral("(sem ficheiro de ligação; fornecedor %1)")
            .arg(KeywordValue(keywords, QStringLiteral("provider")));
    } catch (...) {
        return QStringLiteral("(cadeia de ligação ilegível)");
    }
}

QString OperatingSystemUser()
{
    for (const char* name : {"USERNAME", "USER", "LOGNAME"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
    return QStringLiteral("(desconhecido)");
}

QString ComputerName()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("(desconhecido)") : name;
}

TRunRecord::TRunRecord(const QString& settingsPath, const TRunStart& start, const QString& fallbackFolder,
                       TStartBlock when)
    : settingsPath_(settingsPath), fallbackFolder_(fallbackFolder)
{
    id_ = start.start.toString(QStringLiteral("yyyyMMdd-HHmmss-")) + QString::number(QCoreApplication::applicationPid())
        + QLatin1Char('-') + QString::number(QRandomGenerator::global()->generate() % 0x10000, 16);

    QStringList lines{Header(kStartName, id_),
                      QStringLiteral("Início: ") + Stamp(start.start),
                      QStringLiteral("Utilizador: ") + start.user,
                      QStringLiteral("Computador: ") + start.computer,
                      QStringLiteral("Aplicação: ") + AppName(start.app),
                      QStringLiteral("Ficheiro de ligação: ") + start.dataLink,
                      QStringLiteral("Execução: ") + KindText(start.kind, start.commandLine)};
    if (!start.undoes.isEmpty())
        lines << QStringLiteral("Alteração desfeita: ") + start.undoes;
    startBlock_ = Block(lines + RequestLines(start.request));
    if (when == TStartBlock::Now)
        WriteStart();
}

void TRunRecord::WriteStart()
{
    if (started_)
        return;
    started_ = true;
    for (const QString& place : RunLogPlaces(settingsPath_, fallbackFolder_)) {
        // The lock first: a start block is never seen without the lock that says it is alive.
        auto lock = std::make_unique<QLockFile>(LockPath(place, id_));
        lock->setStaleLockTime(0);
        QDir().mkpath(QFileInfo(place).absolutePath());
        if (!lock->tryLock(0))
            continue;
        if (Append(place, startBlock_)) {
            path_ = place;
            lock_ = std::move(lock);
            return;
        }
    }
}

bool TRunRecord::Discard()
{
    if (started_)
        return false;
    finished_ = true;
    return true;
}

TRunRecord::~TRunRecord() = default;

void TRunRecord::StatementDone(const TStatementReport& r)
{
    QString what = r.kind == TStatementKind::Read ? QStringLiteral("leitura")
        : r.rowsAffected < 0                       ? QStringLiteral("registos: ?")
                                                   : QStringLiteral("registos: %1").arg(r.rowsAffected);
    statements_ += (QStringLiteral("Instrução %1 (linha %2, %3 ms, %4): %5\r\n")
                        .arg(r.done)
                        .arg(r.row + 1)
                        .arg(QString::number(r.microseconds / 1000.0, 'f', 1), what, r.sql))
                       .toUtf8();
}

void TRunRecord::Note(const QString& line)
{
    notes_ += (line + QStringLiteral("\r\n")).toUtf8();
}

void TRunRecord::RowDone(int row, qint64 productsMoved)
{
    moved_[row] = productsMoved;
}

void TRunRecord::commitLine(TCommit stage, const char* name)
{
    // A deferred start block goes in first: a commit must never be recorded without its run.
    WriteStart();
    commit_ = stage;
    if (!path_.isEmpty())
        Append(path_, Block({Header(name, id_)}));
}

void TRunRecord::Committing()
{
    commitLine(TCommit::Sent, kCommittingName);
}

void TRunRecord::Committed()
{
    commitLine(TCommit::Done, kCommittedName);
}

void TRunRecord::CommitRolledBack()
{
    commitLine(TCommit::RolledBack, kRolledBackName);
}

TRunHooks TRunRecord::AroundCommit(TRunHooks hooks)
{
    hooks.beforeCommit = [this, before = std::move(hooks.beforeCommit)] {
        if (before)
            before();
        Committing();
    };
    hooks.afterCommit = [this, after = std::move(hooks.afterCommit)] {
        Committed();
        if (after)
            after();
    };
    hooks.commitRolledBack = [this, rolledBack = std::move(hooks.commitRolledBack)] {
        CommitRolledBack();
        if (rolledBack)
            rolledBack();
    };
    return hooks;
}

TRunOutcome TRunRecord::Settled(TRunOutcome outcome, bool* inDoubt) const
{
    // The commit decides: what failed after it returned did not undo it, and a commit that
    // was sent and neither returned nor was undone may or may not have been made.
    if (commit_ == TCommit::Done)
        outcome = TRunOutcome::Committed;
    if (inDoubt)
        *inDoubt = commit_ == TCommit::Sent && outcome != TRunOutcome::Committed;
    return outcome;
}

void TRunRecord::Finish(TRunOutcome outcome, const QString& errorText, const QDateTime& end)
{
    if (finished_)
        return;
    WriteStart();
    if (path_.isEmpty())
        return;
    finished_ = true;
    bool inDoubt = false;
    outcome = Settled(outcome, &inDoubt);
    QString result;
    if (inDoubt) {
        result = kInDoubt + QStringLiteral("a gravação da alteração não terminou")
            + (errorText.isEmpty() ? QString() : QStringLiteral(" (") + OneLine(errorText) + QLatin1Char(')'))
            + QStringLiteral("; ") + kCheckByHand;
    } else {
        switch (outcome) {
        case TRunOutcome::Committed:
            result = QStringLiteral("confirmada");
            break;
        case TRunOutcome::RolledBack:
            result = QStringLiteral("anulada: ") + OneLine(errorText);
            break;
        case TRunOutcome::Cancelled:
            result = QStringLiteral("cancelada pelo operador");
            break;
        case TRunOutcome::Interrupted:
            result = QStringLiteral("interrompida (o programa foi terminado durante a alteração; nada foi alterado)");
            break;
        case TRunOutcome::Simulated:
            result = QStringLiteral("simulada (anulada)");
            break;
        }
    }
    QByteArray block =
        (Header(kEndName, id_) + QStringLiteral("\r\nFim: ") + Stamp(end) + QStringLiteral("\r\n")).toUtf8();
    block += statements_;
    block += notes_;
    block += Block({QStringLiteral("Resultado: ") + result});
    Append(path_, block);
    lock_.reset();  // unlocks and removes the lock file
}

void RecordRepeats(const QString& logPath, const QString& firstId, int count, const QDateTime& last)
{
    if (logPath.isEmpty() || count <= 0)
        return;
    Append(logPath, Block({Header("Repetições", firstId),
                           QStringLiteral("Tentativas seguintes com o mesmo resultado: %1; a última em %2")
                               .arg(count)
                               .arg(Stamp(last))}));
}

void RecordVerdict(const QString& logPath, const QString& runId, const QString& outcome, const QDateTime& now)
{
    Append(logPath, Block({Header(kVerdictName, runId), QStringLiteral("Verificada: ") + Stamp(now),
                           QStringLiteral("Resultado: ") + outcome}));
}

QStringList CloseInterruptedRuns(const QString& settingsPath, const QDateTime& now, const QString& fallbackFolder)
{
    // What a dead run's last line says the database holds.
    const QHash<QString, QString> outcomes{
        {QString::fromUtf8(kStartName),
         QStringLiteral("interrompida (o programa terminou durante a alteração; encontrada ao iniciar)")},
        {QString::fromUtf8(kCommittingName),
         kInDoubt + QStringLiteral("o programa terminou enquanto a alteração era gravada; ") + kCheckByHand},
        {QString::fromUtf8(kCommittedName),
         QStringLiteral("confirmada (o programa terminou depois de gravar a alteração; encontrada ao iniciar)")},
        {QString::fromUtf8(kRolledBackName),
         QStringLiteral("anulada (o programa terminou depois de a base de dados recusar a gravação; "
                        "encontrada ao iniciar)")},
    };
    QStringList closed;
    for (const QString& place : RunLogPlaces(settingsPath, fallbackFolder)) {
        QStringList open;              // ids in the order their runs started
        QHash<QString, QString> last;  // each open run's last line's name
        for (const QString& line : RecordLines(place)) {
            const auto header = HeaderOf(line);
            if (!header)
                continue;
            const auto& [name, id] = *header;
            if (name == QString::fromUtf8(kEndName)) {
                open.removeAll(id);
                last.remove(id);
            } else if (outcomes.contains(name)) {
                if (name == QString::fromUtf8(kStartName))
                    open << id;
                last[id] = name;
            }
        }
        for (const QString& id : open) {
            QLockFile lock(LockPath(place, id));
            // Held, or unreadable and young: a run of a live process, still going.
            if (TryLockAt(lock, now) != TLockTry::Taken)
                continue;
            if (Append(place, Block({Header(kEndName, id), QStringLiteral("Fim: ") + Stamp(now),
                                     QStringLiteral("Resultado: ") + outcomes.value(last.value(id))})))
                closed << id;
        }
    }
    return closed;
}

QList<TRecordedRun> ReadRecordedRuns(const QString& settingsPath, const QString& fallbackFolder)
{
    QList<TRecordedRun> runs;
    QHash<QString, qsizetype> byId;
    for (const QString& place : RunLogPlaces(settingsPath, fallbackFolder)) {
        // The block a line belongs to, while it lasts (a blank line ends it).
        TRecordedRun* start = nullptr;
        TRecordedRun* end = nullptr;
        for (const QString& line : RecordLines(place)) {
            if (const auto header = HeaderOf(line)) {
                const auto& [name, id] = *header;
                start = end = nullptr;
                if (name == QString::fromUtf8(kStartName)) {
                    byId.insert(id, runs.size());
                    runs.append(TRecordedRun());
                    runs.last().id = id;
                    runs.last().path = place;
                    start = &runs.last();
                } else if ((name == QString::fromUtf8(kEndName) || name == QString::fromUtf8(kVerdictName))
                           && byId.contains(id)) {
                    end = &runs[byId.value(id)];  // a verdict's result stands for the end's
                }
                continue;
            }
            if (line.isEmpty()) {
                start = end = nullptr;
            } else if (start) {
                const QString key = line.section(QStringLiteral(": "), 0, 0);
                const QString value = line.section(QStringLiteral(": "), 1);
                if (key == QStringLiteral("Início"))
                    start->start = value;
                else if (key == QStringLiteral("Utilizador"))
                    start->user = value;
                else if (key == QStringLiteral("Alteração desfeita"))
                    start->undoes = value;
                else if (key == QStringLiteral("Execução"))
                    start->kind = value;
                else if (key.startsWith(QStringLiteral("Linha ")))
                    start->rows << line;
            } else if (end && line.startsWith(QStringLiteral("Resultado: "))) {
                end->result = line.mid(11);
            }
        }
    }
    // The fallback's runs among the others, by their start (the id begins with it).
    std::stable_sort(runs.begin(), runs.end(),
                     [](const TRecordedRun& a, const TRecordedRun& b) { return a.id < b.id; });
    return runs;
}
