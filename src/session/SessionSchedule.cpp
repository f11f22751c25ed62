// The session's schedule: a checked request kept in the settings file with a start-up entry,
// and carried out unattended, once, when its moment comes, by this process or by the one the
// start-up entry starts.

#include "ChangeSession.h"

#include "Detection.h"
#include "Errors.h"
#include "ImageCheck.h"
#include "ScheduleGuard.h"
#include "SettingsFile.h"
#include "ShellShortcut.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char kEntryName[] = "Qorvanta";

// Minutes from a failed attempt to the next, by how many failed in a row: a server that is
// down for the night, or a trigger that refuses every time, is not sent the whole change
// every minute, yet a lock held for a moment costs only a minute.
const int kRetryMinutes[] = {1, 2, 5, 10, 15};

// Nothing tells whether the interrupted commit reached the database, and running the change
// again could divide and multiply the prices a second time: the operator has to look.
const QString kInDoubtText = QStringLiteral(
    "Uma execução anterior da alteração agendada foi interrompida enquanto a alteração era gravada na base "
    "de dados. Não é possível saber se as taxas de IVA e os preços foram alterados, pelo que a alteração "
    "agendada não será executada. Verifique manualmente as taxas e os preços na aplicação.");

// A run in the record, by its id; its images beside it, when kept.
std::optional<TRecordedRun> RecordedRun(const QString& settingsFile, const QString& id)
{
    if (id.isEmpty())
        return std::nullopt;
    for (const TRecordedRun& run : ReadRecordedRuns(settingsFile))
        if (run.id == id)
            return run;
    return std::nullopt;
}

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// A stored schedule that the window could not have confirmed: it is not run, and what is on
// disk stays for the operator to mend or remove.
QString RefusedText(const QString& reason, const QString& settingsFile)
{
    return reason + QStringLiteral("\n\nA alteração agendada no ficheiro ") + Native(settingsFile)
           + QStringLiteral(" não foi executada e nada foi alterado na base de dados. Corrija ou apague esse ficheiro.");
}

QString NoEntryText(const std::string& entryPath)
{
    const QString where = entryPath.empty() ? QString()
                                            : QStringLiteral(" (") + QString::fromLocal8Bit(entryPath.c_str()) + u')';
    return QStringLiteral("Não foi possível criar a entrada de arranque automático") + where
           + QStringLiteral(". A alteração fica agendada, mas só será executada se este programa estiver aberto à "
                            "hora marcada: depois de terminar a sessão ou reiniciar o computador, o agendamento não "
                            "será retomado automaticamente.");
}

}  // namespace

QString TChangeSession::DoubtImages(const QString& runId, const QString& changeId) const
{
    // The run's images may tell whether its commit happened: the change's own, also for its
    // undo, which writes none.
    const std::optional<TRecordedRun> change = RecordedRun(env_.settingsFile, changeId.isEmpty() ? runId : changeId);
    if (!change || !RecordedRun(env_.settingsFile, runId))
        return QString();
    const QString images = ChangeImagePath(change->path, change->id);
    return QFileInfo::exists(images) ? images : QString();
}

