#include "FileLookup.h"

#include <QDir>
#include <QFileInfo>

QString FindFileIgnoringCase(const QString& path, const QString& baseDir)
{
    QString p = path;
    p.replace(u'\\', u'/');
    QString current = QDir::isAbsolutePath(p) ? QStringLiteral("/") : QDir(baseDir).absolutePath();
    const QStringList parts = p.split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            current = QFileInfo(current).absolutePath();
            continue;
        }
        current = FindEntryIgnoringCase(current, part);
        if (current.isEmpty())
            return {};
    }
    return current;
}

QString FindEntryIgnoringCase(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    const QString lower = name.toLower();
    const int dot = lower.lastIndexOf(u'.');
    const QString stem = dot < 0 ? lower : lower.left(dot);
    const QString extension = dot < 0 ? QString() : lower.mid(dot);
    const QString capital = stem.left(1).toUpper() + stem.mid(1);
    for (const QString& spelling : {name, lower, name.toUpper(), capital + extension, capital + extension.toUpper()})
        if (QFileInfo::exists(dir.filePath(spelling)))
            return dir.filePath(spelling);

    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    return {};
}
