#pragma once
#include <QString>

// The application title: the caption of the error report.
inline const QString kAppTitle = QStringLiteral("Taxas de IVA");

// Gives the application its title, which the platform shows where it names the process.
// Only as its name: a display name would be appended by Qt to every other window's title
// ("Aviso — Taxas de IVA"), and the boxes and the window are titled exactly.
void SetApplicationTitle();

// The text the error report shows for an error's own text: a full stop is added when the
// last character's code is above that of the full stop, so "Falhou" gains one while
// "Falhou." or "Falhou!" do not.
QString ErrorReportText(const QString& errorText);
