#pragma once
#include "Dialogs.h"

#include <QList>
#include <QPointer>

class QMessageBox;
class QWidget;

// The program's boxes as real modal message boxes over the main window.
class TMessageBoxDialogs : public TDialogs {
public:
    explicit TMessageBoxDialogs(QWidget* owner) : owner_(owner) {}
    void ShowMessage(const QString& text, const QString& title) override;
    bool Confirm(const QString& text, const QString& title) override;
    void ShowSimulation(const TSimulationReport& report) override;
    void DismissAll() override;

private:
    int Run(QMessageBox& box);

    QWidget* owner_;
    QList<QPointer<QMessageBox>> open_;
};
