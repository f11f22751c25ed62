#pragma once
// The record of every change run, "TaxasIVA.log" beside the settings file (or, where that
// folder cannot be written, in the same per-user folder the schedule guard falls back to).
//
// UTF-8 with a byte-order mark, CR LF line ends, only ever appended to. A run writes its
// blocks each with one write and so whole or not at all, linked by the run's id:
//   "== Início <id> ==" when the run starts: who, where, what was asked;
//   "== A gravar <id> ==", then "== Gravada <id> ==" or "== Gravação recusada <id> ==",
//                        one line each, around the commit (see Committing);
//   "== Fim <id> =="    when it ends: every statement with its time and rows, the outcome.
// A start block with no end block belongs to a run in progress or to a process that was
// killed. A run holds "TaxasIVA.log.<id>.lock" while it lasts, so the next start can tell
// the two apart: it closes a dead run's record with the outcome its commit lines call for.
// The texts never hold a password: the data-link file is named, never read into the record.

#include "ChangeRun.h"
#include "RunObserver.h"
#include "TChangeRequest.h"

#include <QDateTime>
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <memory>

// What the start block says.
struct TRunStart {
    QDateTime start;
    QString user;       // the operating system's
    QString computer;
    TAppKind app = TAppKind::None;
    QString dataLink;   // the data-link file's path, or the connection string's kind
    TRunKind kind = TRunKind::Immediate;
    // Asked for on the command line, not in the window: the record says so in its
    // "Execução" line.
    bool commandLine = false;
    TChangeRequest request;
    QString undoes;     // an undo: the run whose change it puts back
};

// Interrupted: the program was ended during the run, which it rolled back first. Simulated:
// every statement sent and read back, then rolled back as a simulation is.
enum class TRunOutcome { Committed, RolledBack, Cancelled, Interrupted, Simulated };

// The data-link file a connection string names, found as the connection finds it; the
// string's provider when it names none (never the string itself, which may hold a password).
QString DataLinkFileOf(const QString& connectionString, const QString& currentDir);

// A request as the record tells it: a line per ticked row ("Linha 1: 23% → 22%, descrição
// "22%""), then one with the options.
QStringList RequestLines(const TChangeRequest& request);

// The logged-on user and the computer's name.
QString OperatingSystemUser();
QString ComputerName();

// One run's record: opened at construction, closed by Finish. Collects the statements as an
// observer of the run (on the run's thread; read only after the run has ended).
class TRunRecord : public TRunObserver {
public:
    // When the start block is written: at once, or (a scheduled attempt that may only repeat
    // the last one's failure) at the commit or at the end, whichever comes first, unless the
    // record is discarded before. A deferred run that dies before its commit leaves no trace:
    // it changed nothing.
    enum class TStartBlock { Now, Deferred };
    // fallbackFolder: empty means the per-user folder of the schedule guard.
    TRunRecord(const QString& settingsPath, const TRunStart& start, const QString& fallbackFolder = QString(),
               TStartBlock when = TStartBlock::Now);
    ~TRunRecord() override;

    QString id() const { return id_; }
    // Where the record went; empty when neither place could be written (the run goes on:
    // a change must not wait on its log).
    QString path() const { return path_; }

    void StatementDone(const TStatementReport& report) override;
    void RowDone(int row, qint64 productsMoved) override;
    // Products moved per row (-1: the row did not run or the driver does not count).
    qint64 productsMoved(int row) const { return moved_[row]; }

    // What the database holds is decided by the commit alone, so the record is told of it,
    // in the run's hooks (on the run's thread), before anything else could stop the process:
    //   Committing()       last thing before the commit is sent: last in beforeCommit, after
    //                      everything there that may still throw;
    //   Committed()        the commit has returned: first in afterCommit;
    //   CommitRolledBack() the commit returned an error and the rollback undid it: in
    //                      commitRolledBack.
    // AroundCommit(hooks) gives hooks with the three calls in those places. A process that
    // dies after them has its record closed as "confirmada", "em dúvida" (committing, end
    // unknown) or "anulada" at the next start, and Finish follows them too: a run that threw
    // after Committed() was committed, and one that threw after Committing() alone is in doubt.
    void Committing();
    void Committed();
    void CommitRolledBack();
    TRunHooks AroundCommit(TRunHooks hooks);

    // A line of the end block, before its outcome: what the statements do not say.
    void Note(const QString& line);

    // What a run's end comes to once the commit has its say, as Finish records it: a run that
    // threw after Committed() was committed; one that threw after Committing() alone is in
    // doubt (inDoubt set, the outcome left as raised).
    TRunOutcome Settled(TRunOutcome outcome, bool* inDoubt = nullptr) const;

    // The end block; errorText for a rolled-back run.
    void Finish(TRunOutcome outcome, const QString& errorText, const QDateTime& end);
    // A deferred record that is not to be written after all: true when nothing of it reached
    // the log; false once its start block is there (its commit was reached), when it must be
    // finished as any other.
    bool Discard();

private:
    enum class TCommit { NotYet, Sent, Done, RolledBack };
    void commitLine(TCommit stage, const char* name);

    void WriteStart();

    QString settingsPath_;
    QString fallbackFolder_;
    QByteArray startBlock_;
    bool started_ = false;
    QString id_;
    QString path_;
    std::unique_ptr<QLockFile> lock_;
    QByteArray statements_;
    QByteArray notes_;
    qint64 moved_[3] = {-1, -1, -1};
    TCommit commit_ = TCommit::NotYet;
    bool finished_ = false;
};

// What a run left in doubt turned out to be, found later from its images: a block
// "== Verificação <id> ==" whose "Resultado: " line stands for the run's from then on.
void RecordVerdict(const QString& logPath, const QString& runId, const QString& outcome, const QDateTime& now);

// Scheduled attempts that failed as the run firstId did, after it: one block for them all in
// the log at logPath ("== Repetições <firstId> =="), with their count and the last one's time,
// instead of a pair of blocks each.
void RecordRepeats(const QString& logPath, const QString& firstId, int count, const QDateTime& last);

// Start blocks of runs that died (no end block, nobody holding their lock; a lock whose owner
// cannot be read counts as held until it is kUnreadableLockMinutes old at now) get an end
// block with the moment they were found: "confirmada" after "Gravada", "anulada" after
// "Gravação recusada", "em dúvida" after "A gravar" alone, else "interrompida". Returns their ids.
QStringList CloseInterruptedRuns(const QString& settingsPath, const QDateTime& now,
                                 const QString& fallbackFolder = QString());

// A run as the record tells it.
struct TRecordedRun {
    QString id;
    QString start;      // as written: "2026-12-08 23:48:50"
    QString user;
    QString kind;       // the "Execução" line's text
    QStringList rows;   // "Linha 1: 23% → 22%, descrição "22%"", the ticked rows
    QString undoes;     // an undo: the run whose change it put back
    QString result;     // the "Resultado" line's text (a later verdict's); empty without an end block
    QString path;       // the record that holds it
    // Its commit known to be made (its result, or a later verdict's, "confirmada").
    bool committed() const { return result.startsWith(QLatin1String("confirmada")); }
};

// Every run of the record, from both its places, in the order the runs started.
QList<TRecordedRun> ReadRecordedRuns(const QString& settingsPath, const QString& fallbackFolder = QString());

// The log's paths, beside the settings file first.
QStringList RunLogPlaces(const QString& settingsPath, const QString& fallbackFolder = QString());
