#pragma once
// The program's only window: a header band over six pages shown one at a time, a view of the
// session that does the work. Every handler is named after its control and event, reads the
// controls, calls the session and shows what the session says; each runs inside Guarded(), so
// no exception ever unwinds through Qt. Which handlers may run while the session is busy is
// decided in Permitted() alone.

#include "ChangeSession.h"
#include "Dialogs.h"
#include "TChangeRequest.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QCompleter;
class QStandardItemModel;
class QCloseEvent;
class QDateTimeEdit;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QMoveEvent;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QSystemTrayIcon;

// The page index of pcontrol.
enum TWizardPage {
    tabcondicoes = 0,
    tabsoftware = 1,
    tabexec = 2,
    tabconcluido = 3,
    tabagendar = 4,
    tabwait = 5,
};

// What the window takes from the outside world; tests replace each piece. An empty or null
// member means the real thing: message boxes, SettingsFilePath(), the executable's own
// path, the system clock, whether the desktop has a notification area, whether that area
// tells a double-click from a click.
struct TmainEnvironment {
    TDialogs* dialogs = nullptr;
    QString settingsFile;
    QString executablePath;
    std::function<QDateTime()> clock;
    std::function<bool()> trayAvailable;
    std::function<bool()> trayTellsDoubleClick;
    // How long the rate entry page waits after the last keystroke before it asks how many
    // products carry the rates typed; negative: it never asks.
    int countPause = 400;
};

class Tmain : public QWidget {
    Q_OBJECT
public:
    explicit Tmain(const TmainEnvironment& environment = {}, QWidget* parent = nullptr);
    ~Tmain() override;

    TChangeSession& Session() { return *session_; }
    // Detection's results (or a resumed schedule's application).
    TAppKind DetectedApp() const { return session_->DetectedApp(); }
    bool VatIncluded() const { return session_->VatIncluded(); }
    // The session's connection and timer, for observers and tests.
    TDbConnection& cn() { return session_->Connection(); }
    QTimer& Agenda() { return session_->Agenda(); }

    int ActivePage() const;
    // Shows the page and gives it the input focus, so that its entry step runs.
    void SetActivePage(TWizardPage page);

    // The request as the rate entry page (and the picker) hold it right now.
    TChangeRequest RequestFromControls() const;
    // Puts a request into the controls in the order a stored schedule is read back; the
    // option rules run on every state change this makes.
    void LoadRequest(const TChangeRequest& request);

    const TmainEnvironment& Environment() const { return env_; }
    TDialogs& Dialogs() { return *dialogs_; }

    // Runs one handler body; anything it throws is shown by the error report.
    void Guarded(const std::function<void()>& body) noexcept;

