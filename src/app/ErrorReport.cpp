#include "ErrorReport.h"

QString ErrorReportText(const QString& errorText)
{
    if (!errorText.isEmpty() && errorText.back().unicode() > u'.')
        return errorText + u'.';
    return errorText;
}
