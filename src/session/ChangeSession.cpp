// The session's detection, check and change: each a job on the database thread whose end comes
// back here as a queued call, so that the state and the signals only ever change on the
// session's own thread.

#include "ChangeSession.h"

#include "Detection.h"
#include "Errors.h"
#include "FileLookup.h"
#include "OleDbString.h"
#include "ScheduleGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <utility>

namespace {

const QString kConfirmation = QStringLiteral("Tem a certeza que deseja alterar as taxas de IVA?");

// Above this many products a simulation is no quick look: the operator is told what it costs.
constexpr qint64 kLargeSimulation = 50000;

// Runs a job's run on the database thread, its end told by what it raised.
void EndOf(TRunEnd& end, TRunOutcome made, const std::function<void()>& run)
{
    try {
        run();
        end.outcome = made;
    } catch (const TDbCancelled&) {
        end.outcome = TRunOutcome::Cancelled;
    } catch (...) {
        end.outcome = TRunOutcome::RolledBack;
        end.errorText = OperatorText(std::current_exception());
    }
}

}  // namespace

QString InDoubtText(const TRunEnd& end)
{
    return (IsUndo(end.kind) ? QStringLiteral("Não é possível saber se a reposição foi gravada na base de dados (")
                             : QStringLiteral("Não é possível saber se a alteração foi gravada na base de dados ("))
           + end.errorText + QStringLiteral("). Verifique à mão as taxas e os preços.");
}

// Hears the run on the database thread: the record takes every statement there and then, the
// progress goes to the session's thread.
class TChangeSession::TRunRelay : public TRunObserver {
public:
    TRunRelay(TChangeSession* session, TRunRecord* record) : session_(session), record_(record) {}

    void TotalChanged(int total) override
    {
        session_->Reply([s = session_, total] { emit s->RunProgress(-1, total); });
    }
    void RowStarted(int row) override
    {
        session_->Reply([s = session_, row] { emit s->RowStarted(row); });
    }
    void StatementDone(const TStatementReport& report) override
    {
        record_->StatementDone(report);
        session_->Reply([s = session_, done = report.done, total = report.total] { emit s->RunProgress(done, total); });
    }
    void RowDone(int row, qint64 productsMoved) override { record_->RowDone(row, productsMoved); }
    void Progress(qint64 done, qint64 total) override
    {
        session_->Reply([s = session_, done, total] { emit s->RunProgress(int(done), int(total)); });
    }

private:
    TChangeSession* session_;
    TRunRecord* record_;
};

TChangeSession::TChangeSession(const TSessionEnvironment& environment, QObject* parent)
    : QObject(parent), env_(environment)
{
    if (!env_.clock)
        env_.clock = [] { return QDateTime::currentDateTime(); };
    agenda_.setObjectName(QStringLiteral("Agenda"));
    agenda_.setInterval(60000);
    // However the event loop ends (the last window closed, the end of the operating system's
    // session), a change under way ends with its rollback or its commit, and its record.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &TChangeSession::Stop);
}

TChangeSession::~TChangeSession()
{
    Stop();
}

bool TChangeSession::Busy() const
{
    switch (state_) {
    case TSessionState::Detecting:
    case TSessionState::Checking:
    case TSessionState::Connecting:
    case TSessionState::Running:
    case TSessionState::Cancelling:
    case TSessionState::Committing:
        return true;
    default:
        return question_ != TQuestion::None;
    }
}

bool TChangeSession::ChangeUnderWay() const
{
    return state_ == TSessionState::Running || state_ == TSessionState::Cancelling
           || state_ == TSessionState::Committing;
}

void TChangeSession::SetState(TSessionState state)
{
    if (state_ == state)
        return;
    state_ = state;
    emit StateChanged(state);
}