TResumption TChangeSession::Resume()
{
    // A run whose process was killed left its record open: closed now, so that the record
    // tells it apart from one that ended.
    CloseInterruptedRuns(env_.settingsFile, env_.clock());

    TResumption found;
    const QString& path = env_.settingsFile;
    if (!QFile::exists(path))
        return found;
    guard_ = std::make_unique<TScheduleGuard>(path, QString(), env_.clock);
    TScheduleGuard::TStart start = guard_->Inspect();
    // A run in doubt whose images are kept is settled at the first check, from the database.
    if (start == TScheduleGuard::TStart::InDoubt
        && !DoubtImages(guard_->RunId(), ReadSettingsFile(path, env_.clock()).changeId).isEmpty())
        start = TScheduleGuard::TStart::Pending;
    // Temporary rates whose change was made, the process ending before the schedule said so:
    // it goes on to its second stage.
    if (start == TScheduleGuard::TStart::CompletedLeftover && QFile::exists(path) && !guard_->RunId().isEmpty()) {
        const TSchedule stored = ReadSettingsFile(path, env_.clock());
        if (stored.refusal.isEmpty() && stored.revertAt.isValid() && stored.changeId.isEmpty()) {
            scheduled_ = stored.request;
            connectionString_ = stored.connectionString;
            revertAt_ = stored.revertAt;
            AdvanceToRevert(guard_->RunId());
            if (!changeId_.isEmpty())
                start = TScheduleGuard::TStart::Pending;
        }
    }
    switch (start) {
    case TScheduleGuard::TStart::Pending: {
        // Judged as stored, before a control could cut or change a value; no question is
        // asked again.
        TSchedule schedule = ReadSettingsFile(path, env_.clock());
        // The statements are those of the kind stored: another application installed here
        // would be sent statements for a database it does not have. None found is no
        // contradiction: started from another folder, the login fails and is tried again.
        const TAppKind installed = ProbeInstalledApp(QDir::currentPath());
        if (schedule.refusal.isEmpty() && installed != TAppKind::None && installed != schedule.request.app)
            schedule.refusal = QStringLiteral("APLICACAO '%1' não é a aplicação instalada nesta pasta (%2).")
                                   .arg(AppName(schedule.request.app), AppName(installed));
        if (!schedule.refusal.isEmpty()) {
            guard_.reset();
            found.kind = TResumption::Refused;
            found.text = RefusedText(schedule.refusal, path);
            return found;
        }
        scheduled_ = schedule.request;
        revertAt_ = schedule.revertAt;
        changeId_ = schedule.changeId;
        connectionString_ = schedule.connectionString;
        // Nothing runs on the database thread yet: the connection is this thread's to set.
        db_.Connection().setConnectionString(schedule.connectionString);
        detectedApp_ = schedule.request.app;
        failureReported_ = false;
        SetState(TSessionState::Waiting);
        found.kind = TResumption::Pending;
        found.request = scheduled_;
        return found;
    }
    case TScheduleGuard::TStart::InDoubt:
        found.kind = TResumption::InDoubt;
        found.text = DropInDoubtSchedule();
        return found;
    case TScheduleGuard::TStart::CompletedLeftover:
        // A file whose change was made but which could not be deleted: only tidy up.
        RemoveSchedule();
        found.kind = TResumption::Leftover;
        return found;
    }
    return found;
}

QString TChangeSession::Schedule(const TChangeRequest& request, const QDateTime& revertAt)
{
    if (Busy() || (state_ != TSessionState::Idle && state_ != TSessionState::Waiting))
        return {};
    if (const QString refusal = RevertRefusal(request, revertAt); !refusal.isEmpty())
        throw TTaxasError(refusal);
    const QString& path = env_.settingsFile;
    const QString connection = ConnectionStringFor(request.app);
    WriteSettingsFile(path, request, connection, QLocale::system(), revertAt);
    guard_ = std::make_unique<TScheduleGuard>(path, QString(), env_.clock);
    guard_->NewSchedule();
    scheduled_ = request;
    connectionString_ = connection;
    revertAt_ = revertAt;
    changeId_.clear();
    failureReported_ = false;
    const bool entryMade =
        CreateShellShortcut(kStartupFolder, kEntryName, QFile::encodeName(env_.executablePath).toStdString());
    SetState(TSessionState::Waiting);
    return entryMade ? QString() : NoEntryText(ShellShortcutPath(kStartupFolder, kEntryName));
}

QString TChangeSession::RevertRefusal(const TChangeRequest& request, const QDateTime& revertAt) const
{
    if (!revertAt.isValid())
        return {};
    if (revertAt <= request.moment)
        return QStringLiteral("A data e hora em que as taxas anteriores são repostas tem de ser posterior à da "
                              "alteração.");
    if (!productKey_)
        return QStringLiteral("A tabela de produtos não tem chave (nem chave primária, nem índice único sem valores "
                              "nulos): a alteração não poderá ser desfeita pelo programa, e as taxas anteriores não "
                              "podem ser repostas automaticamente.");
    return {};
}

