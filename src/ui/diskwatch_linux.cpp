#include "diskwatch_platform.h"

#include <array>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace kibro::platform {

int openDirectoryEvents()
{
    // inotify by the path's bytes: Qt's watcher would decode a name it cannot round-trip.
    return ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

int addDirectoryWatch(int handle, const NativePath& path)
{
    return ::inotify_add_watch(handle, path.constData(),
                               IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

void removeDirectoryWatch(int handle, int watch)
{
    ::inotify_rm_watch(handle, watch);
}

bool drainDirectoryEvents(int handle)
{
    bool any = false;
    std::array<char, 4096> buffer{};
    while (::read(handle, buffer.data(), buffer.size()) > 0)
        any = true;
    return any;
}

int openMountTable()
{
    // The kernel marks the mount table exceptional (POLLPRI) on every mount and unmount.
    return ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
}

void rereadMountTable(int handle)
{
    std::array<char, 4096> buffer{};
    ::lseek(handle, 0, SEEK_SET);
    while (::read(handle, buffer.data(), buffer.size()) > 0) {
    }
}

void closeWatchHandle(int handle)
{
    ::close(handle);
}

} // namespace kibro::platform
