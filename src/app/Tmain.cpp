#include "Tmain.h"

#include "Controls.h"
#include "ErrorReport.h"
#include "HeaderBand.h"
#include "MessageBoxDialogs.h"
#include "Pictures.h"
#include "SessionEnd.h"
#include "SettingsFile.h"
#include "UiFont.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QLocale>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyle>
#include <QSystemTrayIcon>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

namespace {

constexpr int kClientWidth = 431;
constexpr int kClientHeight = 352;
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

QPushButton* NewCancelButton(QWidget* parent, const QString& name, const QString& text, const QRect& place)
{
    QPushButton* button = NewButton(parent, name, text, place);
    button->setIcon(parent->style()->standardIcon(QStyle::SP_DialogCancelButton));
    return button;
}

QPushButton* NewLargeButton(QWidget* parent, const QString& name, const QString& text, const QRect& place,
                            const QString& picture)
{
    QPushButton* button = NewButton(parent, name, text, place);
    button->setFont(UiFont(11, true));
    button->setIcon(PictureIcon(picture, QSize(32, 32)));
    button->setIconSize(QSize(32, 32));
    return button;
}

}  // namespace

Tmain::Tmain(const TmainEnvironment& environment, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      env_(environment)
{
    if (!env_.dialogs) {
        ownDialogs_ = std::make_unique<TMessageBoxDialogs>(this);
        env_.dialogs = ownDialogs_.get();
    }
    dialogs_ = env_.dialogs;
    if (env_.settingsFile.isEmpty())
        env_.settingsFile = SettingsFilePath();
    if (env_.executablePath.isEmpty())
        env_.executablePath = QCoreApplication::applicationFilePath();
    if (!env_.clock)
        env_.clock = [] { return QDateTime::currentDateTime(); };
    if (!env_.trayAvailable)
        env_.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (!env_.trayTellsDoubleClick)
        // Windows's notification area does. A StatusNotifierItem tray (KDE, GNOME's
        // extension) does not, and which kind an X11 desktop has is not known to the window.
        env_.trayTellsDoubleClick = [] { return QGuiApplication::platformName() == QLatin1String("windows"); };
    session_ = std::make_unique<TChangeSession>(
        TSessionEnvironment{env_.settingsFile, env_.executablePath, env_.clock});

    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Alteração de Taxas de IVA"));
    setFont(UiFont(11));
    setFixedSize(kClientWidth, kClientHeight);
    // The palette's window colour is the platform's button face.
    setAutoFillBackground(true);

    BuildHeader();
    BuildPages();
    BuildRunProgress();
    BuildUndoOffer();
    BuildTray();
    ConnectHandlers();

    // The platform window, made now, tells the frame where the platform knows it before the
    // window is shown (Windows does).
    create();
    CentreOnScreen();

    Guarded([this] { FormCreate(); });
}

Tmain::~Tmain()
{
    // The focus bookkeeping must not see the children die, nor the session's last words reach
    // them.
    disconnect(qApp, nullptr, this, nullptr);
    session_->Stop();
    ReleaseSessionEnd(winId());
}

void Tmain::BuildHeader()
{
    header = new THeaderBand(this);
    header->setObjectName(QStringLiteral("header"));
    header->setGeometry(0, 0, kClientWidth, THeaderBand::kGradientHeight + THeaderBand::kStripHeight);

    QLabel* maker = NewLabel(header, QStringLiteral("lbmarca"), QStringLiteral("Torvesk"), QRect(22, 22, 200, 32),
                             Qt::AlignLeft | Qt::AlignTop);
    maker->setFont(UiFont(27));
    SetTextColour(maker, kWhite);

    auto* logo = new QLabel(header);
    logo->setObjectName(QStringLiteral("Image1"));
    logo->setGeometry(363, 12, 60, 48);
    logo->setPixmap(Picture(QStringLiteral("logo"), QSize(60, 48)));

    QLabel* tool = NewLabel(header, QStringLiteral("lbferramenta"),
                            QStringLiteral("Ferramenta para alteração de taxas de IVA"), QRect(22, 73, 300, 14),
                            Qt::AlignLeft | Qt::AlignTop);
    SetTextColour(tool, kWhite);

    ivamode = NewLabel(header, QStringLiteral("ivamode"), QStringLiteral("IVA incluido"), QRect(339, 73, 90, 14),
                       Qt::AlignLeft | Qt::AlignTop);
    SetTextColour(ivamode, kWhite);
    ivamode->hide();
}

void Tmain::BuildPages()
{
    pcontrol = new QStackedWidget(this);
    pcontrol->setObjectName(QStringLiteral("pcontrol"));
    pcontrol->setGeometry(-1, 87, 435, 267);
    pcontrol->setFrameShape(QFrame::StyledPanel);
    pcontrol->setAutoFillBackground(true);
    pcontrol->raise();

    const std::pair<const char*, void (Tmain::*)(QWidget*)> pages[] = {
        {"tabcondicoes", &Tmain::BuildConditionsPage}, {"tabsoftware", &Tmain::BuildSoftwarePage},
        {"tabexec", &Tmain::BuildRateEntryPage},        {"tabconcluido", &Tmain::BuildDonePage},
        {"tabagendar", &Tmain::BuildSchedulePage},      {"tabwait", &Tmain::BuildWaitPage},
    };
    for (const auto& [name, build] : pages) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(name));
        pcontrol->addWidget(page);
        (this->*build)(page);
    }
}