void TChangeSession::Detect(const QString& folder)
{
    if (Busy() || state_ != TSessionState::Idle)
        return;
    SetState(TSessionState::Detecting);
    db_.Post([this, folder](TDbConnection& db) {
        TDetection found;
        found.app = ProbeInstalledApp(folder);
        const QString connection = ConnectionStringFor(found.app);
        Reply([this, app = found.app, connection] {
            connectionString_ = connection;
            emit Probed(app);
        });
        // Also for no application: the failing login is what tells the operator.
        try {
            db.setConnected(false);
            db.setConnectionString(connection);
            db.setConnected(true);
        } catch (...) {
            found.connectionFailed = true;
            found.app = TAppKind::None;
            found.errorText = OperatorText(std::current_exception());
        }
        if (!found.connectionFailed) {
            try {
                const TConfiguration configuration = ReadConfiguration(db, found.app);
                found.configured = configuration.configured;
                found.vatIncluded = configuration.vatIncluded;
                found.productKey = !db.RowKey(QStringLiteral("produtos")).isEmpty();
            } catch (...) {
                found.errorText = OperatorText(std::current_exception());
            }
        }
        Reply([this, found] {
            detectedApp_ = found.app;
            vatIncluded_ = found.vatIncluded;
            productKey_ = found.productKey;
            detected_ = !found.connectionFailed;
            SetState(TSessionState::Idle);
            emit Detected(found);
        });
    });
}

void TChangeSession::CheckChangeRequest(const TChangeRequest& request, TCheckPurpose purpose)
{
    if (Busy() || state_ != TSessionState::Idle)
        return;
    const TCheckVerdict form = CheckRequestForm(request);
    // A pasted rate that is not a whole number cannot be compared: an error, not a rule's box.
    if (form.notANumber)
        throw TRequestError(form.text);
    if (!form.accepted) {
        emit Refused({form.text, form.title, form.focus});
        return;
    }
    if (purpose == TCheckPurpose::Simulation) {
        LookUp(request, purpose);
        return;
    }
    // The operator confirms before the rate table is consulted, told first when the change
    // could not be undone.
    question_ = TQuestion::Check;
    asked_ = request;
    askedFor_ = purpose;
    emit QuestionAsked(productKey_ ? kConfirmation
                                   : kConfirmation + QStringLiteral("\n\nA tabela de produtos não tem chave (nem chave "
                                                                    "primária, nem índice único sem valores nulos): "
                                                                    "esta alteração não poderá ser desfeita pelo "
                                                                    "programa."),
                       QStringLiteral("Confirme"));
}

void TChangeSession::Answer(bool yes)
{
    const TQuestion question = std::exchange(question_, TQuestion::None);
    if (!yes)
        return;
    switch (question) {
    case TQuestion::None:
        return;
    case TQuestion::Check:
        LookUp(asked_, askedFor_);
        return;
    case TQuestion::Simulation:
        StartRun(asked_, TRunKind::Simulation);
        return;
    case TQuestion::Undo:
        StartRun(asked_, TRunKind::Undo, askedUndo_);
        return;
    case TQuestion::WithoutImages:
        StartRun(asked_, TRunKind::Immediate, QString(), true);
        return;
    }
}

void TChangeSession::LookUp(const TChangeRequest& request, TCheckPurpose purpose)
{
    SetState(TSessionState::Checking);
    db_.Post([this, request, purpose](TDbConnection& db) {
        TCheckVerdict verdict;
        std::optional<QString> error;
        qint64 touched = 0;
        try {
            verdict = CheckRequestInRateTable(request, db);
            if (verdict.accepted && purpose == TCheckPurpose::Simulation)
                touched = CountTouchedProducts(db, ProductImageLayout(db, request));
        } catch (...) {
            error = OperatorText(std::current_exception());
        }
        Reply([this, request, purpose, verdict, error, touched] { Checked(request, purpose, verdict, error, touched); });
    });
}

