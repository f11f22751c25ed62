#include "SimulationReport.h"

#include "RateCounts.h"

#include <QDateTime>
#include <QLocale>

namespace {

QString Count(qint64 n, const char* one, const char* many)
{
    return Thousands(n) + u' ' + QString::fromUtf8(n == 1 ? one : many);
}

QString RowParagraph(int index, const TRatePair& row, const TSimulatedRow& done)
{
    QStringList lines;
    lines << QStringLiteral("Linha %1: %2% → %3%").arg(index + 1).arg(row.existing, row.replacement);

    QStringList table;
    table << (done.rateInserted ? QStringLiteral("a taxa %1% é criada").arg(row.replacement)
                                : QStringLiteral("a taxa %1% já existe").arg(row.replacement));
    if (done.rateDescribed > 0)
        table << QStringLiteral("fica com a descrição \"%1\"").arg(row.description);
    if (done.rateDeleted > 0)
        table << QStringLiteral("a taxa %1% é apagada").arg(row.existing)
                     + (done.deletionRecorded ? QStringLiteral(" (e registada em iva_apagar)") : QString());
    else
        table << QStringLiteral("a taxa %1% fica").arg(row.existing);
    lines << QStringLiteral("  Tabela de taxas: ") + table.join(QStringLiteral("; ")) + u'.';

    QString products = QStringLiteral("  Produtos: ") + Count(done.saleMoved, "muda", "mudam")
                       + QStringLiteral(" de taxa de venda, ") + Thousands(done.purchaseMoved)
                       + QStringLiteral(" de taxa de compra");
    if (done.otherRatesMoved > 0)
        products += QStringLiteral(", ") + Thousands(done.otherRatesMoved) + QStringLiteral(" noutras taxas");
    lines << products + u'.';

    QStringList prices;
    for (const auto& [column, n] : done.prices)
        prices << column + QStringLiteral(": ") + Thousands(n);
    lines << QStringLiteral("  Preços recalculados: ")
                 + (prices.isEmpty() ? QStringLiteral("nenhum") : prices.join(QStringLiteral("; "))) + u'.';

    QStringList terminals;
    for (const auto& [key, n] : done.terminals)
        if (n > 0)
            terminals << key + QStringLiteral(" em ") + Count(n, "posto", "postos");
    if (!terminals.isEmpty())
        lines << QStringLiteral("  Postos: ") + terminals.join(QStringLiteral("; ")) + u'.';
    return lines.join(u'\n');
}

}  // namespace

QString ShownValue(const QString& value, bool number)
{
    if (value.isNull())
        return QStringLiteral("—");
    bool isNumber = false;
    const double n = value.toDouble(&isNumber);
    if (!number || !isNumber || !value.contains(u'.'))
        return value;
    QString text = QString::number(n, 'f', 4);
    while (text.endsWith(u'0') && text.indexOf(u'.') < text.size() - 3)
        text.chop(1);
    return text.replace(u'.', u',');
}

TSimulationReport SimulationReportOf(const TSimulation& simulation, const TChangeRequest& request)
{
    TSimulationReport report;
    QStringList paragraphs;
    for (int i = 0; i < 3; ++i)
        if (request.rows[i].enabled && simulation.rows[i].ran)
            paragraphs << RowParagraph(i, request.rows[i], simulation.rows[i]);
    report.summary = paragraphs.join(QStringLiteral("\n\n"));

    const TImageLayout& layout = simulation.layout;
    QStringList notes;
    if (layout.key.isEmpty()) {
        notes << QStringLiteral("A tabela de produtos não tem chave (nem chave primária, nem índice único sem "
                                "valores nulos): os produtos não podem ser identificados um a um, pelo que não há "
                                "lista de produtos nem exportação.");
    } else {
        report.headers = layout.key;
        for (const TImageColumn& column : layout.columns)
            report.headers << column.name;
        for (const TProductChange& change : simulation.sample) {
            QStringList cells;
            for (const QString& v : change.pairing)
                cells << v;
            for (int i = 0; i < change.before.size(); ++i) {
                const bool price = layout.columns.value(i).role == TImageColumn::Price;
                const QString before = ShownValue(change.before[i], price);
                const QString after = ShownValue(change.after.value(i), price);
                cells << (before == after ? before : before + QStringLiteral(" → ") + after);
            }
            report.products << cells;
        }
        report.file = simulation.productsFile;
        notes << QStringLiteral("%1 na simulação; %2 na lista.")
                     .arg(Count(simulation.products, "produto alterado", "produtos alterados"))
                     .arg(report.products.size());
    }
    if (simulation.unpaired > 0)
        notes << QStringLiteral("%1 não se distinguem de outros e ficaram fora das contas do arredondamento.")
                     .arg(Count(simulation.unpaired, "produto", "produtos"));
    if (simulation.rounding) {
        const QString largest = QString::number(simulation.largestDifference, 'f', 4).replace(u'.', u',');
        notes << (simulation.offByHalfCent == 0
                      ? QStringLiteral("Arredondamento: todos os preços novos ficam a menos de meio cêntimo da "
                                       "conversão exacta (maior diferença: %1).")
                            .arg(largest)
                      : QStringLiteral("Arredondamento: %1 a meio cêntimo ou mais da conversão exacta; a maior "
                                       "diferença é %2.")
                            .arg(Count(simulation.offByHalfCent, "preço novo fica", "preços novos ficam"), largest));
    }
    report.notes = notes.join(u'\n');
    return report;
}