void Tmain::BuildConditionsPage(QWidget* page)
{
    Label1 = NewWrappedLabel(
        page, QStringLiteral("Label1"),
        QStringLiteral("Este utilitário permite a alteração da taxa de IVA indicada, assim como a substituição "
                       "dessa taxa em todos os produtos.\nA sua utilização incorrecta poderá provocar cálculos "
                       "incorrectos nos preços e nos documentos."),
        QRect(16, 10, 400, 56));
    SetTextColour(Label1, kBlack);
    Label2 = NewWrappedLabel(
        page, QStringLiteral("Label2"),
        QStringLiteral("É da inteira responsabilidade do utilizador a utilização desta ferramenta sem o apoio dos "
                       "técnicos da Torvesk ou de um parceiro autorizado. Não poderão ser imputados à Torvesk ou a "
                       "um parceiro autorizado quaisquer danos resultantes do uso indevido desta aplicação."),
        QRect(16, 74, 400, 70));
    SetTextColour(Label2, kBlack);
    Label3 = NewWrappedLabel(page, QStringLiteral("Label3"),
                             QStringLiteral("Antes de executar esta aplicação deverá efectuar uma cópia de segurança, "
                                            "podendo ser o único meio de reverter as alterações."),
                             QRect(16, 152, 400, 30));
    Label3->setFont(UiFont(11, true));
    SetTextColour(Label3, kRed);
    Label12 = NewLabel(page, QStringLiteral("Label12"), QStringLiteral("v1.1.4"), QRect(350, 244, 70, 14),
                       Qt::AlignRight | Qt::AlignVCenter);

    btaceito = NewButton(page, QStringLiteral("btaceito"), QStringLiteral("Li e aceito as condições"),
                         QRect(16, 204, 170, 27));
    btaceito->setIcon(PictureIcon(QStringLiteral("apply"), QSize(16, 16)));
    btnaoaceito = NewCancelButton(page, QStringLiteral("btnaoaceito"), QStringLiteral("Não concordo"),
                                  QRect(194, 204, 120, 27));
}