void TChangeSession::Checked(const TChangeRequest& request, TCheckPurpose purpose, const TCheckVerdict& verdict,
                             const std::optional<QString>& error, qint64 touched)
{
    // The program ended during the look-ups: nothing is started any more.
    if (stopped_) {
        SetState(TSessionState::Idle);
        return;
    }
    if (error) {
        SetState(TSessionState::Idle);
        emit Failed(*error);
        return;
    }
    if (!verdict.accepted) {
        SetState(TSessionState::Idle);
        emit Refused({verdict.text, verdict.title, verdict.focus});
        return;
    }
    if (purpose == TCheckPurpose::Schedule) {
        SetState(TSessionState::Idle);
        emit Accepted();
        return;
    }
    if (purpose == TCheckPurpose::Simulation && touched > kLargeSimulation) {
        // Its statements are the change's, and so are its time and its locks.
        SetState(TSessionState::Idle);
        question_ = TQuestion::Simulation;
        asked_ = request;
        emit QuestionAsked(QStringLiteral("A simulação abrange %1 produtos: demora tanto como a própria alteração e, "
                                          "até ao fim, pode demorar e bloquear os postos que usam a base de dados. "
                                          "Deseja continuar?")
                               .arg(Thousands(touched)),
                           QStringLiteral("Confirme"));
        return;
    }
    if (purpose == TCheckPurpose::Simulation) {
        StartRun(request, TRunKind::Simulation);
        return;
    }
    StartRun(request, TRunKind::Immediate);
}

QString TChangeSession::InstallationFolder() const
{
    // The data-link file's folder is the installation's, whichever folder the program was
    // started from; a connection named otherwise has only the working folder.
    try {
        const TKeywordList keywords = ParseOleDbConnectionString(connectionString_);
        if (HasKeyword(keywords, QStringLiteral("file name"))) {
            const QString found =
                FindFileIgnoringCase(KeywordValue(keywords, QStringLiteral("file name")), QDir::currentPath());
            if (!found.isEmpty())
                return QFileInfo(found).absolutePath();
        }
    } catch (...) {
    }
    return QDir::currentPath();
}

bool TChangeSession::LockInstallation(TRunKind kind)
{
    installationLock_ = std::make_unique<TInstallationLock>(InstallationFolder());
    if (installationLock_->TryLock(env_.clock()))
        return true;
    installationLock_.reset();
    if (IsScheduled(kind)) {
        guard_->Release();
        RetryLater(TInstallationLock::BusyText(), false);
    } else {
        SetState(TSessionState::Idle);
        emit Refused({TInstallationLock::BusyText(), QStringLiteral("Aviso"), TRequestField::None});
    }
    return false;
}

