#pragma once
// One change at a time on an installation, whoever makes it: the window, a scheduled run or
// the command line, of this copy of the program or of another one started from elsewhere. A
// lock beside the installation's data-link file ("TaxasIVA.lock"), held from a change's
// first statement to its end; where that folder cannot be written, in the per-user folder,
// named after the installation's path.

#include <QDateTime>
#include <QLockFile>
#include <QString>
#include <memory>

class TInstallationLock {
public:
    // installationFolder: the folder of the installation's data-link file.
    explicit TInstallationLock(const QString& installationFolder);
    ~TInstallationLock();

    // False when another live process holds it (or its owner cannot be read yet: see
    // TryLockAt); the change must then not start. Held until this object ends.
    bool TryLock(const QDateTime& now);

    // The operator's words for a refused change.
    static QString BusyText();

private:
    QStringList places_;
    std::unique_ptr<QLockFile> lock_;
};
