#pragma once
// The pending schedule, "Qorvanta.ini" beside the executable, section "OPCOES".

#include "../engine/TChangeRequest.h"
#include <QDateTime>
#include <QLocale>
#include <QString>

// What the file holds: the request (rows, options, app = APLICACAO, moment = DATAHORA;
// vatIncluded is not stored) and the connection string (SOFT).
struct TSchedule {
    TChangeRequest request;
    QString connectionString;
};

// The executable's folder + "Qorvanta.ini". Needs the QCoreApplication.
QString SettingsFilePath();

// Writes the twenty keys in order; the file is replaced whole or not at all, foreign keys
// and sections kept. Throws std::runtime_error("Unable to write to " + path) on failure.
// The locale only shapes DATAHORA; the program always passes the system's.
void WriteSettingsFile(const QString& path, const TChangeRequest& request,
                       const QString& connectionString,
                       const QLocale& locale = QLocale::system());

// Reads the twenty keys with their defaults; now is the default of DATAHORA. A missing or
// unreadable file gives every default.
TSchedule ReadSettingsFile(const QString& path, const QDateTime& now,
                           const QLocale& locale = QLocale::system());

// Deletes the file; the outcome is not reported.
void RemoveSettingsFile(const QString& path);

// The regional text of a moment as stored in DATAHORA (short date with a four-digit year,
// a blank, long time without zone or fractions; the date alone at midnight), and its
// reading back (an invalid QDateTime when it does not parse).
QString MomentToText(const QDateTime& moment, const QLocale& locale = QLocale::system());
QDateTime MomentFromText(const QString& text, const QLocale& locale = QLocale::system());