void TChangeSession::StartRun(const TChangeRequest& request, TRunKind kind, const QString& undoes, bool withoutImages)
{
    if (!LockInstallation(kind))
        return;
    runKind_ = kind;
    runRequest_ = request;
    commitPoint_.Reset();

    TRunStart start;
    start.start = env_.clock();
    start.user = OperatingSystemUser();
    start.computer = ComputerName();
    start.app = request.app;
    start.dataLink = DataLinkFileOf(connectionString_, QDir::currentPath());
    start.kind = kind;
    start.commandLine = env_.commandLine;
    start.request = request;
    start.undoes = undoes;
    // An attempt that only repeats the last one's refusal is counted, not written out again.
    const bool mayRepeat = IsScheduled(kind) && !repeats_.text.isNull();
    record_ = std::make_unique<TRunRecord>(env_.settingsFile, start, QString(),
                                           mayRepeat ? TRunRecord::TStartBlock::Deferred
                                                     : TRunRecord::TStartBlock::Now);
    relay_ = std::make_unique<TRunRelay>(this, record_.get());

    // On the database thread, around the commit. The guard is left alone by this thread while
    // the run lasts.
    TScheduleGuard* guard = IsScheduled(kind) ? guard_.get() : nullptr;
    if (kind == TRunKind::Simulation) {
        SetState(TSessionState::Running);
        simulationFile_.clear();
        db_.Post([this, request, path = work_.filePath(QStringLiteral("simulacao.csv"))](TDbConnection& db) {
            TRunEnd end;
            end.kind = TRunKind::Simulation;
            TSimulation simulation;
            EndOf(end, TRunOutcome::Simulated,
                  [&] { simulation = SimulateChange(db, request, relay_.get(), path); });
            Settle(db);
            Reply([this, end, simulation] { RunDone(end, simulation); });
        });
        return;
    }

    TRunHooks hooks;
    hooks.observer = relay_.get();
    hooks.beforeCommit = [this, guard, runId = record_->id()] {
        commitPoint_.Pass();
        if (guard)
            guard->BeforeCommit(runId);
        Reply([this] {
            if (state_ == TSessionState::Running)
                SetState(TSessionState::Committing);
        });
    };
    hooks.afterCommit = [guard] {
        if (guard)
            guard->AfterCommit();
    };
    hooks.commitRolledBack = [guard] {
        if (guard)
            guard->CommitRolledBack();
    };
    // The record hears of the commit last before it and first after it.
    hooks = record_->AroundCommit(hooks);

    SetState(TSessionState::Running);
    const QString runId = record_->id();
    const QString logPath = record_->path().isEmpty() ? env_.settingsFile : record_->path();
    if (IsUndo(kind)) {
        // Asked for the newest change not undone, which it still is unless a schedule's second
        // stage finds a change made by hand since its first.
        const TUndoable undoable = UndoableChange();
        db_.Post([this, hooks, runId, kind, undoes, images = undoable.id == undoes ? undoable.images : QString(),
                  left = QFileInfo(logPath).absoluteDir().filePath(QStringLiteral("TaxasIVA.%1.deixados.csv").arg(runId))](
                     TDbConnection& db) {
            TRunEnd end;
            end.kind = kind;
            end.runId = runId;
            EndOf(end, TRunOutcome::Committed, [&] {
                if (images.isEmpty())
                    throw TTaxasError(QStringLiteral("A alteração %1 já não pode ser desfeita: foi desfeita, há outra "
                                                     "mais recente que tem de ser desfeita primeiro, ou o ficheiro das "
                                                     "suas imagens já não existe.")
                                          .arg(undoes));
                end.undo = UndoChange(db, TChangeImage(images), hooks, left);
            });
            Settle(db);
            Reply([this, end] { RunDone(end); });
        });
        return;
    }

    const QString imagePath = ChangeImagePath(logPath, runId);
    db_.Post([this, request, kind, hooks, runId, imagePath, withoutImages](TDbConnection& db) {
        TRunEnd end;
        end.kind = kind;
        end.runId = runId;
        // The images are read inside the change's transaction: before its first statement and
        // after its last, ahead of everything the commit waits for.
        TChangeImageWriter images(imagePath, runId, request);
        bool imaged = false;
        auto failed = [&](const QString& why) {
            images.Discard();
            imaged = false;
            end.notUndoable = why;
            // A change now asks whether to go on without them; a schedule goes on.
            if (kind == TRunKind::Immediate) {
                end.imagesFailed = true;
                throw TFileError(why);
            }
        };
        TRunHooks run = hooks;
        if (withoutImages) {
            end.notUndoable = QStringLiteral("o operador decidiu continuar sem as imagens da alteração");
        } else {
            run.afterBegin = [&] {
                try {
                    imaged = images.ReadBefore(db);
                    if (!imaged)
                        end.notUndoable = QStringLiteral("a tabela de produtos não tem chave");
                } catch (const TFileError& e) {
                    failed(e.text());
                }
            };
            run.beforeCommit = [&, commit = hooks.beforeCommit] {
                if (imaged) {
                    try {
                        images.ReadAfter(db);
                    } catch (const TFileError& e) {
                        failed(e.text());
                    }
                }
                if (commit)
                    commit();
            };
        }
        EndOf(end, TRunOutcome::Committed, [&] { RunChange(db, request, kind, run); });
        if (end.outcome != TRunOutcome::Committed)
            images.Discard();
        Settle(db);
        Reply([this, end] { RunDone(end); });
    });
}

