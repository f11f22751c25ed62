#pragma once
#include "Dialogs.h"

class QWidget;

// The program's boxes as real modal message boxes over the main window.
class TMessageBoxDialogs : public TDialogs {
public:
    explicit TMessageBoxDialogs(QWidget* owner) : owner_(owner) {}
    void ShowMessage(const QString& text, const QString& title) override;
    bool Confirm(const QString& text, const QString& title) override;

private:
    QWidget* owner_;
};
