#include "diskwatch_platform.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kibro::platform {

int openDirectoryEvents()
{
    // inotify by the path's bytes: Qt's watcher would decode a name it cannot round-trip.
    return ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

namespace {
bool g_refused = false;
} // namespace

void refuseDirectoryWatches(bool refuse)
{
    g_refused = refuse;
}

int addDirectoryWatch(int handle, const NativePath& path, QString& refusal)
{
    const int watch =
        g_refused ? (errno = ENOSPC, -1)
                  : ::inotify_add_watch(handle, path.constData(),
                                        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                            IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    // The limits of fs.inotify (max_user_watches, max_user_instances) or the kernel's memory;
    // a directory gone or unreadable is not refused, its listing fails too.
    if (watch < 0 && errno == ENOSPC)
        refusal = QStringLiteral("no inotify watches left, see fs.inotify.max_user_watches");
    else if (watch < 0 && (errno == EMFILE || errno == ENOMEM))
        refusal = QString::fromLocal8Bit(std::strerror(errno));
    return watch;
}

void removeDirectoryWatch(int handle, int watch)
{
    ::inotify_rm_watch(handle, watch);
}

QList<DirectoryEvent> takeDirectoryEvents(int handle)
{
    // Lost news (overflow), or the directory itself gone, moved or unmounted: list anew.
    constexpr uint32_t kWhole =
        IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
    QList<DirectoryEvent> events;
    alignas(inotify_event) std::array<char, 16384> buffer{};
    for (;;) {
        const ssize_t got = ::read(handle, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            inotify_event event{};
            std::memcpy(&event, buffer.data() + at, sizeof event);
            const char* name = buffer.data() + at + sizeof event;
            at += static_cast<ssize_t>(sizeof event + event.len);
            const bool whole = (event.mask & kWhole) != 0;
            // The name is padded with NULs to its length.
            events.append(
                {event.wd, whole || event.len == 0 ? QByteArray() : QByteArray(name), whole});
        }
    }
    return events;
}

EntryKind entryKind(const NativePath& path)
{
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0)
        return ::lstat(path.constData(), &status) == 0 ? EntryKind::File : EntryKind::Absent;
    return S_ISDIR(status.st_mode) ? EntryKind::Directory : EntryKind::File;
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
