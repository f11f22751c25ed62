#include "RunRecord.h"
#include "FileLookup.h"
#include "OleDbString.h"
#include "ScheduleGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>

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

QString EndHeader(const QString& id)
{
    return QStringLiteral("== Fim ") + id + QStringLiteral(" ==");
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

TRunRecord::TRunRecord(const QString& settingsPath, const TRunStart& start, const QString& fallbackFolder)
{
    id_ = start.start.toString(QStringLiteral("yyyyMMdd-HHmmss-")) + QString::number(QCoreApplication::applicationPid())
        + QLatin1Char('-') + QString::number(QRandomGenerator::global()->generate() % 0x10000, 16);

    QStringList lines{QStringLiteral("== Início ") + id_ + QStringLiteral(" =="),
                      QStringLiteral("Início: ") + Stamp(start.start),
                      QStringLiteral("Utilizador: ") + start.user,
                      QStringLiteral("Computador: ") + start.computer,
                      QStringLiteral("Aplicação: ") + AppName(start.app),
                      QStringLiteral("Ficheiro de ligação: ") + start.dataLink,
                      QStringLiteral("Execução: ")
                          + (start.kind == TRunKind::Scheduled ? QStringLiteral("agendada") : QStringLiteral("imediata"))};
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = start.request.rows[i];
        if (row.enabled)
            lines << QStringLiteral("Linha %1: %2% → %3%, descrição \"%4\"")
                         .arg(i + 1)
                         .arg(row.existing, row.replacement, row.description);
    }
    const TChangeOptions& o = start.request.options;
    lines << QStringLiteral("Opções: não eliminar a taxa actual: %1; preços de compra: %2; preços de venda: %3; "
                            "arredondar: %4; casas decimais: %5")
                 .arg(YesNo(o.keepCurrentRate), YesNo(o.purchasePrices), YesNo(o.salePrices), YesNo(o.roundPrices),
                      o.places);

    const QByteArray block = Block(lines);
    for (const QString& place : RunLogPlaces(settingsPath, fallbackFolder)) {
        // The lock first: a start block is never seen without the lock that says it is alive.
        auto lock = std::make_unique<QLockFile>(LockPath(place, id_));
        lock->setStaleLockTime(0);
        QDir().mkpath(QFileInfo(place).absolutePath());
        if (!lock->tryLock(0))
            continue;
        if (Append(place, block)) {
            path_ = place;
            lock_ = std::move(lock);
            return;
        }
    }
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

void TRunRecord::RowDone(int row, qint64 productsMoved)
{
    moved_[row] = productsMoved;
}

void TRunRecord::Finish(TRunOutcome outcome, const QString& errorText, const QDateTime& end)
{
    if (finished_ || path_.isEmpty())
        return;
    finished_ = true;
    QString result;
    switch (outcome) {
    case TRunOutcome::Committed:
        result = QStringLiteral("confirmada");
        break;
    case TRunOutcome::RolledBack:
        result = QStringLiteral("anulada: ") + QString(errorText).replace(QRegularExpression(QStringLiteral("\\s*[\\r\\n]+\\s*")), QStringLiteral(" "));
        break;
    case TRunOutcome::Cancelled:
        result = QStringLiteral("cancelada pelo operador");
        break;
    }
    QByteArray block = (EndHeader(id_) + QStringLiteral("\r\nFim: ") + Stamp(end) + QStringLiteral("\r\n")).toUtf8();
    block += statements_;
    block += Block({QStringLiteral("Resultado: ") + result});
    Append(path_, block);
    lock_.reset();  // unlocks and removes the lock file
}

QStringList CloseInterruptedRuns(const QString& settingsPath, const QDateTime& now, const QString& fallbackFolder)
{
    static const QRegularExpression startLine(QStringLiteral("^== Início (\\S+) ==\\r?$"));
    static const QRegularExpression endLine(QStringLiteral("^== Fim (\\S+) ==\\r?$"));
    QStringList closed;
    for (const QString& place : RunLogPlaces(settingsPath, fallbackFolder)) {
        QFile file(place);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QStringList open;
        for (const QByteArray& raw : file.readAll().split('\n')) {
            QString line = QString::fromUtf8(raw);
            if (line.startsWith(QChar(0xFEFF)))
                line.remove(0, 1);
            if (const auto m = startLine.match(line); m.hasMatch())
                open << m.captured(1);
            else if (const auto m2 = endLine.match(line); m2.hasMatch())
                open.removeAll(m2.captured(1));
        }
        file.close();
        for (const QString& id : open) {
            QLockFile lock(LockPath(place, id));
            lock.setStaleLockTime(0);
            // Held: a run of a live process, still going.
            if (!lock.tryLock(0))
                continue;
            if (Append(place, Block({EndHeader(id), QStringLiteral("Fim: ") + Stamp(now),
                                     QStringLiteral("Resultado: interrompida (o programa terminou durante a "
                                                    "alteração; encontrada ao iniciar)")})))
                closed << id;
        }
    }
    return closed;
}
