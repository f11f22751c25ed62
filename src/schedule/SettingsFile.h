#pragma once
// The pending schedule, "Qorvanta.ini" beside the executable, section "OPCOES".

#include "../engine/TChangeRequest.h"
#include <QDateTime>
#include <QLocale>
#include <QString>

// What the file holds: the request (rows, options, app = APLICACAO, moment = DATAHORA) and
// the connection string (SOFT).
struct TSchedule {
    TChangeRequest request;
    QString connectionString;
    // Temporary rates: the moment the rates and prices the change replaced go back (REPOR),
    // invalid for a change that stays; and, once the change was made, its run's id
    // (ALTERACAO), whose images the undo puts back.
    QDateTime revertAt;
    QString changeId;
    // Why the stored request must not run, naming the key and its value as stored ("DATAHORA
    // '31/02/2099 10:00:00' não é uma data válida."); empty for a request the rate entry page
    // could have held and its check accepted.
    QString refusal;
};

// The executable's folder + "Qorvanta.ini". Needs the QCoreApplication.
QString SettingsFilePath();

// Writes the twenty keys in order; the file is replaced whole or not at all, foreign keys
// and sections kept. Throws TFileError("Não foi possível gravar o ficheiro " + path)
// on failure.
// The locale only shapes DATAHORA; the program always passes the system's.
// REPOR and ALTERACAO follow when revertAt is valid (ALTERACAO when changeId is not empty),
// and are removed otherwise.
void WriteSettingsFile(const QString& path, const TChangeRequest& request,
                       const QString& connectionString,
                       const QLocale& locale = QLocale::system(),
                       const QDateTime& revertAt = QDateTime(), const QString& changeId = QString());

// Reads the twenty keys with their defaults; now is the default of an empty or missing
// DATAHORA. A missing file gives every default. The values are judged as stored, before any
// control could cut them: a value longer than its edit holds, a DATAHORA that is not a date,
// an APLICACAO that names none of the four kinds (compared without regard to case), a file
// that exists but cannot be read, and a request that fails the rules on the entered
// values (when a row is ticked: with none, nothing would be sent) give a refusal.
TSchedule ReadSettingsFile(const QString& path, const QDateTime& now,
                           const QLocale& locale = QLocale::system());

// Deletes the file; the outcome is not reported.
void RemoveSettingsFile(const QString& path);

// Keeps a copy of the file as path + ".duvida", replacing an earlier one; false when it
// cannot be made.
bool KeepInDoubtCopy(const QString& path);

// The regional text of a moment as stored in DATAHORA (short date with a four-digit year,
// a blank, long time without zone or fractions; the date alone at midnight), and its
// reading back: the regional short date as it is (a two-digit year in 2000-2099) or with a
// four-digit year, or ISO; each with the long or short time or none. An invalid QDateTime
// when it does not parse.
QString MomentToText(const QDateTime& moment, const QLocale& locale = QLocale::system());
QDateTime MomentFromText(const QString& text, const QLocale& locale = QLocale::system());
