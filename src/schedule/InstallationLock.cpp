#include "InstallationLock.h"

#include "ScheduleGuard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

TInstallationLock::TInstallationLock(const QString& installationFolder)
{
    QString folder = QFileInfo(installationFolder).absoluteFilePath();
    QString key = folder;
#ifdef Q_OS_WIN
    key = key.toLower();  // one folder, however its path is spelt
#endif
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex();
    places_ << QDir(folder).filePath(QStringLiteral("TaxasIVA.lock"))
            << QDir(PerUserFallbackFolder())
                   .filePath(QString::fromLatin1(hash) + QStringLiteral(".lock"));
}

TInstallationLock::~TInstallationLock() = default;

bool TInstallationLock::TryLock(const QDateTime& now)
{
    for (const QString& place : places_) {
        QDir().mkpath(QFileInfo(place).absolutePath());
        auto candidate = std::make_unique<QLockFile>(place);
        switch (TryLockAt(*candidate, now)) {
        case TLockTry::Taken:
            lock_ = std::move(candidate);
            return true;
        case TLockTry::Held:
        case TLockTry::Unreadable:
            return false;
        case TLockTry::Impossible:
            break;  // a folder that cannot be written: the per-user one
        }
    }
    // Nowhere to keep a lock: nothing can say another copy is at work, and a change that
    // waited for a lock it can never have would never happen.
    return true;
}

QString TInstallationLock::BusyText()
{
    return QStringLiteral("Outra cópia do programa está a alterar esta instalação neste momento. Nada foi enviado: "
                          "tente de novo quando essa alteração terminar.");
}