TUndoable TChangeSession::UndoableChange() const
{
    static const QRegularExpression rowOf(QStringLiteral("^Linha \\d+: (\\S+% → \\S+%)"));
    const QList<TRecordedRun> runs = ReadRecordedRuns(env_.settingsFile);
    QStringList undone;
    for (const TRecordedRun& run : runs)
        if (!run.undoes.isEmpty() && run.committed())
            undone << run.undoes;
    for (auto it = runs.crbegin(); it != runs.crend(); ++it) {
        const TRecordedRun& run = *it;
        // A simulation is never "confirmada": what is committed and undoes nothing is a change.
        if (!run.undoes.isEmpty() || !run.committed() || undone.contains(run.id))
            continue;
        // The newest change not undone; an earlier one could only be undone after it.
        const QString images = ChangeImagePath(run.path, run.id);
        if (!QFileInfo::exists(images))
            return {};
        TUndoable undoable{run.id, QDateTime::fromString(run.start, QStringLiteral("yyyy-MM-dd HH:mm:ss")), run.user,
                           {}, images};
        for (const QString& line : run.rows)
            if (const auto m = rowOf.match(line); m.hasMatch())
                undoable.rows << m.captured(1);
        return undoable;
    }
    return {};
}

void TChangeSession::Undo(const QString& id)
{
    if (Busy() || state_ != TSessionState::Idle || !detected_)
        return;
    const TUndoable undoable = UndoableChange();
    if (!undoable.valid() || undoable.id != id) {
        emit Refused({QStringLiteral("Esta alteração já não pode ser desfeita: foi desfeita, ou há outra mais recente "
                                     "que tem de ser desfeita primeiro."),
                      QStringLiteral("Aviso"), TRequestField::None});
        return;
    }
    try {
        asked_ = TChangeImage(undoable.images).request();
    } catch (const TTaxasError& e) {
        emit Failed(e.text());
        return;
    }
    question_ = TQuestion::Undo;
    askedUndo_ = id;
    emit QuestionAsked(QStringLiteral("Desfazer a alteração de %1 (%2): %3? Os preços e as taxas voltam a ser os que "
                                      "eram antes dela; os produtos alterados depois dela ficam como estão.")
                           .arg(undoable.start.toString(QStringLiteral("dd/MM/yyyy HH:mm")), undoable.user,
                                undoable.rows.join(QStringLiteral(", "))),
                       QStringLiteral("Confirme"));
}

void TChangeSession::Settle(TDbConnection& db)
{
    // A cancelled connection refuses every later statement: the next job logs in afresh.
    if (!commitPoint_.Cancelled())
        return;
    try {
        db.setConnected(false);
    } catch (...) {
    }
}

