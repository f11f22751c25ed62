#pragma once
#include <QDir>
#include <QTemporaryDir>

// Points the start-up folder and the per-user records of the schedule guard into a folder of
// the test's own, for as long as it lives.
class TUserFolders {
public:
    TUserFolders()
    {
        if (!QDir().mkpath(dir_.filePath("config")))
            qFatal("cannot make the configuration folder");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.filePath("data")));
    }

private:
    QTemporaryDir dir_;
};