void TChangeSession::ScheduleTick()
{
    if (state_ != TSessionState::Waiting || stopped_)
        return;
    // Off first: nothing below may be entered twice, whatever it waits for.
    agenda_.stop();
    const QDateTime now = env_.clock();
    const QDateTime due = Reverting() ? revertAt_ : scheduled_.moment;
    if (now < due || (nextAttempt_.isValid() && now < nextAttempt_)) {
        agenda_.start();
        return;
    }

    TScheduleGuard::TClaim claim = TScheduleGuard::TClaim::Busy;
    try {
        claim = guard_->Claim();
    } catch (...) {
        // A settings file or lock out of reach for a moment (a backup or an antivirus holding
        // it) is tried again at the next tick.
        RetryLater(OperatorText(std::current_exception()), false);
        return;
    }
    switch (claim) {
    case TScheduleGuard::TClaim::Busy:
    case TScheduleGuard::TClaim::AlreadyDone:
        // Another process makes (or made) this change, or the schedule was replaced.
        guard_.reset();
        SetState(TSessionState::Finished);
        emit ScheduleEnded(TScheduleEnd::TakenElsewhere, QString());
        return;
    case TScheduleGuard::TClaim::InDoubt: {
        const std::optional<TRecordedRun> run = RecordedRun(env_.settingsFile, guard_->RunId());
        const QString images = DoubtImages(guard_->RunId(), changeId_);
        if (run && !images.isEmpty()) {
            SettleDoubt(*run, images);
            return;
        }
        EndInDoubt();
        return;
    }
    case TScheduleGuard::TClaim::LockUnreadable:
        // Most likely left by a power cut while it was written; waited for until it is old
        // enough to be taken over, and the wait page says until when.
        RetryLater(guard_->unreadableLock().text, false);
        return;
    case TScheduleGuard::TClaim::Acquired:
        break;
    }
    Attempt();
}

void TChangeSession::Attempt()
{
    SetState(TSessionState::Connecting);
    runKind_ = Reverting() ? TRunKind::ScheduledUndo : TRunKind::Scheduled;
    runRequest_ = scheduled_;
    // A fresh login: the connection detection left may have died during the wait. This one
    // then carries the whole run.
    db_.Post([this, connection = connectionString_](TDbConnection& db) {
        std::optional<QString> failure;
        try {
            db.setConnected(false);
            db.setConnectionString(connection);
            db.setConnected(true);
        } catch (...) {
            failure = OperatorText(std::current_exception());
        }
        Reply([this, failure] { Connected(failure); });
    });
}

void TChangeSession::Connected(const std::optional<QString>& failure)
{
    if (stopped_) {
        guard_->Release();
        SetState(TSessionState::Waiting);
        return;
    }
    if (failure) {
        // Out of reach: put off to the next tick without a box, holding no lock meanwhile.
        guard_->Release();
        RetryLater(*failure, true);
        return;
    }
    StartRun(scheduled_, runKind_, Reverting() ? changeId_ : QString());
}

void TChangeSession::RunDoneScheduled(const TRunEnd& end)
{
    if (end.outcome == TRunOutcome::Committed) {
        failedAttempts_ = 0;
        StageMade(end.runId, end.kind == TRunKind::ScheduledUndo);
        return;
    }
    // Rolled back, so the schedule stays whole and is tried again at each tick: a lock held by
    // a backup at the chosen minute must not mean the change never happens. The operator is
    // told once; the box does not hold the retries up.
    guard_->Release();
    RetryLater(end.errorText, true);
    if (!failureReported_ && !stopped_) {
        failureReported_ = true;
        emit Failed(end.errorText);
    }
}

void TChangeSession::RetryLater(const QString& reason, bool backOff)
{
    SetState(TSessionState::Waiting);
    if (stopped_)
        return;
    const QDateTime now = env_.clock();
    QDateTime next;
    if (backOff) {
        ++failedAttempts_;
        next = now.addSecs(60 * kRetryMinutes[qMin<int>(failedAttempts_, std::size(kRetryMinutes)) - 1]);
        nextAttempt_ = next;
    }
    agenda_.start();
    emit AttemptFailed(now, reason, next);
}

void TChangeSession::EndRepeats()
{
    RecordRepeats(repeats_.logPath, repeats_.firstId, repeats_.count, repeats_.last);
    repeats_ = TRepeats();
}

