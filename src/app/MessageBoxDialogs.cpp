#include "MessageBoxDialogs.h"

#include <QMessageBox>

void TMessageBoxDialogs::ShowMessage(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, owner_);
    box.exec();
}

bool TMessageBoxDialogs::Confirm(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, owner_);
    // A stray Enter must not change the rates.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
