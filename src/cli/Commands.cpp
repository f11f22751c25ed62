#include "Commands.h"

#include "Arguments.h"
#include "Report.h"
#include "SessionDriver.h"
#include "SettingsFile.h"
#include "SimulationReport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace {

const QString kMomentFormat = QStringLiteral("dd/MM/yyyy HH:mm");

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// A settings file found at start, as the window meets it: 0 to go on.
int Resume(TSessionDriver& driver, TReport& report)
{
    const TResumption found = driver.session().Resume();
    switch (found.kind) {
    case TResumption::None:
    case TResumption::Leftover:
        return kExitDone;
    case TResumption::Refused:
        // The window warns and goes on as a start without a schedule.
        report.Message(found.text);
        return kExitDone;
    case TResumption::InDoubt:
        report.Message(found.text);
        return kExitInDoubt;
    case TResumption::Pending:
        // The window resumes the wait and offers nothing else: two changes must not cross.
        report.Message(QStringLiteral("Existe uma alteração agendada para %1 no ficheiro %2, à espera do taxas-iva que "
                                      "a executa: nada foi feito. Veja-a com \"taxas-iva-cli estado\"; para desistir "
                                      "dela, apague esse ficheiro.")
                           .arg(found.request.moment.toString(kMomentFormat), Native(SettingsFilePath())));
        return kExitRefused;
    }
    return kExitDone;
}

QJsonArray RowsJson(const TChangeRequest& request, const std::array<qint64, 3>& moved)
{
    QJsonArray rows;
    for (int i = 0; i < 3; ++i) {
        const TRatePair& row = request.rows[i];
        if (!row.enabled)
            continue;
        QJsonObject object{{"linha", i + 1},
                           {"antiga", row.existing},
                           {"nova", row.replacement},
                           {"descricao", row.description}};
        if (moved[i] >= 0)
            object.insert(QStringLiteral("produtos"), moved[i]);
        rows << object;
    }
    return rows;
}

QJsonObject SimulatedRowJson(const TSimulatedRow& done)
{
    QJsonObject prices, terminals;
    for (const auto& [column, n] : done.prices)
        prices.insert(column, n);
    for (const auto& [key, n] : done.terminals)
        terminals.insert(key, n);
    return {{"taxa_criada", done.rateInserted},       {"taxas_descritas", done.rateDescribed},
            {"taxas_apagadas", done.rateDeleted},     {"apagada_registada", done.deletionRecorded},
            {"produtos_venda", done.saleMoved},       {"produtos_compra", done.purchaseMoved},
            {"outras_taxas", done.otherRatesMoved},   {"precos", prices},
            {"postos", terminals}};
}

// Detection, the price options, then the window's own check for purpose: 0 once accepted
// (for a change now or a simulation: once it has run).
int CheckAndRun(TSessionDriver& driver, TReport& report, TChangeRequest& request, TCheckPurpose purpose)
{
    if (const int code = Resume(driver, report))
        return code;
    if (const int code = driver.Detect())
        return code;
    TChangeSession& session = driver.session();
    // The rate entry page shows the price options only for prices kept with VAT included.
    const TChangeOptions& options = request.options;
    if (!session.VatIncluded() && (options.purchasePrices || options.salePrices || options.roundPrices)) {
        report.Message(QStringLiteral("Os preços desta instalação não incluem IVA: --precos-compra, --precos-venda e "
                                      "--arredondar não se aplicam. Nada foi enviado."));
        return kExitRefused;
    }
    request.app = session.DetectedApp();
    report.Set(QStringLiteral("linhas"), RowsJson(request, {-1, -1, -1}));
    session.CheckChangeRequest(request, purpose);
    return driver.Wait();
}

void RecordedRunTold(const TSessionDriver& driver, TReport& report)
{
    if (const std::optional<TRecordedRun> run = driver.RecordedRun()) {
        report.Set(QStringLiteral("registo"), run->id);
        report.Line(QStringLiteral("Registo: ") + run->id + QStringLiteral(" (TaxasIVA.log)"));
    }
}

}  // namespace

