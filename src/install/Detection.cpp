#include "Detection.h"

#include "FileLookup.h"

#include <QFileInfo>

namespace {

// Only a regular file, or a link to one, answers to a probe name: a folder, a broken link, a
// FIFO or a socket of that name is no installation's file.
bool ProbeFilePresent(const QString& folder, const QString& name)
{
    // The applications were made for Windows, where file names compare without regard to
    // case; an installation copied here may hold VARLO.UDL or Varlo.ini.
    const QString path = FindEntryIgnoringCase(folder, name);
    return !path.isEmpty() && QFileInfo(path).isFile();
}

}  // namespace

QString ProbeInstalledApp(const QString& folder)
{
    static const char* const order[] = {"Varlo", "Meltra", "Quibon", "Tosvel"};
    QString detected = QStringLiteral("Nenhum");
    for (const char* app : order) {
        const QString base = QString::fromLatin1(app).toLower();
        // Every entry is tried and a later match replaces an earlier one.
        if (ProbeFilePresent(folder, base + QLatin1String(".udl"))
            && ProbeFilePresent(folder, base + QLatin1String(".ini")))
            detected = QString::fromLatin1(app);
    }
    return detected;
}

QString ConnectionStringFor(const QString& app)
{
    return QStringLiteral("FILE NAME=.\\") + app + QStringLiteral(".UDL");
}
