// The schedule page and the wait page: the moment chosen for a checked request, and the wait
// for it, which the session keeps; the window shows how it goes and ends with it.

#include "ErrorReport.h"
#include "EventHook.h"
#include "Tmain.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStackedWidget>

namespace {
const QString kWarningTitle = QStringLiteral("Aviso");
}

void Tmain::ConnectScheduleHandlers()
{
    connect(BitBtn3, &QPushButton::clicked, this, Handler(&Tmain::BitBtn3Click));
    connect(oprepor, &QCheckBox::clicked, this, Handler(&Tmain::opreporClick));

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
    // A change that stays, unless the operator asks otherwise.
    oprepor->setChecked(false);
    AdvDateTimePicker2->setEnabled(false);
    AdvDateTimePicker2->setDateTime(AdvDateTimePicker1->dateTime().addDays(1));
}

void Tmain::opreporClick()
{
    AdvDateTimePicker2->setEnabled(oprepor->isChecked());
    if (oprepor->isChecked())
        AdvDateTimePicker2->setFocus();
}

void Tmain::BitBtn3Click()
{
    const TChangeRequest request = RequestFromControls();
    const QDateTime revertAt = oprepor->isChecked() ? AdvDateTimePicker2->dateTime() : QDateTime();
    if (const QString refusal = session_->RevertRefusal(request, revertAt); !refusal.isEmpty()) {
        dialogs_->ShowMessage(refusal, kWarningTitle);
        AdvDateTimePicker2->setFocus();
        return;
    }
    const QString warning = session_->Schedule(request, revertAt);
    ultimafalha->clear();
    if (!warning.isEmpty())
        dialogs_->ShowMessage(warning, kWarningTitle);
    SetActivePage(tabwait);
}

void Tmain::tabwaitShow()
{
    ShowWaitMoment();
    AgendaTimer();
}

void Tmain::ShowWaitMoment()
{
    const auto when = [](const QDateTime& moment) {
        return QLocale().toString(moment.date(), QLocale::ShortFormat) + QStringLiteral(" às ")
               + QString::number(moment.time().hour()) + u':' + QString::number(moment.time().minute());
    };
    const QDateTime revertAt = session_->RevertMoment();
    if (session_->Reverting())
        Label25->setText(QStringLiteral("Alteração efectuada. Taxas anteriores repostas em ") + when(revertAt));
    else if (revertAt.isValid())
        Label25->setText(QStringLiteral("Alteração agendada para ") + when(session_->ScheduledRequest().moment)
                         + QStringLiteral("; taxas anteriores repostas em ") + when(revertAt));
    else
        Label25->setText(QStringLiteral("Alteração agendada para ") + when(session_->ScheduledRequest().moment));
}

void Tmain::SessionScheduleAdvanced()
{
    // The first stage made: the wait goes on, for the second.
    dialogs_->DismissAll();
    ultimafalha->clear();
    ShowWaitMoment();
}

void Tmain::AgendaTimer()
{
    session_->ScheduleTick();
}

void Tmain::SessionAttemptFailed(const QDateTime& when, const QString& reason, const QDateTime& next)
{
    // The retries make no sound, but an operator who looks sees why the change has not
    // happened yet, and when it is tried again.
    QString text = QStringLiteral("A última tentativa, em %1 às %2, falhou: %3")
                       .arg(QLocale().toString(when.date(), QLocale::ShortFormat),
                            when.toString(QStringLiteral("HH:mm")), ErrorReportText(reason));
    if (next.isValid())
        text += QStringLiteral(" Nova tentativa às ") + next.toString(QStringLiteral("HH:mm")) + u'.';
    ultimafalha->setText(text);
    ultimafalha->setToolTip(ultimafalha->text());
}

void Tmain::SessionScheduleEnded(TScheduleEnd end, const QString& warning)
{
    switch (end) {
    case TScheduleEnd::Done:
    case TScheduleEnd::TakenElsewhere:
        // A failure report still open from an earlier attempt goes with the window.
        dialogs_->DismissAll();
        close();
        return;
    case TScheduleEnd::InDoubt:
        dialogs_->ShowMessage(warning, kWarningTitle);
        // The program goes on as one without a schedule, from where the operator can make the
        // change by hand: the rate entry page when the installation was opened here, else its
        // detection.
        SetActivePage(session_->InstallationOpened() ? tabexec : tabsoftware);
        return;
    }
}

void Tmain::ResumeSchedule()
{
    const TResumption found = session_->Resume();
    switch (found.kind) {
    case TResumption::None:
    case TResumption::Leftover:
        return;
    case TResumption::Pending:
        LoadRequest(found.request);
        SetActivePage(tabwait);
        return;
    case TResumption::Refused:
    case TResumption::InDoubt:
        dialogs_->ShowMessage(found.text, kWarningTitle);
        return;
    }
}