    // True while a change runs: the handlers that could start or change anything refuse.
    bool Running() const { return session_->ChangeUnderWay(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    // construction
    void BuildHeader();
    void BuildPages();
    void BuildConditionsPage(QWidget* page);
    void BuildSoftwarePage(QWidget* page);
    void BuildRateEntryPage(QWidget* page);
    void BuildDonePage(QWidget* page);
    void BuildSchedulePage(QWidget* page);
    void BuildWaitPage(QWidget* page);
    void ConnectHandlers();
    void ConnectRateEntryHandlers();
    void BuildTray();
    void ConnectScheduleHandlers();
    void BuildRunProgress();
    void BuildUndoOffer();

    using THandler = void (Tmain::*)();
    // Binds a handler to a signal through the error report, entered only when Permitted.
    std::function<void()> Handler(THandler handler);
    // Whether handler may run in the session's state: while the session is busy, only what
    // starts nothing (the tray, the minimise, the tick the session itself ignores), "Cancelar"
    // during a change now, and leaving while nothing is being changed.
    bool Permitted(THandler handler) const;
    // Connects the session's signals to the window's reactions, each inside Guarded().
    void ConnectSession();

    void btcancelarClick();
    // What the window shows of the session's state: the busy cursor, the run's progress with
    // the page held, the operating system's session end held during a change.
    void SessionStateChanged(TSessionState state);
    void BeginRunDisplay(TRunKind kind);
    void EndRunDisplay();
    void ShowRunProgress(int done, int total);
    void ShowRunRow(int row);
    void ShowRunSummary(const TChangeRequest& request, const std::array<qint64, 3>& moved);

    // handlers
    void FormCreate();
    void btaceitoClick();
    void btnext1Click();
    void CloseClick();
    void btalterarClick();
    void Agendar();
    void PNGButton1Click();
    void BitBtn4Click();
    void EscapePressed();
    void tabsoftwareEnter();
    void tabexecEnter();
    void novaExit();
    void nova2Exit();
    void nova3Exit();
    void opvendaClick();
    void oparredondarClick();
    void btsimularClick();
    // The products that carry the rates typed, after a pause in the typing; the rate table's
    // list with its products on Alt+↓ or F4 in an existing-rate field.
    void anteriorChange();
    void ContagemTimer();
    void anteriorListOpen(QLineEdit* edit);
    void ListaTaxasActivated(const QString& rate);

    // the session's answers
    void SessionProbed(TAppKind app);
    void SessionDetected(const TDetection& detection);
    void SessionQuestion(const QString& text, const QString& title);
    void SessionRefused(const TRefusal& refusal);
    void SessionAccepted();
    void SessionRunEnded(const TRunEnd& end);
    void SessionSimulationEnded(const TSimulation& simulation);
    void SessionProductsCounted(int row, const QString& rate, const TProductCount& count);
    void SessionRatesCounted(const QList<TRateCount>& rates);
    void SessionAttemptFailed(const QDateTime& when, const QString& reason, const QDateTime& next);
    void SessionScheduleEnded(TScheduleEnd end, const QString& warning);
    void SessionScheduleAdvanced();
    void SessionUndoEnded(const TRunEnd& end);

    // The way back: the change just made on the done page, the last one that can still be
    // undone on the rate entry page.
    void btdesfazerClick();
    void btdesfazerultimaClick();
    void ShowUndoable();
    // What the wait page says it waits for.
    void ShowWaitMoment();

    // scheduling, the scheduled run, the tray
    void tabagendarShow();
    void opreporClick();
    void BitBtn3Click();
    void tabwaitShow();
    void AgendaTimer();
    void Button1Click();
    void EventosMinimize();
    void TrayClick();
    void TrayDblClick();
    void Restaurar1Click();

    // The second half of FormCreate: a settings file left by an earlier process.
    void ResumeSchedule();
    void RestoreFromTray();
    // Places the window, its frame counted, in the middle of its screen's available area.
    void CentreOnScreen();
    // Page 4 and page 5 becoming visible; false when the show is the window coming back
    // from the tray, which is no showing of the page.
    bool IsPageShow(const QEvent* event) const;

    void FocusChanged(QWidget* old, QWidget* now);
    int PageOf(const QWidget* widget) const;
    // Key filters of the rate edits and of casas; true discards the key.
    bool anteriorKeyPress(QLineEdit* edit, QKeyEvent* event);
    bool casasKeyPress(QKeyEvent* event);
    QCheckBox* RowBoxOf(const QLineEdit* rateEdit) const;
    void DefaultDescription(QLineEdit* rate, QLineEdit* description);
    void FocusRequestField(TRequestField field);
    void ReportError(const QString& text) noexcept;

    TmainEnvironment env_;
    std::unique_ptr<TDialogs> ownDialogs_;
    TDialogs* dialogs_ = nullptr;
    std::unique_ptr<TChangeSession> session_;

    bool restoringFromTray_ = false;
    bool runShown_ = false;               // the progress is on its page
    QList<QWidget*> heldDuringRun_;       // controls disabled by the run, to give back
    QPointer<QWidget> focusBeforeRun_;
    // Whether the last centring knew the frame the platform puts round the window.
    bool frameCounted_ = false;

    // The last widget of this window that held the focus: focus that leaves for a message
    // box and comes back has not entered a page.
    QPointer<QWidget> lastFocus_;

    // Controls, named as the pages name them; tests reach them by objectName.
    QWidget* header = nullptr;
    QLabel* ivamode = nullptr;
    QStackedWidget* pcontrol = nullptr;

    // page 0
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label12 = nullptr;
    QPushButton* btaceito = nullptr;
    QPushButton* btnaoaceito = nullptr;

    // page 1
    QLabel* Label4 = nullptr;
    QLabel* software = nullptr;
    QLabel* msg1 = nullptr;
    QPushButton* btnext1 = nullptr;
    QPushButton* btsair1 = nullptr;

    // page 2
    QCheckBox* Taxa1 = nullptr;
    QCheckBox* Taxa2 = nullptr;
    QCheckBox* Taxa3 = nullptr;
    QLineEdit* anterior = nullptr;
    QLineEdit* anterior2 = nullptr;
    QLineEdit* anterior3 = nullptr;
    QLineEdit* nova = nullptr;
    QLineEdit* nova2 = nullptr;
    QLineEdit* nova3 = nullptr;
    QLineEdit* descricao = nullptr;
    QLineEdit* descricao2 = nullptr;
    QLineEdit* descricao3 = nullptr;
    QCheckBox* opnovataxa = nullptr;
    QCheckBox* opcompra = nullptr;
    QCheckBox* opvenda = nullptr;
    QCheckBox* oparredondar = nullptr;
    QLabel* lbcasas = nullptr;
    QLineEdit* casas = nullptr;
    QLabel* txtcasas = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* btalterar = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* btsimular = nullptr;
    // the products that carry each row's existing rate, and the rate table's list
    QLabel* contagem[3] = {};
    QTimer* Contagem = nullptr;
    QCompleter* ListaTaxas = nullptr;
    QStandardItemModel* taxas_ = nullptr;
    QPointer<QLineEdit> listaPara_;

    // the run's progress, on page 2 or page 5 as the run is immediate or scheduled
    QWidget* progresso = nullptr;
    QLabel* lbprogresso = nullptr;
    QProgressBar* barraprogresso = nullptr;
    QPushButton* btcancelar = nullptr;

    // page 3
    QLabel* Label11 = nullptr;
    QLabel* lbresumo = nullptr;
    QPushButton* PNGButton1 = nullptr;
    QPushButton* Fechar = nullptr;
    QPushButton* btdesfazer = nullptr;
    QString lastChangeId_;  // the change the done page shows
    // page 2's offer of the last change that can still be undone
    QLabel* lbdesfazer = nullptr;
    QPushButton* btdesfazerultima = nullptr;

    // page 4
    QLabel* Label23 = nullptr;
    QDateTimeEdit* AdvDateTimePicker1 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QCheckBox* oprepor = nullptr;
    QDateTimeEdit* AdvDateTimePicker2 = nullptr;

    // page 5
    QLabel* Image2 = nullptr;
    QLabel* Label24 = nullptr;
    QLabel* Label25 = nullptr;
    QLabel* ultimafalha = nullptr;
    QPushButton* Button1 = nullptr;

    // the notification area
    QObject* Eventos = nullptr;
    QSystemTrayIcon* Tray = nullptr;
    QMenu* Menu = nullptr;
    QAction* Restaurar1 = nullptr;
};