void Tmain::BuildSoftwarePage(QWidget* page)
{
    Label4 = NewLabel(page, QStringLiteral("Label4"), QStringLiteral("Software detectado:"), QRect(16, 20, 110, 16));
    software = NewLabel(page, QStringLiteral("software"), QString(), QRect(126, 20, 70, 16),
                        Qt::AlignRight | Qt::AlignVCenter);
    software->setFont(UiFont(11, true));
    msg1 = NewWrappedLabel(page, QStringLiteral("msg1"),
                           QStringLiteral("Não foi detectado qualquer software na pasta da aplicação. Esta ferramenta "
                                          "deve ser colocada na pasta da aplicação que vai sofrer a alteração e ser "
                                          "executada a partir desta pasta."),
                           QRect(16, 50, 400, 46));
    btnext1 = NewButton(page, QStringLiteral("btnext1"), QStringLiteral("Continuar"), QRect(236, 204, 90, 27));
    btnext1->setIcon(PictureIcon(QStringLiteral("apply"), QSize(16, 16)));
    btnext1->hide();
    btsair1 = NewCancelButton(page, QStringLiteral("btsair1"), QStringLiteral("Sair"), QRect(334, 204, 80, 27));
}

void Tmain::BuildDonePage(QWidget* page)
{
    Label11 = NewWrappedLabel(
        page, QStringLiteral("Label11"),
        QStringLiteral("Alteração efectuada com sucesso. Por favor verifique se as taxas e preços se encontram "
                       "correctos e como pretende. Se não estiver correcto deverá entrar na aplicação, repôr a cópia "
                       "de segurança e tentar novamente."),
        QRect(16, 16, 400, 60), Qt::AlignHCenter | Qt::AlignTop);
    SetTextColour(Label11, kBlack);
    // Between the two, the run's summary (lbresumo, made with the run's progress).
    PNGButton1 = NewLargeButton(page, QStringLiteral("PNGButton1"), QStringLiteral("Alterar Outra Taxa"),
                                QRect(36, 144, 175, 50), QStringLiteral("again"));
    Fechar = NewLargeButton(page, QStringLiteral("Fechar"), QStringLiteral("Fechar"), QRect(222, 144, 175, 50),
                            QStringLiteral("close"));
}

void Tmain::BuildSchedulePage(QWidget* page)
{
    Label23 = NewLabel(page, QStringLiteral("Label23"),
                       QStringLiteral("Seleccione a data e hora em que a alteração será executada"),
                       QRect(16, 30, 400, 18));
    Label23->setFont(UiFont(13, true));

    AdvDateTimePicker1 = new QDateTimeEdit(page);
    AdvDateTimePicker1->setObjectName(QStringLiteral("AdvDateTimePicker1"));
    AdvDateTimePicker1->setGeometry(16, 70, 190, 22);
    AdvDateTimePicker1->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat) + QStringLiteral(" HH:mm"));
    AdvDateTimePicker1->setCalendarPopup(true);

    // Temporary rates: the change undone by itself at a later moment.
    oprepor = NewCheckBox(page, QStringLiteral("oprepor"), QStringLiteral("Repor as taxas anteriores em"),
                          QRect(16, 110, 300, 19));
    AdvDateTimePicker2 = new QDateTimeEdit(page);
    AdvDateTimePicker2->setObjectName(QStringLiteral("AdvDateTimePicker2"));
    AdvDateTimePicker2->setGeometry(16, 134, 190, 22);
    AdvDateTimePicker2->setDisplayFormat(AdvDateTimePicker1->displayFormat());
    AdvDateTimePicker2->setCalendarPopup(true);
    AdvDateTimePicker2->setEnabled(false);

    BitBtn4 = NewButton(page, QStringLiteral("BitBtn4"), QStringLiteral("Retroceder"), QRect(16, 204, 100, 27));
    BitBtn4->setIcon(PictureIcon(QStringLiteral("back"), QSize(16, 16)));
    BitBtn3 = NewButton(page, QStringLiteral("BitBtn3"), QStringLiteral("Confirmar"), QRect(314, 204, 100, 27));
    BitBtn3->setIcon(PictureIcon(QStringLiteral("apply"), QSize(16, 16)));
}