int RunVerify(const TArguments&, TReport& report)
{
    TSessionDriver driver(report);
    if (const int code = driver.Detect())
        return code;
    TChangeSession& session = driver.session();
    session.CountRates();
    if (const int code = driver.Wait())
        return code;
    report.Line(QStringLiteral("Aplicação: ") + AppName(session.DetectedApp()));
    report.Line(QStringLiteral("Pasta: ") + Native(QDir::currentPath()));
    report.Line(session.VatIncluded() ? QStringLiteral("Preços: com IVA incluído")
                                      : QStringLiteral("Preços: sem IVA incluído"));
    report.Line(QStringLiteral("Taxas:"));
    QJsonArray rates;
    for (const TRateCount& rate : driver.rates()) {
        report.Line(QStringLiteral("  %1%  %2: %3").arg(rate.rate, rate.description, ProductCountText(rate.products)));
        rates << QJsonObject{{"taxa", rate.rate},
                             {"descricao", rate.description},
                             {"produtos_venda", rate.products.sale},
                             {"produtos_compra", rate.products.purchase}};
    }
    report.Set(QStringLiteral("taxas"), rates);
    return kExitDone;
}

int RunSimulate(const TArguments& arguments, TReport& report)
{
    TChangeRequest request = RequestOf(arguments);
    TSessionDriver driver(report);
    if (const int code = CheckAndRun(driver, report, request, TCheckPurpose::Simulation))
        return code;
    const TSimulation& simulation = driver.simulation();
    const TSimulationReport shown = SimulationReportOf(simulation, request);
    report.Line(QStringLiteral("Simulação efectuada: %1 instruções enviadas e anuladas; nada foi alterado na base de "
                               "dados.")
                    .arg(driver.statements()));
    report.Line();
    report.Line(shown.summary);
    if (!shown.products.isEmpty()) {
        report.Line();
        report.Line(shown.headers.join(QStringLiteral(" | ")));
        for (const QStringList& product : shown.products)
            report.Line(product.join(QStringLiteral(" | ")));
    }
    if (!shown.notes.isEmpty()) {
        report.Line();
        report.Line(shown.notes);
    }
    RecordedRunTold(driver, report);

    QJsonArray rows;
    for (int i = 0; i < 3; ++i) {
        if (!request.rows[i].enabled)
            continue;
        QJsonObject row = SimulatedRowJson(simulation.rows[i]);
        row.insert(QStringLiteral("linha"), i + 1);
        rows << row;
    }
    report.Set(QStringLiteral("simulacao"), QJsonObject{{"linhas", rows},
                                                        {"instrucoes", driver.statements()},
                                                        {"produtos", simulation.products},
                                                        {"resumo", shown.summary},
                                                        {"notas", shown.notes}});
    return kExitDone;
}

int RunChangeNow(const TArguments& arguments, TReport& report)
{
    TChangeRequest request = RequestOf(arguments);
    TSessionDriver driver(report);
    const int code = CheckAndRun(driver, report, request, TCheckPurpose::ChangeNow);
    if (code != kExitDone) {
        RecordedRunTold(driver, report);
        return code;
    }
    const TRunEnd& end = driver.runEnd();
    report.Set(QStringLiteral("linhas"), RowsJson(request, end.moved));
    report.Set(QStringLiteral("instrucoes"), driver.statements());
    report.Line(QStringLiteral("Alteração efectuada com sucesso. Verifique se as taxas e os preços se encontram "
                               "correctos."));
    for (int i = 0; i < 3; ++i) {
        if (!request.rows[i].enabled)
            continue;
        report.Line(MovedRowText(request.rows[i], end.moved[i]));
    }
    RecordedRunTold(driver, report);
    return kExitDone;
}