void TChangeSession::RunDone(const TRunEnd& ended, const TSimulation& simulation)
{
    TRunEnd end = ended;
    for (int row = 0; row < 3; ++row)
        end.moved[row] = record_ ? record_->productsMoved(row) : -1;
    // What failed after the commit returned did not undo it.
    if (record_)
        end.outcome = record_->Settled(end.outcome, &end.inDoubt);
    // A cancel that came from the end of the program, not from the operator.
    const TRunOutcome recorded =
        stopped_ && end.outcome == TRunOutcome::Cancelled ? TRunOutcome::Interrupted : end.outcome;
    if (IsScheduled(end.kind) && recorded == TRunOutcome::RolledBack && end.errorText == repeats_.text
        && record_->Discard()) {
        ++repeats_.count;
        repeats_.last = env_.clock();
    } else {
        if (IsScheduled(end.kind))
            EndRepeats();
        if (recorded == TRunOutcome::Committed && (end.kind == TRunKind::Immediate || end.kind == TRunKind::Scheduled))
            record_->Note(end.notUndoable.isEmpty()
                              ? QStringLiteral("Imagens para a desfazer: ") + QDir::toNativeSeparators(
                                    ChangeImagePath(record_->path(), record_->id()))
                              : QStringLiteral("Esta alteração não poderá ser desfeita pelo programa: ") + end.notUndoable);
        if (IsUndo(end.kind) && recorded == TRunOutcome::Committed) {
            record_->Note(QStringLiteral("Produtos repostos: %1; deixados como estão: %2").arg(end.undo.productsRestored).arg(end.undo.productsLeft)
                          + (end.undo.leftFile.isEmpty() ? QString() : QStringLiteral(" (") + QDir::toNativeSeparators(end.undo.leftFile) + u')'));
            record_->Note(QStringLiteral("Taxas repostas: %1; deixadas como estão: %2; postos repostos: %3; deixados: %4")
                              .arg(end.undo.ratesRestored).arg(end.undo.ratesLeft).arg(end.undo.terminalsRestored).arg(end.undo.terminalsLeft));
        }
        record_->Finish(recorded, end.errorText, env_.clock());
        if (IsScheduled(end.kind) && recorded == TRunOutcome::RolledBack)
            repeats_ = {end.errorText, record_->path(), record_->id(), 0, QDateTime()};
    }
    record_.reset();
    relay_.reset();
    installationLock_.reset();
    lastOutcome_ = end.outcome;
    if (IsScheduled(end.kind)) {
        RunDoneScheduled(end);
        return;
    }
    SetState(TSessionState::Idle);
    if (end.outcome == TRunOutcome::Simulated) {
        simulationFile_ = simulation.productsFile;
        emit SimulationEnded(simulation);
        return;
    }
    if (end.imagesFailed && !stopped_) {
        // Rolled back whole: nothing is held while the operator decides.
        question_ = TQuestion::WithoutImages;
        asked_ = runRequest_;
        emit QuestionAsked(QStringLiteral("Não foi possível gravar as imagens da alteração, sem as quais ela não "
                                          "poderá ser desfeita pelo programa (%1). Nada foi alterado. Fazer a "
                                          "alteração mesmo assim, sem a poder desfazer?")
                               .arg(end.notUndoable),
                           QStringLiteral("Confirme"));
        return;
    }
    emit RunEnded(end);
}

TCancelAnswer TChangeSession::Cancel()
{
    if (state_ == TSessionState::Cancelling)
        return TCancelAnswer::Stopping;
    if (!ChangeUnderWay() || IsScheduled(runKind_))
        return lastOutcome_ == TRunOutcome::Committed ? TCancelAnswer::Committed : TCancelAnswer::NotRunning;
    if (!commitPoint_.Cancel(db_.Connection()))
        return TCancelAnswer::Committing;
    SetState(TSessionState::Cancelling);
    return TCancelAnswer::Stopping;
}

void TChangeSession::CountProducts(int row, const QString& rate)
{
    if (ChangeUnderWay() || stopped_ || !detected_)
        return;
    db_.Post([this, row, rate, app = detectedApp_](TDbConnection& db) {
        try {
            const TProductCount count = CountProductsAt(db, app, rate);
            Reply([this, row, rate, count] { emit ProductsCounted(row, rate, count); });
        } catch (...) {
            // A count is a courtesy: one that cannot be read shows nothing.
        }
    });
}

void TChangeSession::CountRates()
{
    if (ChangeUnderWay() || stopped_ || !detected_)
        return;
    db_.Post([this, app = detectedApp_](TDbConnection& db) {
        try {
            const QList<TRateCount> rates = ::CountRates(db, app);
            Reply([this, rates] { emit RatesCounted(rates); });
        } catch (...) {
            Reply([this, error = OperatorText(std::current_exception())] { emit RatesCountFailed(error); });
        }
    });
}

void TChangeSession::Stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    // Whatever comes back from here on finds no window to tell.
    blockSignals(true);
    agenda_.stop();
    if (ChangeUnderWay())
        commitPoint_.Cancel(db_.Connection());  // refused once the commit has begun: that one is waited for
    db_.Stop();
    // The run's end, queued by the finished thread: its record gets its last block.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    EndRepeats();
}
