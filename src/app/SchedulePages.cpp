// The schedule page, the wait page and the run that waits behind it: a checked request is
// kept in the settings file with a start-up entry, and carried out unattended, once, when its
// moment comes, by this process or by the one the start-up entry starts.

#include "ChangeRun.h"
#include "Detection.h"
#include "ErrorReport.h"
#include "EventHook.h"
#include "ScheduleGuard.h"
#include "SettingsFile.h"
#include "ShellShortcut.h"
#include "Tmain.h"

#include <QDateTimeEdit>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStackedWidget>

namespace {

const char kEntryName[] = "Qorvanta";

// Nothing tells whether the interrupted commit reached the database, and running the change
// again could divide and multiply the prices a second time: the operator has to look.
const QString kInDoubtText = QStringLiteral(
    "Uma execução anterior da alteração agendada foi interrompida enquanto a alteração era gravada na base "
    "de dados. Não é possível saber se as taxas de IVA e os preços foram alterados, pelo que a alteração "
    "agendada não será executada. Verifique manualmente as taxas e os preços na aplicação.");
const QString kWarningTitle = QStringLiteral("Aviso");

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// A stored schedule that the window could not have confirmed: it is not run, and what is on
// disk stays for the operator to mend or remove.
QString RefusedText(const QString& reason, const QString& settingsFile)
{
    return reason + QStringLiteral("\n\nA alteração agendada em ") + Native(settingsFile)
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

void Tmain::ConnectScheduleHandlers()
{
    connect(BitBtn3, &QPushButton::clicked, this, Handler(&Tmain::BitBtn3Click));
    connect(&agenda_, &QTimer::timeout, this, Handler(&Tmain::AgendaTimer));

    QWidget* schedulePage = pcontrol->widget(tabagendar);
    QWidget* waitPage = pcontrol->widget(tabwait);
    auto* shows = new TEventHook(
        QStringLiteral("pageShows"),
        [this, schedulePage, waitPage](QObject* watched, QEvent* event) {
            if (!IsPageShow(event))
                return false;
            if (watched == schedulePage) {
                Guarded([this] { tabagendarShow(); });
            } else if (watched == waitPage) {
                // Once the page is up rather than inside the toolkit's showing of it: the
                // check may run the whole change, report an error or close the window. At
                // start-up this is also what defers the first check to the event loop, so
                // that a window closed by it ends the program.
                QTimer::singleShot(0, this, [this] {
                    if (isVisible() && ActivePage() == tabwait)
                        Guarded([this] { tabwaitShow(); });
                });
            }
            return false;
        },
        this);
    schedulePage->installEventFilter(shows);
    waitPage->installEventFilter(shows);
}

bool Tmain::IsPageShow(const QEvent* event) const
{
    // The platform's own shows (a window un-minimised, mapped again) are not the page
    // becoming the shown one.
    return event->type() == QEvent::Show && !event->spontaneous() && !restoringFromTray_;
}

void Tmain::tabagendarShow()
{
    // Seconds and fractions come along and stay: the operator sets only hours and minutes.
    AdvDateTimePicker1->setDateTime(env_.clock());
}

void Tmain::BitBtn3Click()
{
    const QString& path = env_.settingsFile;
    WriteSettingsFile(path, RequestFromControls(), ConnectionStringFor(detectedApp_));
    guard_ = std::make_unique<TScheduleGuard>(path);
    guard_->NewSchedule();
    runFailureReported_ = false;
    ultimafalha->clear();
    if (!CreateShellShortcut(kStartupFolder, kEntryName, QFile::encodeName(env_.executablePath).toStdString()))
        dialogs_->ShowMessage(NoEntryText(ShellShortcutPath(kStartupFolder, kEntryName)), kWarningTitle);
    SetActivePage(tabwait);
}

void Tmain::tabwaitShow()
{
    const QDateTime moment = AdvDateTimePicker1->dateTime();
    Label25->setText(QStringLiteral("Alteração agendada para ") + QLocale().toString(moment.date(), QLocale::ShortFormat)
                     + QStringLiteral(" às ") + QString::number(moment.time().hour()) + u':'
                     + QString::number(moment.time().minute()));
    AgendaTimer();
}

void Tmain::AgendaTimer()
{
    // A run in progress is this very change (or an immediate one): nothing to check now.
    if (running_)
        return;
    // Off first: nothing below may be entered twice, whatever it waits for.
    agenda_.stop();
    if (env_.clock() < AdvDateTimePicker1->dateTime()) {
        agenda_.start();
        return;
    }

    // Only a page reached without "Confirmar" or a resumed file has no guard yet; with no
    // schedule on disk it finds nothing to claim.
    if (!guard_)
        guard_ = std::make_unique<TScheduleGuard>(env_.settingsFile);
    TScheduleGuard::TClaim claim = TScheduleGuard::TClaim::Busy;
    try {
        claim = guard_->Claim();
    } catch (...) {
        // A settings file or lock out of reach for a moment (a backup or an antivirus holding
        // it) is tried again at the next tick, as a database out of reach is.
        RetryLater(OperatorText(std::current_exception()));
        return;
    }
    switch (claim) {
    case TScheduleGuard::TClaim::Busy:
    case TScheduleGuard::TClaim::AlreadyDone:
        // Another process makes (or made) this change, or the schedule was replaced.
        close();
        return;
    case TScheduleGuard::TClaim::InDoubt:
        DropInDoubtSchedule();
        SetActivePage(tabcondicoes);
        return;
    case TScheduleGuard::TClaim::Acquired:
        break;
    }

    // A fresh connection: the one detection left may have died during the wait. A database
    // out of reach puts the change off to the next tick, without a box.
    try {
        cn_.setConnected(false);
        cn_.setConnected(true);
    } catch (...) {
        guard_->Release();
        RetryLater(OperatorText(std::current_exception()));
        return;
    }

    try {
        TRunHooks hooks;
        hooks.beforeCommit = [this] { guard_->BeforeCommit(); };
        hooks.afterCommit = [this] { guard_->AfterCommit(); };
        hooks.commitRolledBack = [this] { guard_->CommitRolledBack(); };
        RunInBackground(RequestFromControls(), TRunKind::Scheduled, hooks);
    } catch (...) {
        // Rolled back, so the schedule stays whole and is tried again at each tick: a lock
        // held by a backup at the chosen minute must not mean the change never happens. The
        // operator is told once; the box does not hold the retries up.
        guard_->Release();
        RetryLater(OperatorText(std::current_exception()));
        if (runFailureReported_)
            return;
        runFailureReported_ = true;
        throw;
    }

    // A failure report still open from an earlier attempt goes with the window.
    RemoveSchedule();
    close();
}

void Tmain::RetryLater(const QString& reason)
{
    const QDateTime now = env_.clock();
    ultimafalha->setText(QStringLiteral("A última tentativa, em %1 às %2, falhou: %3")
                             .arg(QLocale().toString(now.date(), QLocale::ShortFormat), now.toString(QStringLiteral("HH:mm")),
                                  ErrorReportText(reason)));
    ultimafalha->setToolTip(ultimafalha->text());
    agenda_.start();
}

void Tmain::ResumeSchedule()
{
    const QString& path = env_.settingsFile;
    if (!QFile::exists(path))
        return;
    guard_ = std::make_unique<TScheduleGuard>(path);
    switch (guard_->Inspect()) {
    case TScheduleGuard::TStart::Pending: {
        // Judged as stored, before the controls could cut or change a value; no question is
        // asked again.
        const TSchedule schedule = ReadSettingsFile(path, env_.clock());
        if (!schedule.refusal.isEmpty()) {
            dialogs_->ShowMessage(RefusedText(schedule.refusal, path), kWarningTitle);
            guard_.reset();
            return;
        }
        LoadRequest(schedule.request);
        cn_.setConnectionString(schedule.connectionString);
        SetActivePage(tabwait);
        return;
    }
    case TScheduleGuard::TStart::InDoubt:
        DropInDoubtSchedule();
        return;
    case TScheduleGuard::TStart::CompletedLeftover:
        // A file whose change was made but which could not be deleted: only tidy up.
        RemoveSchedule();
        return;
    }
}

void Tmain::DropInDoubtSchedule()
{
    // Kept, the schedule would bring this same warning at every log-on and could never be
    // run safely. Without its copy it stays whole, and the next start warns again.
    const QString copy = env_.settingsFile + QStringLiteral(".duvida");
    const bool copied = KeepInDoubtCopy(env_.settingsFile);
    QString text = kInDoubtText;
    if (copied)
        text += QStringLiteral(" O pedido agendado ficou guardado em ") + Native(copy) + u'.';
    dialogs_->ShowMessage(text, kWarningTitle);
    if (copied)
        RemoveSchedule();
}

void Tmain::RemoveSchedule()
{
    RemoveSettingsFile(env_.settingsFile);
    DeleteShellShortcut(kStartupFolder, kEntryName);
    if (guard_)
        guard_->Finish();
    guard_.reset();
}
