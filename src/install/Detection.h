#pragma once
#include "AppKind.h"

#include <QString>

// Which sibling application is installed in a folder: the probe of the four pairs of
// files ("varlo.udl" + "varlo.ini", ...), tried in order, the last match winning, names
// matched without regard to case. None when no pair is complete.
TAppKind ProbeInstalledApp(const QString& folder);

// "FILE NAME=.\" + AppName(kind) + ".UDL"
QString ConnectionStringFor(TAppKind kind);

class TDbConnection;

// What the application's configuration says: whether it was configured at all (its table has
// a row) and whether its prices include VAT (the first row's ivaincluido; no such column means
// included).
struct TConfiguration {
    bool configured = false;
    bool vatIncluded = false;
};

// Reads the configuration of app's database: "SELECT * FROM config" for Meltra, "SELECT * FROM
// configuracao" for every other kind. Throws TDbError; the result is closed on every way out.
TConfiguration ReadConfiguration(TDbConnection& db, TAppKind app);