void Tmain::BuildWaitPage(QWidget* page)
{
    Image2 = new QLabel(page);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry((433 - 48) / 2, 8, 48, 48);
    Image2->setPixmap(Picture(QStringLiteral("clock"), QSize(48, 48)));

    Label24 = NewLabel(page, QStringLiteral("Label24"), QStringLiteral("Alteração de taxas de IVA agendada com sucesso!"),
                       QRect(16, 64, 400, 18), Qt::AlignHCenter | Qt::AlignVCenter);
    Label24->setFont(UiFont(13, true));
    Label25 = NewWrappedLabel(page, QStringLiteral("Label25"),
                              QStringLiteral("Aviso! Não encerre esta aplicação ou o agendamento não será executado! "
                                             "No fim da execução esta aplicação encerrará automaticamente!"),
                              QRect(16, 92, 400, 44), Qt::AlignHCenter | Qt::AlignTop);
    Label25->setFont(UiFont(11, true));
    SetTextColour(Label25, kRed);
    // Empty until an attempt at the due moment fails: the retries make no sound, but an
    // operator who looks sees why the change has not happened yet.
    ultimafalha = NewWrappedLabel(page, QStringLiteral("ultimafalha"), QString(), QRect(16, 138, 400, 28),
                                  Qt::AlignHCenter | Qt::AlignTop);
    ultimafalha->setFont(UiFont(9));
    Button1 = NewButton(page, QStringLiteral("Button1"), QStringLiteral("Minimizar para a Barra de Tarefas"),
                        QRect(96, 170, 240, 30));
    Button1->setFont(UiFont(11, true));
}

std::function<void()> Tmain::Handler(THandler handler)
{
    return [this, handler] {
        if (Permitted(handler))
            Guarded([this, handler] { (this->*handler)(); });
    };
}

bool Tmain::Permitted(THandler handler) const
{
    // These start nothing: the window goes out of the way and comes back, and the session
    // itself ignores a tick while it is busy.
    for (THandler always : {&Tmain::Button1Click, &Tmain::EventosMinimize, &Tmain::Restaurar1Click, &Tmain::AgendaTimer})
        if (handler == always)
            return true;
    if (handler == &Tmain::btcancelarClick)
        return session_->State() == TSessionState::Running && !IsScheduled(session_->RunKind());
    // Reads only, queued behind whatever the database thread does.
    if (handler == &Tmain::anteriorChange || handler == &Tmain::ContagemTimer)
        return !session_->ChangeUnderWay();
    if (!session_->Busy())
        return true;
    // A login or a look-up changes nothing: the operator may give up waiting for it.
    const bool leaving = handler == &Tmain::CloseClick || handler == &Tmain::EscapePressed;
    return leaving && !session_->ChangeUnderWay();
}

void Tmain::ConnectSession()
{
    TChangeSession* s = session_.get();
    auto guarded = [this](auto reaction) {
        return [this, reaction](auto&&... args) { Guarded([&] { (this->*reaction)(args...); }); };
    };
    connect(s, &TChangeSession::StateChanged, this, guarded(&Tmain::SessionStateChanged));
    connect(s, &TChangeSession::Probed, this, guarded(&Tmain::SessionProbed));
    connect(s, &TChangeSession::Detected, this, guarded(&Tmain::SessionDetected));
    connect(s, &TChangeSession::QuestionAsked, this, guarded(&Tmain::SessionQuestion));
    connect(s, &TChangeSession::Refused, this, guarded(&Tmain::SessionRefused));
    connect(s, &TChangeSession::Accepted, this, guarded(&Tmain::SessionAccepted));
    connect(s, &TChangeSession::Failed, this, [this](const QString& text) { ReportError(text); });
    connect(s, &TChangeSession::RunProgress, this, guarded(&Tmain::ShowRunProgress));
    connect(s, &TChangeSession::RowStarted, this, guarded(&Tmain::ShowRunRow));
    connect(s, &TChangeSession::RunEnded, this, guarded(&Tmain::SessionRunEnded));
    connect(s, &TChangeSession::SimulationEnded, this, guarded(&Tmain::SessionSimulationEnded));
    connect(s, &TChangeSession::ProductsCounted, this, guarded(&Tmain::SessionProductsCounted));
    connect(s, &TChangeSession::RatesCounted, this, guarded(&Tmain::SessionRatesCounted));
    connect(s, &TChangeSession::AttemptFailed, this, guarded(&Tmain::SessionAttemptFailed));
    connect(s, &TChangeSession::ScheduleEnded, this, guarded(&Tmain::SessionScheduleEnded));
    connect(s, &TChangeSession::ScheduleAdvanced, this, guarded(&Tmain::SessionScheduleAdvanced));
    connect(&s->Agenda(), &QTimer::timeout, this, Handler(&Tmain::AgendaTimer));

#if QT_CONFIG(sessionmanager)
    // A log-off or shut-down asked for while a change runs is refused: the change ends by its
    // own commit or rollback.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (session_->ChangeUnderWay())
            manager.cancel();
    });
