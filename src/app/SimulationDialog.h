#pragma once
// The simulation's result on a box of its own, modal over the window: its summary, a few
// products with their old and new values, the rounding, and "Exportar…" for every product.

#include "SimulationReport.h"

#include <QDialog>

class TSimulationDialog : public QDialog {
    Q_OBJECT
public:
    TSimulationDialog(const TSimulationReport& report, QWidget* parent);

    // Copies the simulation's file of every product to path, replacing what is there.
    static bool Export(const QString& file, const QString& path);

private:
    void btexportarClick();

    QString file_;
};
