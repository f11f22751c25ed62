#include "ScheduleGuard.h"
#include "DurableFile.h"
#include "Errors.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <optional>
#include <stdexcept>

namespace {

enum class TRecord { None, Committing, Done };

const QByteArray kCommitting = "committing";
const QByteArray kDone = "done";

QByteArray Fingerprint(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
}

// The settings file's bytes; nothing when it is gone. One that exists but cannot be read
// throws: its schedule cannot be told from one already made.
std::optional<QByteArray> ReadSettings(const QString& path) {
    QFile file(path);
    if (!file.exists()) return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists()) return std::nullopt;
        throw TFileError(CannotReadText(path));
    }
    return file.readAll();
}

// "<state> <fingerprint> [<run id>]": the run id names the run's record and images.
TRecord ReadRecord(const QString& path, const QByteArray& fingerprint, QString* runId) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return TRecord::None;
    const QList<QByteArray> words = file.readLine(256).trimmed().split(' ');
    if (words.size() < 2 || words.size() > 3 || words[1] != fingerprint) return TRecord::None;
    if (runId) *runId = words.size() == 3 ? QString::fromLatin1(words[2]) : QString();
    if (words[0] == kDone) return TRecord::Done;
    if (words[0] == kCommitting) return TRecord::Committing;
    return TRecord::None;
}

bool WriteRecord(const QString& path, const QByteArray& state, const QByteArray& fingerprint, const QString& runId) {
    // Durable before the commit is sent: a power cut must not lose "committing" while the
    // database keeps the change.
    const QByteArray run = runId.isEmpty() ? QByteArray() : ' ' + runId.toLatin1();
    return WriteWhole(path, state + ' ' + fingerprint + run + '\n');
}

QString UnreadableLockText(const QString& path, const QDateTime& takeOver, const QDateTime& now) {
    const QString when = takeOver.toString(takeOver.date() == now.date()
                                               ? QStringLiteral("'às' HH:mm")
                                               : QStringLiteral("'em' dd/MM/yyyy 'às' HH:mm"));
    return QStringLiteral("O ficheiro de bloqueio %1 não indica que programa o criou; será considerado abandonado %2.")
        .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), when);
}

}  // namespace

TLockTry TryLockAt(QLockFile& lock, const QDateTime& now, QDateTime* takeOver) {
    lock.setStaleLockTime(0);
    // A second round after an abandoned lock was removed, a third when the lock went away
    // between the attempt and the look at its owner.
    for (int round = 0; round < 3; ++round) {
        if (lock.tryLock(0)) return TLockTry::Taken;
        if (lock.error() != QLockFile::LockFailedError) return TLockTry::Impossible;
        if (lock.getLockInfo(nullptr, nullptr, nullptr)) return TLockTry::Held;
        const QFileInfo file(lock.fileName());
        if (!file.exists()) continue;
        const QDateTime at = file.lastModified().addSecs(kUnreadableLockMinutes * 60);
        if (now < at) {
            if (takeOver) *takeOver = at;
            return TLockTry::Unreadable;
        }
        // Fails while a process still has the file locked: it is not abandoned after all.
        if (!lock.removeStaleLockFile()) return TLockTry::Held;
    }
    return TLockTry::Held;
}

struct TScheduleGuard::Impl {
    QString settings;
    QString fallbackFolder;
    TClock clock;
    QByteArray fingerprint;  // the schedule this process acts on; empty until known
    QString runId;           // of the record found, or of the run about to commit
    std::unique_ptr<QLockFile> lock;
    TUnreadableLock unreadable;

    // Beside the settings file first; the per-user place when that folder is read-only.
    QStringList places(const char* suffix) const {
        QString key = QFileInfo(settings).absoluteFilePath();
#ifdef Q_OS_WIN
        key = key.toLower();  // one file, however its path is spelt
#endif
        const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex();
        return {settings + QLatin1String(suffix),
                fallbackFolder + QLatin1Char('/') + QString::fromLatin1(hash) + QLatin1String(suffix)};
    }

    // The furthest state recorded for the fingerprint in either place: "done" is written
    // after "committing", possibly in the other place when the first became read-only.
    TRecord record(const QByteArray& print) {
        TRecord found = TRecord::None;
        for (const QString& path : places(".state")) {
            QString run;
            const TRecord r = ReadRecord(path, print, &run);
            if (r != TRecord::None) runId = run;
            if (r == TRecord::Done) return r;
            if (r == TRecord::Committing) found = r;
        }
        return found;
    }

