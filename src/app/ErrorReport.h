#pragma once
#include <QString>

// The application title: the caption of the error report.
inline const QString kAppTitle = QStringLiteral("Taxas de IVA");

// The text the error report shows for an error's own text: a full stop is added when the
// last character's code is above that of the full stop, so "Falhou" gains one while
// "Falhou." or "Falhou!" do not.
QString ErrorReportText(const QString& errorText);
