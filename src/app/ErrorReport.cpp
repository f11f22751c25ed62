#include "ErrorReport.h"

#include <QCoreApplication>

QString ErrorReportText(const QString& errorText)
{
    if (!errorText.isEmpty() && errorText.back().unicode() > u'.')
        return errorText + u'.';
    return errorText;
}

void SetApplicationTitle()
{
    QCoreApplication::setApplicationName(kAppTitle);
}