QString TChangeSession::DropInDoubtSchedule()
{
    // Kept, the schedule would bring this same warning at every log-on and could never be
    // run safely. Without its copy it stays whole, and the next start warns again.
    const QString copy = env_.settingsFile + QStringLiteral(".duvida");
    const bool copied = KeepInDoubtCopy(env_.settingsFile);
    QString text = kInDoubtText;
    if (copied) {
        text += QStringLiteral(" A alteração agendada ficou guardada em ") + Native(copy) + u'.';
        RemoveSchedule();
    } else {
        guard_.reset();
    }
    return text;
}

void TChangeSession::RemoveSchedule()
{
    RemoveSettingsFile(env_.settingsFile);
    DeleteShellShortcut(kStartupFolder, kEntryName);
    if (guard_)
        guard_->Finish();
    guard_.reset();
}

void TChangeSession::AdvanceToRevert(const QString& changeId)
{
    // The guard's "done" for the first stage stays until the file names the change: a process
    // ended in between finds it and comes back here, never to the change a second time.
    try {
        WriteSettingsFile(env_.settingsFile, scheduled_, connectionString_, QLocale::system(), revertAt_, changeId);
    } catch (const TTaxasError& e) {
        guard_.reset();
        SetState(TSessionState::Idle);
        emit ScheduleEnded(TScheduleEnd::InDoubt,
                           QStringLiteral("A alteração agendada foi efectuada, mas ") + e.text()
                               + QStringLiteral(": as taxas anteriores não serão repostas automaticamente. Pode "
                                                "desfazer a alteração na página das taxas."));
        return;
    }
    guard_ = std::make_unique<TScheduleGuard>(env_.settingsFile, QString(), env_.clock);
    guard_->NewSchedule();
    changeId_ = changeId;
    nextAttempt_ = QDateTime();
    SetState(TSessionState::Waiting);
    agenda_.start();
    emit ScheduleAdvanced();
}

void TChangeSession::SettleDoubt(const TRecordedRun& run, const QString& images)
{
    SetState(TSessionState::Connecting);
    db_.Post([this, run, images, undo = Reverting(), connection = connectionString_](TDbConnection& db) {
        std::optional<int> match;
        QString error;
        try {
            db.setConnected(false);
            db.setConnectionString(connection);
            match = int(MatchImages(db, TChangeImage(images)));
        } catch (...) {
            error = OperatorText(std::current_exception());
        }
        Reply([this, run, undo, match, error] { DoubtSettled(run, undo, match, error); });
    });
}

void TChangeSession::DoubtSettled(const TRecordedRun& run, bool undo, std::optional<int> match, const QString& error)
{
    if (!match) {
        // The database out of reach: asked again at the next tick, the doubt kept meanwhile.
        RetryLater(error, true);
        return;
    }
    // An undo made leaves the change's before-image; a change made, its after-image.
    const auto found = TImageMatch(*match);
    const bool made = found == (undo ? TImageMatch::Before : TImageMatch::After);
    const bool notMade = found == (undo ? TImageMatch::After : TImageMatch::Before);
    if (!made && !notMade) {
        EndInDoubt();
        return;
    }
    if (!guard_->SettleDoubt(made)) {
        RetryLater(TInstallationLock::BusyText(), false);
        return;
    }
    RecordVerdict(run.path, run.id,
                  made ? QStringLiteral("confirmada (a base de dados tem as taxas e os preços que a execução deixou)")
                       : QStringLiteral("anulada (a base de dados tem as taxas e os preços de antes da execução; a "
                                        "alteração agendada será executada de novo)"),
                  env_.clock());
    if (!made) {
        SetState(TSessionState::Waiting);
        agenda_.start();
        return;
    }
    StageMade(run.id, undo);
}

void TChangeSession::StageMade(const QString& runId, bool undo)
{
    // Temporary rates go on to their second stage; anything else is over.
    if (!undo && revertAt_.isValid()) {
        guard_->Release();
        AdvanceToRevert(runId);
        return;
    }
    RemoveSchedule();
    SetState(TSessionState::Finished);
    emit ScheduleEnded(TScheduleEnd::Done, QString());
}

void TChangeSession::EndInDoubt()
{
    // The program goes on as one without a schedule.
    const QString warning = DropInDoubtSchedule();
    SetState(TSessionState::Idle);
    emit ScheduleEnded(TScheduleEnd::InDoubt, warning);
}
