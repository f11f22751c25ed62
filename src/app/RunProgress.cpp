// A change as the operator sees it run: the progress on the page the run started from, the
// window held meanwhile, "Cancelar" for an immediate run, the record in TaxasIVA.log, and
// the count of products each row moved on the done page.

#include "BackgroundRun.h"
#include "ChangeRun.h"
#include "Controls.h"
#include "RunRecord.h"
#include "Tmain.h"

#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>

namespace {

const QString kCancelQuestion = QStringLiteral("Cancelar a alteração? Nada será alterado.");

// "1 234": thousands apart by a space, as Portuguese writes them.
QString Thousands(qint64 n)
{
    QString digits = QString::number(n);
    for (int i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u' ');
    return digits;
}

QString RowText(const TRatePair& row)
{
    return row.existing + QStringLiteral("% → ") + row.replacement + u'%';
}

}  // namespace

// The run's thread tells the window through queued calls; the record hears it directly.
class Tmain::TRunRelay : public TRunObserver {
public:
    TRunRelay(Tmain* window, TRunRecord& record) : window_(window), record_(record) {}

    void TotalChanged(int total) override
    {
        post([total](Tmain& w) { w.ShowRunProgress(-1, total); });
    }
    void RowStarted(int row) override
    {
        post([row](Tmain& w) { w.ShowRunRow(row); });
    }
    void StatementDone(const TStatementReport& report) override
    {
        record_.StatementDone(report);
        const int done = report.done;
        const int total = report.total;
        post([done, total](Tmain& w) { w.ShowRunProgress(done, total); });
    }
    void RowDone(int row, qint64 productsMoved) override { record_.RowDone(row, productsMoved); }

private:
    template <typename F>
    void post(F f)
    {
        QPointer<Tmain> window = window_;
        QMetaObject::invokeMethod(
            window_, [window, f] { if (window) f(*window); }, Qt::QueuedConnection);
    }

    Tmain* window_;
    TRunRecord& record_;
};

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
    // Not through Handler: this is the one control that answers while a run lasts.
    connect(btcancelar, &QPushButton::clicked, this, [this] { Guarded([this] { btcancelarClick(); }); });

    lbresumo = NewWrappedLabel(pcontrol->widget(tabconcluido), QStringLiteral("lbresumo"), QString(),
                               QRect(16, 64, 400, 44), Qt::AlignHCenter | Qt::AlignTop);
    QFont bold = lbresumo->font();
    bold.setBold(true);
    lbresumo->setFont(bold);
}

std::array<qint64, 3> Tmain::RunInBackground(const TChangeRequest& request, TRunKind kind, TRunHooks hooks)
{
    TRunStart start;
    start.start = env_.clock();
    start.user = OperatingSystemUser();
    start.computer = ComputerName();
    start.app = request.app;
    start.dataLink = DataLinkFileOf(cn_.connectionString(), QDir::currentPath());
    start.kind = kind;
    start.request = request;
    TRunRecord record(env_.settingsFile, start);

    TBackgroundRun run(cn_.connectionString(), cn_.observer());
    TRunRelay relay(this, record);
    hooks.observer = &relay;
    const std::function<void()> recordCommit = hooks.beforeCommit;
    hooks.beforeCommit = [&run, recordCommit] {
        run.AwaitCommit();
        if (recordCommit)
            recordCommit();
    };

    runRequest_ = request;
    run_ = &run;
    BeginRunDisplay(kind);
    struct TEnd {
        Tmain* w;
        ~TEnd() { w->EndRunDisplay(); }
    } end{this};

    try {
        run.Run([&](TDbConnection& db) { RunChange(db, request, kind, hooks); });
    } catch (const TDbCancelled&) {
        record.Finish(TRunOutcome::Cancelled, QString(), env_.clock());
        throw;
    } catch (const TDbError& e) {
        record.Finish(TRunOutcome::RolledBack, e.text(), env_.clock());
        throw;
    } catch (const TRequestError& e) {
        record.Finish(TRunOutcome::RolledBack, e.text(), env_.clock());
        throw;
    } catch (const std::exception& e) {
        record.Finish(TRunOutcome::RolledBack, QString::fromUtf8(e.what()), env_.clock());
        throw;
    }
    record.Finish(TRunOutcome::Committed, QString(), env_.clock());
    return {record.productsMoved(0), record.productsMoved(1), record.productsMoved(2)};
}

void Tmain::btcancelarClick()
{
    if (!run_)
        return;
    btcancelar->setEnabled(false);
    // The commit waits for the answer, so that "Sim" always finds something to stop.
    run_->HoldCommit();
    // Run() cannot return while the question is open: this handler runs inside its wait.
    const bool yes = dialogs_->Confirm(kCancelQuestion, QStringLiteral("Confirme"));
    if (yes)
        run_->Cancel();
    else
        btcancelar->setEnabled(true);
    run_->ReleaseCommit();
}

void Tmain::BeginRunDisplay(TRunKind kind)
{
    running_ = true;
    QWidget* page = pcontrol->widget(kind == TRunKind::Immediate ? tabexec : tabwait);
    progresso->setParent(page);
    if (kind == TRunKind::Immediate) {
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
        for (QWidget* w : std::initializer_list<QWidget*>{BitBtn1, btalterar, BitBtn2})
            w->hide();
    } else {
        progresso->setGeometry(55, 210, 323, 40);
    }
    lbprogresso->setText(QStringLiteral("A preparar a alteração…"));
    barraprogresso->setRange(0, 1);
    barraprogresso->setValue(0);
    progresso->show();
    setCursor(Qt::BusyCursor);
}

void Tmain::EndRunDisplay()
{
    unsetCursor();
    progresso->hide();
    if (btcancelar->isVisible() || !heldDuringRun_.isEmpty()) {
        btcancelar->hide();
        for (QWidget* w : std::initializer_list<QWidget*>{BitBtn1, btalterar, BitBtn2})
            w->show();
        for (QWidget* w : heldDuringRun_)
            w->setEnabled(true);
        heldDuringRun_.clear();
        if (focusBeforeRun_)
            focusBeforeRun_->setFocus(Qt::OtherFocusReason);
    }
    run_ = nullptr;
    running_ = false;
}

void Tmain::ShowRunProgress(int done, int total)
{
    if (!running_)
        return;
    barraprogresso->setMaximum(qMax(total, 1));
    if (done >= 0)
        barraprogresso->setValue(done);
}

void Tmain::ShowRunRow(int row)
{
    if (!running_)
        return;
    int place = 0;
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        if (!runRequest_.rows[i].enabled)
            continue;
        ++count;
        if (i <= row)
            ++place;
    }
    lbprogresso->setText(QStringLiteral("Linha %1 de %2: ").arg(place).arg(count) + RowText(runRequest_.rows[row]));
}

void Tmain::ShowRunSummary(const TChangeRequest& request, const std::array<qint64, 3>& moved)
{
    QStringList lines;
    for (int i = 0; i < 3; ++i) {
        if (!request.rows[i].enabled)
            continue;
        const QString count = moved[i] < 0 ? QStringLiteral("?") : Thousands(moved[i]);
        lines << RowText(request.rows[i]) + QStringLiteral(": ") + count
                     + (moved[i] == 1 ? QStringLiteral(" produto") : QStringLiteral(" produtos"));
    }
    lbresumo->setText(lines.join(u'\n'));
}
