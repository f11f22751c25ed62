#pragma once
// The program's work on one installation, without a widget: detection, the request check, the
// change made at once or at its scheduled moment, its record, and the schedule that waits for
// it. The window is a view of it: requests come in as calls, and what the operator must see or
// answer goes out as signals. Every database call runs on the session's one database thread,
// so no call here ever waits on the database; a call that does not fit the state (a second
// change while one runs) is refused.
//
// States, and what leads from one to the next:
//   Idle        nothing under way                 Detect: Detecting; an accepted check: Running
//   Detecting   probe, login, configuration read  its end: Idle
//   Checking    the request's look-ups             refused or accepted for a schedule: Idle;
//                                                  accepted for now: Running
//   Running     a change sending its statements    cancelled: Cancelling; commit sent: Committing;
//               (at once, or at its moment)        rolled back: Idle (a schedule: Waiting)
//   Cancelling  the statement in flight stopped    the rollback: Idle
//   Committing  the commit sent: no way back       its end: Idle, or Finished for a schedule
//   Waiting     a schedule waits for its moment    the moment come: Connecting; the schedule
//                                                  dropped or taken elsewhere: Finished
//   Connecting  the scheduled attempt's login      refused: Waiting; logged in: Running
//   Finished    the schedule made, dropped, or     nothing more: the program ends
//               made elsewhere

#include "CheckChangeRequest.h"
#include "ChangeRun.h"
#include "CommitPoint.h"
#include "DbThread.h"
#include "InstallationLock.h"
#include "RateCounts.h"
#include "RunRecord.h"
#include "Simulation.h"
#include "TChangeRequest.h"
#include "Undo.h"

#include <QDateTime>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class TScheduleGuard;

enum class TSessionState { Idle, Detecting, Checking, Running, Cancelling, Committing, Waiting, Connecting, Finished };

// What an accepted check leads to. A simulation asks no confirmation: it keeps nothing.
enum class TCheckPurpose { ChangeNow, Schedule, Simulation };

// What the session takes from the outside world; tests replace each piece.
struct TSessionEnvironment {
    QString settingsFile;                  // Qorvanta.ini, beside which the record is kept too
    QString executablePath;                // what the start-up entry starts
    std::function<QDateTime()> clock;      // the local time
    bool commandLine = false;              // runs asked for on the command line: the record says so
};

struct TDetection {
    TAppKind app;                 // the application found; none after a failed login
    bool connectionFailed = false;
    bool configured = true;       // false: the configuration table has no row
    bool vatIncluded = false;
    bool productKey = true;       // the product table has a key: its changes can be undone
    QString errorText;            // for the error report: the login's or the configuration read's failure
};

// A rule or a look-up that refused the request: its box and where the focus goes.
struct TRefusal {
    QString text;
    QString title;
    TRequestField focus = TRequestField::None;
};

struct TRunEnd {
    TRunKind kind = TRunKind::Immediate;
    TRunOutcome outcome = TRunOutcome::Committed;
    QString errorText;                       // the database's, for a change rolled back
    // The commit was sent and neither returned nor was undone: the outcome RolledBack stands
    // for "not known to be made", and nobody can say what the database kept.
    bool inDoubt = false;
    std::array<qint64, 3> moved{-1, -1, -1}; // products each row moved; -1 not known
    QString runId;                           // its record's id
    // Why a committed change cannot be undone by the program (no key, no room for its
    // images); empty when it can.
    QString notUndoable;
    // A change now rolled back because its images could not be written.
    bool imagesFailed = false;
    TUndoResult undo;                        // what an undo put back
};

// What the operator is told of a run whose commit was sent and never known to end.
QString InDoubtText(const TRunEnd& end);

// The last change that can still be undone: its record's id, when, by whom, its rows.
struct TUndoable {
    QString id;
    QDateTime start;
    QString user;
    QStringList rows;
    QString images;  // the file of its images
    bool valid() const { return !id.isEmpty(); }
};

// What "Cancelar" found.
enum class TCancelAnswer {
    Stopping,    // the change will be rolled back: nothing will be changed
    Committing,  // its commit had begun: it can no longer be stopped
    Committed,   // it had already been made
    NotRunning,  // it had ended without being made
};

// A settings file found at start.
struct TResumption {
    enum Kind {
        None,      // no schedule: a normal start
        Pending,   // resumed: request holds it, the wait goes on
        Refused,   // a stored request the window could not have confirmed: text says why
        InDoubt,   // an earlier run stopped while committing: text warns, the schedule goes
        Leftover,  // its change was already made: only tidied up
    } kind = None;
    TChangeRequest request;
    QString text;
};

// How a waiting schedule ended.
enum class TScheduleEnd {
    Done,            // made by this process: the program ends
    TakenElsewhere,  // another process makes or made it, or the file now holds another schedule
    InDoubt,         // a run elsewhere stopped while committing: the operator was warned, it is dropped
};