    bool write(const QByteArray& state) const {
        for (const QString& path : places(".state")) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            if (WriteRecord(path, state, fingerprint, runId)) return true;
        }
        return false;
    }

    void forget() const {
        for (const QString& path : places(".state")) QFile::remove(path);
    }

    TLockTry take() {
        for (const QString& path : places(".lock")) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            auto candidate = std::make_unique<QLockFile>(path);
            const QDateTime now = clock();
            QDateTime takeOver;
            switch (const TLockTry result = TryLockAt(*candidate, now, &takeOver)) {
            case TLockTry::Taken:
                lock = std::move(candidate);
                return result;
            case TLockTry::Unreadable:
                unreadable = {path, takeOver, UnreadableLockText(path, takeOver, now)};
                return result;
            case TLockTry::Held:
                return result;
            case TLockTry::Impossible:
                break;  // the per-user place, where this folder cannot hold the lock
            }
        }
        return TLockTry::Impossible;
    }

    void release() {
        lock.reset();  // unlocks and removes the lock file
    }
};

QString PerUserFallbackFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Qorvanta");
}

TScheduleGuard::TScheduleGuard(const QString& settingsPath, const QString& fallbackFolder, TClock clock)
    : d(std::make_unique<Impl>()) {
    d->settings = QFileInfo(settingsPath).absoluteFilePath();
    d->clock = clock ? std::move(clock) : TClock([] { return QDateTime::currentDateTime(); });
    d->fallbackFolder = !fallbackFolder.isEmpty()
        ? fallbackFolder
        : PerUserFallbackFolder();
}

TScheduleGuard::~TScheduleGuard() = default;

TScheduleGuard::TStart TScheduleGuard::Inspect() {
    std::optional<QByteArray> content;
    try {
        content = ReadSettings(d->settings);
    } catch (const std::runtime_error&) {
        return TStart::Pending;  // the due check will refuse it, with the reason
    }
    if (!content) return TStart::CompletedLeftover;
    d->fingerprint = Fingerprint(*content);

    switch (d->record(d->fingerprint)) {
    case TRecord::Done:
        return TStart::CompletedLeftover;
    case TRecord::None:
        return TStart::Pending;
    case TRecord::Committing:
        break;
    }
    // "committing" while another process holds the lock is a run in progress, which that
    // process settles; only a record nobody is working on is in doubt. Behind a lock whose
    // owner cannot be read the due check waits, and judges once the lock is taken over.
    const TLockTry lock = d->take();
    d->release();
    return lock == TLockTry::Held || lock == TLockTry::Unreadable ? TStart::Pending : TStart::InDoubt;
}

void TScheduleGuard::NewSchedule() {
    std::optional<QByteArray> content = ReadSettings(d->settings);
    d->fingerprint = content ? Fingerprint(*content) : QByteArray();
    d->forget();
}

TScheduleGuard::TClaim TScheduleGuard::Claim() {
    if (!d->lock) {
        switch (d->take()) {
        case TLockTry::Held:
            return TClaim::Busy;
        case TLockTry::Unreadable:
            return TClaim::LockUnreadable;
        case TLockTry::Impossible:
            throw TFileError(CannotWriteText(d->places(".lock").front()));
        case TLockTry::Taken:
            break;
        }
    }
    // Everything from here is read under the lock, so no other process is between its own
    // check and its commit.
    std::optional<QByteArray> content;
    try {
        content = ReadSettings(d->settings);
    } catch (...) {
        d->release();
        throw;
    }
    if (!content) {
        d->release();
        return TClaim::AlreadyDone;
    }
    const QByteArray print = Fingerprint(*content);
    if (!d->fingerprint.isEmpty() && print != d->fingerprint) {
        d->release();
        return TClaim::AlreadyDone;
    }
    d->fingerprint = print;
    switch (d->record(print)) {
    case TRecord::Done:
        d->release();
        return TClaim::AlreadyDone;
    case TRecord::Committing:
        d->release();
        return TClaim::InDoubt;
    case TRecord::None:
        break;
    }
    return TClaim::Acquired;
}

TScheduleGuard::TUnreadableLock TScheduleGuard::unreadableLock() const {
    return d->unreadable;
}

void TScheduleGuard::BeforeCommit(const QString& runId) {
    if (!d->lock) throw std::logic_error("BeforeCommit without a claim");
    d->runId = runId;
    if (!d->write(kCommitting))
        throw TFileError(CannotWriteText(d->places(".state").front()));
}

void TScheduleGuard::AfterCommit() {
    if (d->lock) d->write(kDone);
}

void TScheduleGuard::CommitRolledBack() {
    // The database refused the commit and undid the change: nothing of it is there, so the
    // schedule is as pending as before its run.
    if (d->lock) d->forget();
}

void TScheduleGuard::Release() {
    // A "committing" record stays unless CommitRolledBack cleared it: a commit whose outcome
    // is unknown may have been made.
    d->release();
}

QString TScheduleGuard::RunId() const {
    return d->runId;
}

bool TScheduleGuard::SettleDoubt(bool committed) {
    if (d->take() != TLockTry::Taken) return false;
    if (d->record(d->fingerprint) != TRecord::Committing) {
        d->release();
        return false;
    }
    const bool written = committed ? d->write(kDone) : (d->forget(), true);
    d->release();
    return written;
}

void TScheduleGuard::Finish() {
    if (!QFileInfo::exists(d->settings)) d->forget();
    d->release();
}
