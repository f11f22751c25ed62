#pragma once
#include "AppKind.h"

#include <QString>

// Which sibling application is installed in a folder: the probe of the four pairs of
// files ("varlo.udl" + "varlo.ini", ...), tried in order, the last match winning, names
// matched without regard to case. None when no pair is complete.
TAppKind ProbeInstalledApp(const QString& folder);

// "FILE NAME=.\" + AppName(kind) + ".UDL"
QString ConnectionStringFor(TAppKind kind);
