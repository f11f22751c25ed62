#include "SessionDriver.h"

#include "Arguments.h"
#include "Console.h"
#include "RateCounts.h"
#include "Report.h"
#include "SettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

TSessionEnvironment Environment()
{
    TSessionEnvironment environment;
    environment.settingsFile = SettingsFilePath();
    environment.executablePath = WindowProgramPath();
    environment.commandLine = true;
    return environment;
}

}  // namespace

QString WindowProgramPath()
{
    // With this one's suffix: ".exe" on Windows.
    const QFileInfo self(QCoreApplication::applicationFilePath());
    return self.absolutePath() + QStringLiteral("/taxas-iva")
           + (self.suffix().isEmpty() ? QString() : u'.' + self.suffix());
}

TSessionDriver::TSessionDriver(TReport& report) : report_(report), session_(Environment())
{
    TChangeSession* s = &session_;
    QObject::connect(s, &TChangeSession::Probed, &loop_, [this](TAppKind app) { probed_ = app; });
    QObject::connect(s, &TChangeSession::Detected, &loop_, [this](const TDetection& found) {
        detection_ = found;
        End(kExitDone);
    });
    QObject::connect(s, &TChangeSession::QuestionAsked, &loop_, [this] { session_.Answer(true); });
    QObject::connect(s, &TChangeSession::Refused, &loop_, [this](const TRefusal& refusal) {
        report_.Message(refusal.text);
        End(kExitRefused);
    });
    QObject::connect(s, &TChangeSession::Accepted, &loop_, [this] { End(kExitDone); });
    // Before anything is sent: the check's look-ups, or the images an undo is made from.
    QObject::connect(s, &TChangeSession::Failed, &loop_, [this](const QString& text) {
        if (undoing_) {
            report_.Message(
                QStringLiteral("A alteração não pode ser desfeita; nada foi enviado à base de dados. ") + text);
            End(kExitRefused);
            return;
        }
        report_.Message(QStringLiteral("A consulta da tabela de taxas falhou; nada foi alterado na base de dados. ")
                        + text);
        End(kExitRolledBack);
    });
    QObject::connect(s, &TChangeSession::RowStarted, &loop_, [this](int row) {
        row_ = row;
        ShowProgress();
    });
    QObject::connect(s, &TChangeSession::RunProgress, &loop_, [this](int done, int total) {
        statements_ = qMax(statements_, done);
        total_ = total;
        ShowProgress();
    });
    QObject::connect(s, &TChangeSession::RunEnded, &loop_, [this](const TRunEnd& end) { RunEnded(end); });
    QObject::connect(s, &TChangeSession::SimulationEnded, &loop_, [this](const TSimulation& simulation) {
        ran_ = true;
        simulation_ = simulation;
        End(kExitDone);
    });
    QObject::connect(s, &TChangeSession::RatesCounted, &loop_, [this](const QList<TRateCount>& rates) {
        rates_ = rates;
        End(kExitDone);
    });
    QObject::connect(s, &TChangeSession::RatesCountFailed, &loop_, [this](const QString& text) {
        report_.Message(text);
        End(kExitRolledBack);
    });
    QObject::connect(&interrupts_, &QTimer::timeout, &loop_, [this] { Interrupt(); });
    interrupts_.start(100);
}

int TSessionDriver::Wait()
{
    // A refusal of the rules comes inside the call that asked: nothing left to wait for.
    if (!code_)
        loop_.exec();
    const int code = code_.value_or(kExitInterrupted);
    code_.reset();
    return code;
}

void TSessionDriver::End(int code)
{
    code_ = code;
    loop_.quit();
}

void TSessionDriver::Undo(const QString& id)
{
    undoing_ = true;
    session_.Undo(id);
}

