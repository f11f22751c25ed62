#include "DurableFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The rename lives in the folder: until the folder is flushed, a power cut may bring the
// old file back although the write was reported done.
void SyncFolder(const QString& path) {
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
#else
    Q_UNUSED(path);
#endif
}

}  // namespace

bool WriteWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    // Unbuffered: a buffered flush that runs out of disk part-way still lets commit succeed,
    // with the file cut short; written directly, the short count shows.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    if (file.write(bytes) != bytes.size() || !file.commit()) return false;
    SyncFolder(path);
    return true;
}

QString CannotWriteText(const QString& path) {
    return QStringLiteral("Não foi possível gravar o ficheiro ")
           + QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

QString CannotReadText(const QString& path) {
    return QStringLiteral("Não foi possível ler o ficheiro ")
           + QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}