int RunSchedule(const TArguments& arguments, TReport& report)
{
    TChangeRequest request = RequestOf(arguments);
    request.moment = MomentOf(arguments.value(QStringLiteral("quando")));
    // The start-up entry starts the window program with its own folder as the working one, and
    // the schedule names the data-link file as ".\<App>.UDL": a schedule made for another
    // folder would be tried there, and fail, for ever.
    if (QFileInfo(QDir::currentPath()) != QFileInfo(QCoreApplication::applicationDirPath()))
        throw TArgumentError(QStringLiteral("O agendamento só pode ser feito na pasta da aplicação com os programas "
                                            "nela (%1): é o taxas-iva dessa pasta que executa a alteração agendada, e "
                                            "procura a aplicação na sua própria pasta.")
                                 .arg(Native(QCoreApplication::applicationDirPath())));
    if (!QFileInfo::exists(WindowProgramPath()))
        throw TArgumentError(QStringLiteral("Não foi encontrado o programa %1, que executa a alteração agendada.")
                                 .arg(Native(WindowProgramPath())));
    const QDateTime revertAt =
        arguments.has(QStringLiteral("repor")) ? MomentOf(arguments.value(QStringLiteral("repor")), QStringLiteral("repor"))
                                               : QDateTime();
    TSessionDriver driver(report);
    if (const int code = CheckAndRun(driver, report, request, TCheckPurpose::Schedule))
        return code;
    const QString warning = driver.session().Schedule(request, revertAt);
    if (!warning.isEmpty())
        report.Message(warning);
    if (request.moment <= QDateTime::currentDateTime())
        report.Message(QStringLiteral("A data indicada já passou: a alteração será feita logo que o taxas-iva seja "
                                      "iniciado."));
    report.Line(QStringLiteral("Alteração agendada para %1, no ficheiro %2.")
                    .arg(request.moment.toString(kMomentFormat), Native(SettingsFilePath())));
    report.Set(QStringLiteral("quando"), request.moment.toString(Qt::ISODate));
    if (revertAt.isValid()) {
        report.Line(QStringLiteral("As taxas anteriores serão repostas em %1.").arg(revertAt.toString(kMomentFormat)));
        report.Set(QStringLiteral("repor"), revertAt.toString(Qt::ISODate));
    }
    report.Set(QStringLiteral("ficheiro"), Native(SettingsFilePath()));
    return kExitDone;
}

int RunUndo(const TArguments& arguments, TReport& report)
{
    TSessionDriver driver(report);
    if (const int code = Resume(driver, report))
        return code;
    if (const int code = driver.Detect())
        return code;
    TChangeSession& session = driver.session();
    const TUndoable last = session.UndoableChange();
    const QString asked = arguments.positionals.value(0);
    if (!last.valid() || (!asked.isEmpty() && asked != last.id)) {
        QString text = asked.isEmpty() ? QStringLiteral("Não há nenhuma alteração que possa ser desfeita.")
                                       : QStringLiteral("A alteração %1 não pode ser desfeita: foi desfeita, ou há "
                                                        "outra mais recente que tem de ser desfeita primeiro.")
                                             .arg(asked);
        if (last.valid() && !asked.isEmpty())
            text += QStringLiteral(" A última que pode ser desfeita é %1 (%2).")
                        .arg(last.id, last.start.toString(kMomentFormat));
        report.Message(text);
        return kExitRefused;
    }
    driver.Undo(last.id);
    if (const int code = driver.Wait()) {
        RecordedRunTold(driver, report);
        return code;
    }
    const TUndoResult& undo = driver.runEnd().undo;
    report.Line(QStringLiteral("Alteração %1 desfeita (%2, %3: %4). Produtos repostos: %5.")
                    .arg(last.id, last.start.toString(kMomentFormat), last.user, last.rows.join(QStringLiteral(", ")))
                    .arg(undo.productsRestored));
    if (undo.productsLeft > 0)
        report.Line(QStringLiteral("Produtos alterados ou apagados depois da alteração, deixados como estão: %1 (no "
                                   "ficheiro %2).")
                        .arg(undo.productsLeft)
                        .arg(Native(undo.leftFile)));
    if (undo.ratesLeft > 0)
        report.Line(QStringLiteral("Taxas deixadas como estão (alteradas depois, ou ainda com produtos): %1.")
                        .arg(undo.ratesLeft));
    report.Set(QStringLiteral("desfeita"), last.id);
    report.Set(QStringLiteral("produtos_repostos"), undo.productsRestored);
    report.Set(QStringLiteral("produtos_deixados"), undo.productsLeft);
    report.Set(QStringLiteral("ficheiro_deixados"), undo.leftFile.isEmpty() ? QString() : Native(undo.leftFile));
    report.Set(QStringLiteral("taxas_repostas"), undo.ratesRestored);
    report.Set(QStringLiteral("taxas_deixadas"), undo.ratesLeft);
    RecordedRunTold(driver, report);
    return kExitDone;
}