class TChangeSession : public QObject {
    Q_OBJECT

public:
    explicit TChangeSession(const TSessionEnvironment& environment, QObject* parent = nullptr);
    // Stops what runs first (see Stop).
    ~TChangeSession() override;

    TSessionState State() const { return state_; }
    // Something under way that another call must not overlap (a question waiting for its
    // answer included).
    bool Busy() const;
    // A change between its first statement and its end: closing now would interrupt it.
    bool ChangeUnderWay() const;
    TRunKind RunKind() const { return runKind_; }
    // The request of the run under way (or the last one).
    const TChangeRequest& RunRequest() const { return runRequest_; }

    // Detection's results, or a resumed schedule's application.
    TAppKind DetectedApp() const { return detectedApp_; }
    bool VatIncluded() const { return vatIncluded_; }
    // Whether a detection logged in to the installation's database in this process.
    bool InstallationOpened() const { return detected_; }

    // Which application is installed in folder, its database and its VAT mode: Probed, then
    // Detected.
    void Detect(const QString& folder);

    // The check shared by the change now and the schedule: the rules on the entered values
    // (Refused), the confirmation (QuestionAsked, then Answer), the look-ups in the rate table
    // (Refused, or Accepted for a schedule; for now, the change runs at once).
    void CheckChangeRequest(const TChangeRequest& request, TCheckPurpose purpose);
    // The operator's answer to the last QuestionAsked.
    void Answer(bool yes);

    // "Cancelar" for a change now or a simulation.
    TCancelAnswer Cancel();

    // The file with every product of the last simulation, old and new values; empty without one.
    QString SimulationFile() const { return simulationFile_; }

    // The newest change the record holds that is not undone yet, when its images are kept
    // (changes are undone newest first). Reads the record each time.
    TUndoable UndoableChange() const;
    // Undoes the change of run id, after the operator's confirmation (QuestionAsked): its rows
    // that still hold what it left get back what it found. RunEnded, its kind Undo.
    void Undo(const QString& id);

    // How many products carry rate, for row (0 to 2) of the rate entry page: ProductsCounted,
    // or nothing at all when it cannot be read. Queued behind whatever the database thread
    // does, and never while a change runs.
    void CountProducts(int row, const QString& rate);
    // The rate table's rates with their products: RatesCounted, or RatesCountFailed.
    void CountRates();

    // At start: closes the record of runs whose process died, and resumes a schedule left in
    // the settings file.
    TResumption Resume();
    // "Confirmar": the settings file, the schedule's guard and the start-up entry. Throws
    // TFileError when the settings file cannot be written (nothing else is done then);
    // returns a warning for the operator when the start-up entry could not be made.
    // revertAt, when valid: temporary rates, the change undone at that later moment (a second
    // stage of the same schedule). Refused (TTaxasError) when the change could not be undone.
    QString Schedule(const TChangeRequest& request, const QDateTime& revertAt = QDateTime());
    // Why revertAt cannot be the second moment of request's schedule; empty when it can.
    QString RevertRefusal(const TChangeRequest& request, const QDateTime& revertAt) const;
    // The check of a waiting schedule: the wait page shown, and every tick of Agenda. The
    // change runs when its moment has come.
    void ScheduleTick();
    // The one-minute timer of the wait; its ticks are the window's to connect.
    QTimer& Agenda() { return agenda_; }
    const TChangeRequest& ScheduledRequest() const { return scheduled_; }
    // Temporary rates: when the rates the change replaced go back; invalid without.
    QDateTime RevertMoment() const { return revertAt_; }
    // The change was made and the schedule now waits to undo it.
    bool Reverting() const { return !changeId_.isEmpty(); }

    // The database connection, for its statement observer: only while nothing is under way.
    TDbConnection& Connection() { return db_.Connection(); }

    // Ends what runs and closes the connection: a change whose commit has not begun is
    // interrupted and rolled back, one committing is waited for; its record says so. Waits
    // for a login or a look-up in progress. No signal is sent from here on.
    void Stop();

signals:
    void StateChanged(TSessionState state);
    void Probed(TAppKind app);
    void Detected(const TDetection& detection);
    void QuestionAsked(const QString& text, const QString& title);
    void Refused(const TRefusal& refusal);
    void Accepted();
    // An error for the top-level report.
    void Failed(const QString& errorText);
    void RunProgress(int done, int total);
    void RowStarted(int row);
    void RunEnded(const TRunEnd& end);
    void SimulationEnded(const TSimulation& simulation);
    // Temporary rates: the change was made, and the schedule now waits for RevertMoment.
    void ScheduleAdvanced();
    void ProductsCounted(int row, const QString& rate, const TProductCount& count);
    void RatesCounted(const QList<TRateCount>& rates);
    // The rates could not be counted: the window shows nothing, the command line says why.
    void RatesCountFailed(const QString& errorText);
    // A scheduled attempt that could not make the change, to be tried again; reason is the
    // driver's or the file's text; next, when valid, is the earliest moment of the next
    // attempt (failures that reach the database are tried again less and less often).
    void AttemptFailed(const QDateTime& when, const QString& reason, const QDateTime& next);
    void ScheduleEnded(TScheduleEnd end, const QString& warning);

private:
    class TRunRelay;
    struct TRunJob;