#endif
}

void Tmain::ConnectHandlers()
{
    connect(btaceito, &QPushButton::clicked, this, Handler(&Tmain::btaceitoClick));
    connect(btnaoaceito, &QPushButton::clicked, this, Handler(&Tmain::CloseClick));
    connect(btnext1, &QPushButton::clicked, this, Handler(&Tmain::btnext1Click));
    connect(btsair1, &QPushButton::clicked, this, Handler(&Tmain::CloseClick));
    connect(BitBtn1, &QPushButton::clicked, this, Handler(&Tmain::Agendar));
    connect(btalterar, &QPushButton::clicked, this, Handler(&Tmain::btalterarClick));
    connect(BitBtn2, &QPushButton::clicked, this, Handler(&Tmain::CloseClick));
    connect(PNGButton1, &QPushButton::clicked, this, Handler(&Tmain::PNGButton1Click));
    connect(Fechar, &QPushButton::clicked, this, Handler(&Tmain::CloseClick));
    connect(BitBtn4, &QPushButton::clicked, this, Handler(&Tmain::BitBtn4Click));
    ConnectRateEntryHandlers();
    ConnectScheduleHandlers();
    ConnectSession();

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setObjectName(QStringLiteral("escape"));
    connect(escape, &QShortcut::activated, this, Handler(&Tmain::EscapePressed));

    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget* old, QWidget* now) { Guarded([&] { FocusChanged(old, now); }); });
}

int Tmain::ActivePage() const
{
    return pcontrol->currentIndex();
}

void Tmain::SetActivePage(TWizardPage page)
{
    // Without this the page container would first hand the focus to some control of the
    // new page (a new-rate edit, say), which would count as leaving that control.
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    pcontrol->setCurrentIndex(page);
    pcontrol->widget(page)->setFocus(Qt::OtherFocusReason);
}

int Tmain::PageOf(const QWidget* widget) const
{
    if (!widget)
        return -1;
    for (int i = 0; i < pcontrol->count(); ++i) {
        const QWidget* page = pcontrol->widget(i);
        if (page == widget || page->isAncestorOf(widget))
            return i;
    }
    return -1;
}

void Tmain::FocusChanged(QWidget*, QWidget* now)
{
    // Focus that goes to a message box (or nowhere) has not left this window's control:
    // it comes back to it when the box closes.
    if (!now || now->window() != this)
        return;
    QWidget* previous = lastFocus_;
    lastFocus_ = now;
    if (previous == now)
        return;

    if (previous == nova)
        novaExit();
    else if (previous == nova2)
        nova2Exit();
    else if (previous == nova3)
        nova3Exit();

    const int entered = PageOf(now);
    if (entered == PageOf(previous))
        return;
    // The entry steps show message boxes and may close the window: they run right after
    // the focus change rather than inside Qt's focus bookkeeping.
    if (entered == tabsoftware)
        QTimer::singleShot(0, this, Handler(&Tmain::tabsoftwareEnter));
    else if (entered == tabexec)
        QTimer::singleShot(0, this, Handler(&Tmain::tabexecEnter));
}