int RunStatus(const TArguments&, TReport& report)
{
    const QString path = SettingsFilePath();
    if (!QFileInfo::exists(path)) {
        report.Line(QStringLiteral("Nenhuma alteração agendada."));
        report.Set(QStringLiteral("agendamento"), QJsonValue());
    } else {
        const TSchedule schedule = ReadSettingsFile(path, QDateTime::currentDateTime());
        const QStringList lines = RequestLines(schedule.request);
        report.Line(QStringLiteral("Alteração agendada para %1 (%2), no ficheiro %3:")
                        .arg(schedule.request.moment.toString(kMomentFormat), AppName(schedule.request.app),
                             Native(path)));
        for (const QString& line : lines)
            report.Line(QStringLiteral("  ") + line);
        if (schedule.revertAt.isValid())
            report.Line((schedule.changeId.isEmpty() ? QStringLiteral("  Taxas anteriores repostas em %1.")
                                                     : QStringLiteral("  Alteração efectuada (%2); taxas anteriores "
                                                                      "repostas em %1."))
                            .arg(schedule.revertAt.toString(kMomentFormat), schedule.changeId));
        if (!schedule.refusal.isEmpty())
            report.Line(QStringLiteral("  Não será executada: ") + schedule.refusal);
        report.Set(QStringLiteral("agendamento"),
                   QJsonObject{{"quando", schedule.request.moment.toString(Qt::ISODate)},
                               {"aplicacao", AppName(schedule.request.app)},
                               {"ficheiro", Native(path)},
                               {"pedido", QJsonArray::fromStringList(lines)},
                               {"repor", schedule.revertAt.isValid() ? schedule.revertAt.toString(Qt::ISODate) : QString()},
                               {"alteracao", schedule.changeId},
                               {"recusa", schedule.refusal}});
    }

    // The last ten, the newest last, as the record reads.
    QList<TRecordedRun> runs = ReadRecordedRuns(path);
    runs = runs.mid(qMax<qsizetype>(0, runs.size() - 10));
    report.Line();
    report.Line(runs.isEmpty() ? QStringLiteral("Nenhuma execução registada em TaxasIVA.log.")
                               : QStringLiteral("Últimas execuções (TaxasIVA.log):"));
    QJsonArray recorded;
    for (const TRecordedRun& run : runs) {
        const QString result =
            run.result.isEmpty() ? QStringLiteral("sem fim registado (em curso, ou o programa terminou sem o registar)")
                                 : run.result;
        report.Line(QStringLiteral("  %1  %2  %3: %4").arg(run.id, run.start, run.kind, result));
        for (const QString& row : run.rows)
            report.Line(QStringLiteral("    ") + row);
        recorded << QJsonObject{{"id", run.id},
                                {"inicio", run.start},
                                {"execucao", run.kind},
                                {"linhas", QJsonArray::fromStringList(run.rows)},
                                {"resultado", run.result}};
    }
    report.Set(QStringLiteral("execucoes"), recorded);
    return kExitDone;
}
