#pragma once
// A simulation as the operator reads it: what each row would do to the rate table, the
// products and the terminals, a few products with their old and new values, and the
// rounding's figures.

#include "Simulation.h"

#include <QList>
#include <QString>
#include <QStringList>

struct TSimulationReport {
    QString summary;               // a paragraph per ticked row
    QStringList headers;           // the products' table: the key's columns, then each written column
    QList<QStringList> products;   // up to 20 rows, "antes → depois" in each written column
    QString notes;                 // the rounding, products left out, why there is no list
    QString file;                  // every product, for "Exportar…"; empty when there is none
};

TSimulationReport SimulationReportOf(const TSimulation& simulation, const TChangeRequest& request);

// A value as the report shows it; a number (a price, whatever form the driver gave it) with a
// decimal comma and at most four places.
QString ShownValue(const QString& value, bool number);