void Tmain::Guarded(const std::function<void()>& body) noexcept
{
    try {
        body();
    } catch (...) {
        ReportError(OperatorText(std::current_exception()));
    }
}

void Tmain::ReportError(const QString& text) noexcept
{
    try {
        dialogs_->ShowMessage(ErrorReportText(text), kAppTitle);
    } catch (...) {
        // Nothing is left to tell the operator with.
    }
}

void Tmain::FormCreate()
{
    SetActivePage(tabcondicoes);
    ResumeSchedule();
}

void Tmain::CentreOnScreen()
{
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frameCounted_ = frame.size() != size();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void Tmain::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    // An X11 window manager puts its frame round the window only once it is shown, and the
    // window moves as it does: the window is centred again, once, with that frame.
    if (!frameCounted_ && frameGeometry().size() != size())
        CentreOnScreen();
}

void Tmain::closeEvent(QCloseEvent* event)
{
    // A change half-way must end by its own commit or rollback; "Cancelar" is the way out.
    if (session_->ChangeUnderWay()) {
        event->ignore();
        Guarded([this] {
            QString text;
            switch (session_->RunKind()) {
            case TRunKind::Immediate:
                text = QStringLiteral("A alteração das taxas de IVA está em curso e a janela não pode ser fechada "
                                      "agora. Aguarde o fim da alteração ou use \"Cancelar\".");
                break;
            case TRunKind::Simulation:
                text = QStringLiteral("A simulação está em curso e a janela não pode ser fechada agora. Aguarde o "
                                      "fim da simulação ou use \"Cancelar\".");
                break;
            case TRunKind::Scheduled:
                text = QStringLiteral("A alteração agendada das taxas de IVA está em curso e a janela não pode ser "
                                      "fechada agora. Aguarde o fim da alteração: o programa termina sozinho.");
                break;
            case TRunKind::Undo:
                text = QStringLiteral("A alteração está a ser desfeita e a janela não pode ser fechada agora. "
                                      "Aguarde o fim ou use \"Cancelar\".");
                break;
            case TRunKind::ScheduledUndo:
                text = QStringLiteral("As taxas anteriores estão a ser repostas e a janela não pode ser fechada "
                                      "agora. Aguarde o fim: o programa termina sozinho.");
                break;
            }
            dialogs_->ShowMessage(text, QStringLiteral("Aviso"));
        });
        return;
    }
    QWidget::closeEvent(event);
    // The platform ends the program when its last visible window closes; a window hidden in
    // the notification area is not visible, and a scheduled run that ends it there must
    // still end the program.
    if (event->isAccepted() && isHidden())
        QCoreApplication::quit();
}

void Tmain::btaceitoClick()
{
    SetActivePage(tabsoftware);
}

void Tmain::btnext1Click()
{
    SetActivePage(tabexec);
}

void Tmain::CloseClick()
{
    close();
}

void Tmain::BitBtn4Click()
{
    SetActivePage(tabexec);
}

void Tmain::EscapePressed()
{
    // Only the first three pages have a cancel button.
    switch (ActivePage()) {
    case tabcondicoes:
        btnaoaceito->click();
        break;
    case tabsoftware:
        btsair1->click();
        break;
    case tabexec:
        BitBtn2->click();
        break;
    default:
        break;
    }
}

void Tmain::PNGButton1Click()
{
    // The row boxes and the decimal places are left alone, so the next change starts from
    // the same rows and the same rounding.
    for (QLineEdit* edit : {anterior, nova, descricao, anterior2, nova2, descricao2, anterior3, nova3, descricao3})
        edit->clear();
    for (QCheckBox* option : {opnovataxa, opcompra, opvenda, oparredondar})
        option->setChecked(false);
    for (QWidget* widget : std::initializer_list<QWidget*>{oparredondar, lbcasas, casas, txtcasas})
        widget->hide();
    SetActivePage(tabexec);
}
