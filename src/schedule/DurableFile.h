#pragma once
// Files that must be either the old or the new content after any failure, a crash or a
// power cut included: the schedule and the record of its run.

#include <QByteArray>
#include <QString>

// Writes bytes to a temporary file beside path and renames it over path, with data and
// folder entry flushed to the disk. False when anything failed; path is then as it was.
bool WriteWhole(const QString& path, const QByteArray& bytes);

// The texts of a file that cannot be written or read, with its full path in the platform's
// form, for the error report.
QString CannotWriteText(const QString& path);
QString CannotReadText(const QString& path);
