#pragma once
#include <QString>

// Which sibling application is installed in a folder: the probe of the four pairs of
// files ("varlo.udl" + "varlo.ini", ...), tried in order, the last match winning, names
// matched without regard to case. Returns "Nenhum" when none is complete.
QString ProbeInstalledApp(const QString& folder);

// "FILE NAME=.\" + app + ".UDL"
QString ConnectionStringFor(const QString& app);