    void SetState(TSessionState state);
    // Runs f on this object's thread, from the database thread.
    template <typename F>
    void Reply(F f)
    {
        QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
    }

    void LookUp(const TChangeRequest& request, TCheckPurpose purpose);
    // error: the look-ups' failure, when they failed.
    void Checked(const TChangeRequest& request, TCheckPurpose purpose, const TCheckVerdict& verdict,
                 const std::optional<QString>& error, qint64 touched);
    // The folder of the installation's data-link file, whose lock keeps changes one at a time.
    QString InstallationFolder() const;
    // False, having told why, when another process is changing the installation.
    bool LockInstallation(TRunKind kind);
    void StartRun(const TChangeRequest& request, TRunKind kind, const QString& undoes = QString(),
                  bool withoutImages = false);
    // After a run's job, on the database thread: a cancelled connection is dropped.
    void Settle(TDbConnection& db);
    void RunDone(const TRunEnd& end, const TSimulation& simulation = {});
    void RunDoneScheduled(const TRunEnd& end);

    void Attempt();
    // failure: why the login failed, when it did.
    void Connected(const std::optional<QString>& failure);
    // Back to waiting after a check that could not go on. backOff: the attempt reached the
    // database (or tried to), and the next one waits longer.
    void RetryLater(const QString& reason, bool backOff);
    // Scheduled runs refused alike stop repeating: their count goes into the record.
    void EndRepeats();
    QString DropInDoubtSchedule();
    // The first stage of temporary rates made by run changeId: the schedule now waits to undo it.
    void AdvanceToRevert(const QString& changeId);
    // A run in doubt whose images are kept: the database tells whether its commit happened.
    // The images that settle the doubt over runId (the change's, for its undo); empty when
    // there are none to settle it with.
    QString DoubtImages(const QString& runId, const QString& changeId) const;
    // A stage whose commit is known to be made (runId; undo for the second stage).
    void StageMade(const QString& runId, bool undo);
    // A schedule whose run may or may not have been made: dropped, the operator warned.
    void EndInDoubt();
    void SettleDoubt(const TRecordedRun& run, const QString& images);
    void DoubtSettled(const TRecordedRun& run, bool undo, std::optional<int> match, const QString& error);
    void RemoveSchedule();

    TSessionEnvironment env_;
    TDbThread db_;
    TSessionState state_ = TSessionState::Idle;
    bool stopped_ = false;

    TAppKind detectedApp_ = TAppKind::None;
    bool vatIncluded_ = false;
    bool detected_ = false;
    // Whether the product table has a key, without which no change can be undone.
    bool productKey_ = true;
    // The installation's, from detection or from the resumed schedule: what the record names.
    QString connectionString_;

    // The question between its asking and the answer, and what a "Sim" goes on to: the check
    // (askedFor_), a simulation of many products, an undo (askedUndo_), or a change now whose
    // images could not be written, without them.
    enum class TQuestion { None, Check, Simulation, Undo, WithoutImages };
    TQuestion question_ = TQuestion::None;
    TChangeRequest asked_;
    TCheckPurpose askedFor_ = TCheckPurpose::ChangeNow;
    QString askedUndo_;

    // The run under way, or the last one.
    TRunKind runKind_ = TRunKind::Immediate;
    TChangeRequest runRequest_;
    TCommitPoint commitPoint_;
    std::unique_ptr<TRunRecord> record_;
    std::unique_ptr<TRunRelay> relay_;
    std::unique_ptr<TInstallationLock> installationLock_;
    TRunOutcome lastOutcome_ = TRunOutcome::RolledBack;
    QTemporaryDir work_;
    QString simulationFile_;

    // The schedule this process acts on.
    TChangeRequest scheduled_;
    QDateTime revertAt_;  // temporary rates: the second stage's moment
    QString changeId_;    // the first stage's run, once made
    std::unique_ptr<TScheduleGuard> guard_;
    QTimer agenda_;
    // A failed scheduled run is reported once; the retries after it are silent.
    bool failureReported_ = false;
    // Attempts that failed in a row, and the moment before which no other is made.
    int failedAttempts_ = 0;
    QDateTime nextAttempt_;
    // Scheduled runs rolled back with the same words, in a row: the first one's blocks are in
    // the record, the others only counted there once the repetition ends.
    struct TRepeats {
        QString text;
        QString logPath;
        QString firstId;
        int count = 0;
        QDateTime last;
    } repeats_;
};
