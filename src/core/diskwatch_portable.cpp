#include "diskwatch_platform.h"

#include <QFileInfo>

// No news of the system's own: QFileSystemWatcher watches the directory and the volumes are
// polled.
namespace kibro::platform {

int openDirectoryEvents()
{
    return -1;
}

int addDirectoryWatch(int, const NativePath&, QString&)
{
    return -1;
}

void refuseDirectoryWatches(bool) {}

void removeDirectoryWatch(int, int) {}

QList<DirectoryEvent> takeDirectoryEvents(int)
{
    return {};
}

EntryKind entryKind(const NativePath& path)
{
    const QFileInfo info(fromNativePath(path));
    if (!info.exists() && !info.isSymLink())
        return EntryKind::Absent;
    return info.isDir() ? EntryKind::Directory : EntryKind::File;
}

int openMountTable()
{
    return -1;
}

void rereadMountTable(int) {}

void closeWatchHandle(int) {}

} // namespace kibro::platform
