// A change as the operator sees it run: the progress on the page the run started from, the
// window held meanwhile, "Cancelar" for a change now, and the count of products each row moved
// on the done page. The session runs it; the window only shows it.

#include "Controls.h"
#include "RateCounts.h"
#include "SessionEnd.h"
#include "Tmain.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>

namespace {

// Promises nothing the run may already have made false: past its commit it cannot be stopped.
const QString kCancelQuestion = QStringLiteral(
    "Cancelar a alteração? Se ainda não estiver a ser gravada na base de dados, nada será alterado.");
const QString kCancelled = QStringLiteral("A alteração foi cancelada. Nada foi alterado na base de dados.");
const QString kSimulationCancelled = QStringLiteral("A simulação foi cancelada. Nada foi alterado na base de dados.");
const QString kUndoCancelled = QStringLiteral("A reposição foi cancelada: a alteração não foi desfeita e nada foi "
                                              "alterado na base de dados.");
const QString kSessionEndReason = QStringLiteral("A alterar as taxas de IVA…");

}  // namespace

void Tmain::BuildRunProgress()
{
    progresso = new QWidget(pcontrol->widget(tabexec));
    progresso->setObjectName(QStringLiteral("progresso"));
    lbprogresso = NewLabel(progresso, QStringLiteral("lbprogresso"), QString(), QRect(0, 0, 323, 16));
    barraprogresso = new QProgressBar(progresso);
    barraprogresso->setObjectName(QStringLiteral("barraprogresso"));
    barraprogresso->setGeometry(0, 18, 323, 20);
    barraprogresso->setFormat(QStringLiteral("%v de %m instruções"));
    progresso->hide();

    btcancelar = NewButton(pcontrol->widget(tabexec), QStringLiteral("btcancelar"), QStringLiteral("Cancelar"),
                           QRect(339, 226, 85, 27));
    btcancelar->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    btcancelar->setCursor(Qt::ArrowCursor);
    btcancelar->hide();
    connect(btcancelar, &QPushButton::clicked, this, Handler(&Tmain::btcancelarClick));

    // Under Label11 and over the buttons of the done page, room for three rows.
    lbresumo = NewWrappedLabel(pcontrol->widget(tabconcluido), QStringLiteral("lbresumo"), QString(),
                               QRect(16, 84, 400, 48), Qt::AlignHCenter | Qt::AlignTop);
    QFont bold = lbresumo->font();
    bold.setBold(true);
    lbresumo->setFont(bold);
}

void Tmain::btcancelarClick()
{
    // The run goes on while the operator is asked: nothing is held open waiting for a person.
    if (!dialogs_->Confirm(kCancelQuestion, QStringLiteral("Confirme")))
        return;
    switch (session_->Cancel()) {
    case TCancelAnswer::Stopping:
    case TCancelAnswer::NotRunning:
        break;  // the end of the run says what became of it
    case TCancelAnswer::Committing:
        dialogs_->ShowMessage(QStringLiteral("Já não é possível cancelar: a alteração já estava a ser gravada na "
                                             "base de dados."),
                              QStringLiteral("Aviso"));
        break;
    case TCancelAnswer::Committed:
        dialogs_->ShowMessage(QStringLiteral("Já não é possível cancelar: a alteração já foi efectuada."),
                              QStringLiteral("Aviso"));
        break;
    }
}

