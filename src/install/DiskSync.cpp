#include "DiskSync.h"

#include <QFileDevice>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

bool SyncToDisk(QFileDevice& file)
{
    if (!file.flush())
        return false;
    const int fd = file.handle();
    if (fd < 0)
        return false;
#ifdef _WIN32
    return _commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}
