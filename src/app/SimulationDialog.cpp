#include "SimulationDialog.h"

#include "Controls.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TSimulationDialog::TSimulationDialog(const TSimulationReport& report, QWidget* parent)
    : QDialog(parent), file_(report.file)
{
    setObjectName(QStringLiteral("simulacao"));
    setWindowTitle(QStringLiteral("Simulação da alteração"));
    resize(640, 520);
    auto* layout = new QVBoxLayout(this);

    auto* title = new QLabel(QStringLiteral("Nada foi alterado na base de dados: isto é o que a alteração faria."), this);
    title->setObjectName(QStringLiteral("lbsimulacao"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    auto* summary = new QPlainTextEdit(report.summary, this);
    summary->setObjectName(QStringLiteral("resumo"));
    summary->setReadOnly(true);
    layout->addWidget(summary, 2);

    auto* products = new QTableWidget(int(report.products.size()), int(report.headers.size()), this);
    products->setObjectName(QStringLiteral("produtos"));
    products->setHorizontalHeaderLabels(report.headers);
    products->setEditTriggers(QAbstractItemView::NoEditTriggers);
    products->verticalHeader()->hide();
    for (int r = 0; r < report.products.size(); ++r)
        for (int c = 0; c < report.products[r].size(); ++c)
            products->setItem(r, c, new QTableWidgetItem(report.products[r][c]));
    products->resizeColumnsToContents();
    products->setVisible(!report.headers.isEmpty());
    layout->addWidget(products, 3);

    auto* notes = new QLabel(report.notes, this);
    notes->setObjectName(QStringLiteral("notas"));
    notes->setWordWrap(true);
    layout->addWidget(notes);

    auto* buttons = new QDialogButtonBox(this);
    auto* exportar = buttons->addButton(QStringLiteral("Exportar…"), QDialogButtonBox::ActionRole);
    exportar->setObjectName(QStringLiteral("btexportar"));
    exportar->setEnabled(!file_.isEmpty());
    auto* fechar = buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::RejectRole);
    fechar->setObjectName(QStringLiteral("btfechar"));
    connect(exportar, &QPushButton::clicked, this, &TSimulationDialog::btexportarClick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool TSimulationDialog::Export(const QString& file, const QString& path)
{
    if (QFile::exists(path) && !QFile::remove(path))
        return false;
    return QFile::copy(file, path);
}

void TSimulationDialog::btexportarClick()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar a simulação"),
                                                      QDir::home().filePath(QStringLiteral("simulacao.csv")),
                                                      QStringLiteral("Ficheiros CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (!Export(file_, path))
        QMessageBox::critical(this, QStringLiteral("Erro"),
                              QStringLiteral("Não foi possível gravar o ficheiro ") + QDir::toNativeSeparators(path));
}