int TSessionDriver::Detect()
{
    session_.Detect(QDir::currentPath());
    if (const int code = Wait())
        return code;
    const QString folder = QDir::toNativeSeparators(QDir::currentPath());
    report_.Set(QStringLiteral("pasta"), folder);
    if (probed_ == TAppKind::None) {
        report_.Message(QStringLiteral("Não foi detectado qualquer software na pasta %1 (nenhuma aplicação %2: o seu "
                                       "ficheiro .udl com o seu ficheiro .ini). Execute este programa na pasta da "
                                       "aplicação ou indique-a com --pasta.")
                            .arg(folder, InstalledKindNames()));
        return kExitNoInstallation;
    }
    if (detection_.connectionFailed) {
        report_.Message(QStringLiteral("Falha na ligação à base de dados: ") + detection_.errorText);
        return kExitNoInstallation;
    }
    report_.Set(QStringLiteral("aplicacao"), AppName(detection_.app));
    report_.Set(QStringLiteral("iva_incluido"), detection_.vatIncluded);
    // The configuration could not be read: the window says so and goes on, prices taken as
    // without VAT.
    if (!detection_.errorText.isEmpty())
        report_.Message(detection_.errorText);
    if (!detection_.configured) {
        report_.Message(QStringLiteral("O programa não foi ainda configurado, por favor entre no programa e execute o "
                                       "procedimento de configuração."));
        return kExitNoInstallation;
    }
    return kExitDone;
}

std::optional<TRecordedRun> TSessionDriver::RecordedRun() const
{
    if (!ran_)
        return std::nullopt;
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString since = created_.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QList<TRecordedRun> runs = ReadRecordedRuns(SettingsFilePath());
    for (auto run = runs.crbegin(); run != runs.crend(); ++run)
        if (run->id.section(u'-', 2, 2) == pid && run->start >= since)
            return *run;
    return std::nullopt;
}

void TSessionDriver::ShowProgress()
{
    const TChangeRequest& request = session_.RunRequest();
    QString text = QStringLiteral("A preparar a alteração…");
    if (row_ >= 0)
        text = RowPlaceText(request, row_);
    if (IsUndo(session_.RunKind()))
        text = QStringLiteral("A desfazer a alteração…");
    if (total_ > 0)
        text += IsUndo(session_.RunKind()) ? QStringLiteral(" (%1 de %2 produtos)").arg(statements_).arg(total_)
                                           : QStringLiteral(" (%1 de %2 instruções)").arg(statements_).arg(total_);
    report_.Progress(text);
}

void TSessionDriver::RunEnded(const TRunEnd& end)
{
    ran_ = true;
    runEnd_ = end;
    const bool simulation = end.kind == TRunKind::Simulation;
    switch (end.outcome) {
    case TRunOutcome::Committed:
    case TRunOutcome::Simulated:
        End(kExitDone);
        return;
    case TRunOutcome::Cancelled:
    case TRunOutcome::Interrupted:
        report_.Message((simulation ? QStringLiteral("A simulação")
                         : IsUndo(end.kind) ? QStringLiteral("A reposição")
                                            : QStringLiteral("A alteração"))
                        + QStringLiteral(" foi cancelada. Nada foi alterado na base de dados."));
        End(kExitInterrupted);
        return;
    case TRunOutcome::RolledBack:
        break;
    }
    if (end.inDoubt) {
        report_.Message(InDoubtText(end));
        End(kExitInDoubt);
        return;
    }
    report_.Message((simulation ? QStringLiteral("A simulação falhou")
                     : IsUndo(end.kind) ? QStringLiteral("A reposição foi anulada")
                                        : QStringLiteral("A alteração foi anulada"))
                    + QStringLiteral(": nada foi alterado na base de dados. ") + end.errorText);
    End(kExitRolledBack);
}

void TSessionDriver::Interrupt()
{
    if (!InterruptRequested() || interrupted_)
        return;
    interrupted_ = true;
    if (!session_.ChangeUnderWay()) {
        report_.Message(QStringLiteral("Interrompido: nada foi enviado à base de dados."));
        End(kExitInterrupted);
        return;
    }
    switch (session_.Cancel()) {
    case TCancelAnswer::Stopping:
    case TCancelAnswer::NotRunning:
        break;  // the run's end says what became of it
    case TCancelAnswer::Committing:
        report_.Message(
            QStringLiteral("Já não é possível cancelar: a alteração já estava a ser gravada na base de dados."));
        break;
    case TCancelAnswer::Committed:
        report_.Message(QStringLiteral("Já não é possível cancelar: a alteração já foi efectuada."));
        break;
    }
}
