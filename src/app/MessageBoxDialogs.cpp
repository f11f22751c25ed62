#include "MessageBoxDialogs.h"

#include "SimulationDialog.h"

#include <QAbstractButton>
#include <QMessageBox>

void TMessageBoxDialogs::ShowMessage(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, owner_);
    Run(box);
}

bool TMessageBoxDialogs::Confirm(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, owner_);
    // A stray Enter must not change the rates.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    // The question is Portuguese whatever the system's language, and so are its answers:
    // Qt's translation would give them in the system's language, or English without one.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sim"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Não"));
    return Run(box) == QMessageBox::Yes;
}

void TMessageBoxDialogs::ShowSimulation(const TSimulationReport& report)
{
    TSimulationDialog dialog(report, owner_);
    dialog.exec();
}

int TMessageBoxDialogs::Run(QMessageBox& box)
{
    open_ << &box;
    const int answer = box.exec();
    open_.removeAll(&box);
    return answer;
}

void TMessageBoxDialogs::DismissAll()
{
    // Newest first: each box's own loop ends in the order the boxes were opened over each other.
    const QList<QPointer<QMessageBox>> open = open_;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (*it)
            (*it)->done((*it)->escapeButton() ? QMessageBox::No : QMessageBox::Ok);
}