void Tmain::SessionStateChanged(TSessionState state)
{
    const bool run = session_->ChangeUnderWay();
    if (run && !runShown_)
        BeginRunDisplay(session_->RunKind());
    else if (!run && runShown_)
        EndRunDisplay();
    if (state == TSessionState::Cancelling || state == TSessionState::Committing)
        btcancelar->setEnabled(false);
    // The window waits on the database, though it answers meanwhile.
    if (session_->Busy())
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void Tmain::BeginRunDisplay(TRunKind kind)
{
    runShown_ = true;
    HoldSessionEnd(winId(), kSessionEndReason);
    QWidget* page = pcontrol->widget(IsScheduled(kind) ? tabwait : tabexec);
    // An undo asked for on the done page shows its progress where a change now does.
    if (kind == TRunKind::Undo && ActivePage() != tabexec)
        SetActivePage(tabexec);
    lbdesfazer->hide();
    btdesfazerultima->hide();
    progresso->setParent(page);
    if (!IsScheduled(kind)) {
        progresso->setGeometry(8, 210, 323, 40);
        focusBeforeRun_ = focusWidget();
        // The entries stay as typed: nothing on the page can change while the run lasts.
        btcancelar->setEnabled(true);
        btcancelar->show();
        btcancelar->setFocus(Qt::OtherFocusReason);
        for (QWidget* w : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (w == progresso || w == btcancelar || !w->isEnabled())
                continue;
            w->setEnabled(false);
            heldDuringRun_ << w;
        }
        for (QWidget* w : std::initializer_list<QWidget*>{BitBtn1, btsimular, btalterar, BitBtn2})
            w->hide();
    } else {
        progresso->setGeometry(55, 210, 323, 40);
    }
    lbprogresso->setText(IsUndo(kind) ? QStringLiteral("A desfazer a alteração…")
                                      : QStringLiteral("A preparar a alteração…"));
    barraprogresso->setFormat(IsUndo(kind) ? QStringLiteral("%v de %m produtos") : QStringLiteral("%v de %m instruções"));
    barraprogresso->setRange(0, 1);
    barraprogresso->setValue(0);
    progresso->show();
}

void Tmain::EndRunDisplay()
{
    runShown_ = false;
    ReleaseSessionEnd(winId());
    progresso->hide();
    if (btcancelar->isVisible() || !heldDuringRun_.isEmpty()) {
        btcancelar->hide();
        for (QWidget* w : std::initializer_list<QWidget*>{BitBtn1, btsimular, btalterar, BitBtn2})
            w->show();
        for (QWidget* w : heldDuringRun_)
            w->setEnabled(true);
        heldDuringRun_.clear();
        if (focusBeforeRun_)
            focusBeforeRun_->setFocus(Qt::OtherFocusReason);
        ShowUndoable();
    }
}

void Tmain::ShowRunProgress(int done, int total)
{
    if (!runShown_)
        return;
    barraprogresso->setMaximum(qMax(total, 1));
    if (done >= 0)
        barraprogresso->setValue(done);
}

void Tmain::ShowRunRow(int row)
{
    if (!runShown_)
        return;
    lbprogresso->setText(RowPlaceText(session_->RunRequest(), row));
}

void Tmain::SessionRunEnded(const TRunEnd& end)
{
    switch (end.outcome) {
    case TRunOutcome::Committed:
        if (IsUndo(end.kind)) {
            SessionUndoEnded(end);
            break;
        }
        ShowRunSummary(session_->RunRequest(), end.moved);
        lastChangeId_ = end.runId;
        ShowUndoable();
        SetActivePage(tabconcluido);
        break;
    case TRunOutcome::Cancelled:
    case TRunOutcome::Interrupted:
        // Rolled back whole: the page is as it was typed.
        dialogs_->ShowMessage(end.kind == TRunKind::Simulation ? kSimulationCancelled
                              : IsUndo(end.kind)               ? kUndoCancelled
                                                               : kCancelled,
                              QStringLiteral("Aviso"));
        break;
    case TRunOutcome::RolledBack:
        ReportError(end.inDoubt ? InDoubtText(end) : end.errorText);
        break;
    case TRunOutcome::Simulated:
        break;  // a simulation's end has a page of its own
    }
}

void Tmain::ShowRunSummary(const TChangeRequest& request, const std::array<qint64, 3>& moved)
{
    QStringList lines;
    for (int i = 0; i < 3; ++i) {
        if (!request.rows[i].enabled)
            continue;
        lines << MovedRowText(request.rows[i], moved[i]);
    }
    lbresumo->setText(lines.join(u'\n'));
}
