// The schedule page, the wait page and the run that waits behind it: a checked request is
// kept in the settings file with a start-up entry, and carried out unattended, once, when its
// moment comes, by this process or by the one the start-up entry starts.

#include "ChangeRun.h"
#include "Detection.h"
#include "EventHook.h"
#include "ScheduleGuard.h"
#include "SettingsFile.h"
#include "ShellShortcut.h"
#include "Tmain.h"

#include <QDateTimeEdit>
#include <QEvent>
#include <QFile>
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
    CreateShellShortcut(kStartupFolder, kEntryName, QFile::encodeName(env_.executablePath).toStdString());
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
    switch (guard_->Claim()) {
    case TScheduleGuard::TClaim::Busy:
    case TScheduleGuard::TClaim::AlreadyDone:
        // Another process makes (or made) this change, or the schedule was replaced.
        close();
        return;
    case TScheduleGuard::TClaim::InDoubt:
        // The timer stays off: the next start tidies the schedule up after the same warning.
        dialogs_->ShowMessage(kInDoubtText, kWarningTitle);
        return;
    case TScheduleGuard::TClaim::Acquired:
        break;
    }

    // A fresh connection: the one detection left may have died during the wait. A database
    // out of reach puts the change off to the next tick, without a word.
    try {
        cn_.setConnected(false);
        cn_.setConnected(true);
    } catch (...) {
        guard_->Release();
        agenda_.start();
        return;
    }

    try {
        TRunHooks hooks;
        hooks.beforeCommit = [this] { guard_->BeforeCommit(); };
        hooks.afterCommit = [this] { guard_->AfterCommit(); };
        RunInBackground(RequestFromControls(), TRunKind::Scheduled, hooks);
    } catch (...) {
        // The run was rolled back, so the file and the entry stay for the next start; this
        // process makes no further attempt.
        guard_->Release();
        throw;
    }

    RemoveSchedule();
    close();
}

void Tmain::ResumeSchedule()
{
    const QString& path = env_.settingsFile;
    if (!QFile::exists(path))
        return;
    guard_ = std::make_unique<TScheduleGuard>(path);
    switch (guard_->Inspect()) {
    case TScheduleGuard::TStart::Pending: {
        const TSchedule schedule = ReadSettingsFile(path, env_.clock());
        LoadRequest(schedule.request);
        cn_.setConnectionString(schedule.connectionString);
        SetActivePage(tabwait);
        return;
    }
    case TScheduleGuard::TStart::InDoubt:
        // Kept, the schedule would bring this same warning at every log-on and could never
        // be run safely: the operator is told once, and it goes.
        dialogs_->ShowMessage(kInDoubtText, kWarningTitle);
        RemoveSchedule();
        return;
    case TScheduleGuard::TStart::CompletedLeftover:
        // A file whose change was made but which could not be deleted: only tidy up.
        RemoveSchedule();
        return;
    }
}

void Tmain::RemoveSchedule()
{
    RemoveSettingsFile(env_.settingsFile);
    DeleteShellShortcut(kStartupFolder, kEntryName);
    if (guard_)
        guard_->Finish();
    guard_.reset();
}
