#include "MessageBoxDialogs.h"

#include <QAbstractButton>
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
    // The operators read Portuguese; Qt's own button texts would be English here.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sim"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Não"));
    return box.exec() == QMessageBox::Yes;
}
