#include "diskwatch_platform.h"

// No news of the system's own: QFileSystemWatcher watches the directory and the volumes are
// polled.
namespace kibro::platform {

int openDirectoryEvents()
{
    return -1;
}

int addDirectoryWatch(int, const NativePath&)
{
    return -1;
}

void removeDirectoryWatch(int, int) {}

bool drainDirectoryEvents(int)
{
    return false;
}

int openMountTable()
{
    return -1;
}

void rereadMountTable(int) {}

void closeWatchHandle(int) {}

} // namespace kibro::platform
