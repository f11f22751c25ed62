#include "Detection.h"

#include "FileLookup.h"
#include "TDbConnection.h"

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

TAppKind ProbeInstalledApp(const QString& folder)
{
    TAppKind detected = TAppKind::None;
    for (TAppKind kind : kInstalledKinds) {
        const QString base = AppName(kind).toLower();
        // Every entry is tried and a later match replaces an earlier one.
        if (ProbeFilePresent(folder, base + QLatin1String(".udl"))
            && ProbeFilePresent(folder, base + QLatin1String(".ini")))
            detected = kind;
    }
    return detected;
}

QString ConnectionStringFor(TAppKind kind)
{
    return QStringLiteral("FILE NAME=.\\") + AppName(kind) + QStringLiteral(".UDL");
}

TConfiguration ReadConfiguration(TDbConnection& db, TAppKind app)
{
    db.setSQL(app == TAppKind::Meltra ? QStringLiteral("SELECT * FROM config")
                                             : QStringLiteral("SELECT * FROM configuracao"));
    db.Open();
    TConfiguration configuration;
    try {
        configuration.configured = !db.IsEmpty();
        if (configuration.configured)
            configuration.vatIncluded = !db.FindField(QStringLiteral("ivaincluido"))
                                        || db.FieldByName(QStringLiteral("ivaincluido")) != 0;
    } catch (...) {
        // A value that is not a number must not leave the result open for the next reader.
        db.Close();
        throw;
    }
    db.Close();
    return configuration;
}
