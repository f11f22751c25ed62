#pragma once
// Files that must be either the old or the new content after any failure, a crash or a
// power cut included: the schedule and the record of its run.

#include <QByteArray>
#include <QString>

// Writes bytes to a temporary file beside path and renames it over path, with data and
// folder entry flushed to the disk. False when anything failed; path is then as it was.
bool WriteWhole(const QString& path, const QByteArray& bytes);
