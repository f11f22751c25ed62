#include "Detection.h"

#include <QDir>
#include <QSet>

QString ProbeInstalledApp(const QString& folder)
{
    // The applications were made for Windows, where file names compare without regard to
    // case; an installation copied here may hold VARLO.UDL or Varlo.ini.
    QSet<QString> present;
    const QStringList files =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& f : files)
        present.insert(f.toLower());

    static const char* const order[] = {"Varlo", "Meltra", "Quibon", "Tosvel"};
    QString detected = QStringLiteral("Nenhum");
    for (const char* app : order) {
        const QString base = QString::fromLatin1(app).toLower();
        // Every entry is tried and a later match replaces an earlier one.
        if (present.contains(base + QLatin1String(".udl")) && present.contains(base + QLatin1String(".ini")))
            detected = QString::fromLatin1(app);
    }
    return detected;
}

QString ConnectionStringFor(const QString& app)
{
    return QStringLiteral("FILE NAME=.\\") + app + QStringLiteral(".UDL");
}
