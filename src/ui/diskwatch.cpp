#include "diskwatch.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QStorageInfo>

#include <array>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace kibro {

namespace {

// Changes are passed on at most once a settle interval, counted from the first: a folder that
// changes all the time (a download or build folder) is still listed, and not more often.
void settleStart(QTimer& settle)
{
    if (!settle.isActive())
        settle.start();
}

} // namespace

DirectoryWatcher::DirectoryWatcher(QObject* parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettle);
    connect(&m_settle, &QTimer::timeout, this, &DirectoryWatcher::changed);
#if defined(Q_OS_LINUX)
    // inotify by the path's bytes: Qt's watcher would decode a name it cannot round-trip.
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &DirectoryWatcher::onNotified);
        return;
    }
#endif
    m_fallback = new QFileSystemWatcher(this);
    connect(m_fallback, &QFileSystemWatcher::directoryChanged, this,
            [this] { settleStart(m_settle); });
}

DirectoryWatcher::~DirectoryWatcher()
{
#if defined(Q_OS_LINUX)
    if (m_fd >= 0) {
        delete m_notifier;
        ::close(m_fd);
    }
#endif
}

void DirectoryWatcher::watch(const NativePath& path)
{
#if defined(Q_OS_LINUX)
    if (m_fd >= 0) {
        // Added again even for the same path: the directory there may be another one now (a
        // volume unmounted from it), and the same one keeps its watch.
        const int watch =
            path.isEmpty()
                ? -1
                : ::inotify_add_watch(m_fd, path.constData(),
                                      IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                          IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        if (m_watch >= 0 && m_watch != watch)
            ::inotify_rm_watch(m_fd, m_watch);
        m_watch = watch;
        m_path = path;
        return;
    }
#endif
    if (path == m_path)
        return;
    m_path = path;
    if (!m_fallback->directories().isEmpty())
        m_fallback->removePaths(m_fallback->directories());
    if (!path.isEmpty())
        m_fallback->addPath(fromNativePath(path));
}

void DirectoryWatcher::onNotified()
{
#if defined(Q_OS_LINUX)
    bool any = false;
    std::array<char, 4096> buffer{};
    while (::read(m_fd, buffer.data(), buffer.size()) > 0)
        any = true;
    if (any)
        settleStart(m_settle);
#endif
}

VolumeWatcher::VolumeWatcher(QObject* parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(DirectoryWatcher::kSettle);
    connect(&m_settle, &QTimer::timeout, this, &VolumeWatcher::changed);
#if defined(Q_OS_LINUX)
    // The kernel marks the mount table exceptional (POLLPRI) on every mount and unmount.
    m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0) {
        onMountTableChanged(); // read once, so that only later changes are signalled
        m_settle.stop();
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &VolumeWatcher::onMountTableChanged);
        return;
    }
#endif
    m_roots = volumeRoots();
    m_poll.setInterval(kPollInterval);
    connect(&m_poll, &QTimer::timeout, this, &VolumeWatcher::onPoll);
    m_poll.start();
}

VolumeWatcher::~VolumeWatcher()
{
#if defined(Q_OS_LINUX)
    if (m_fd >= 0) {
        delete m_notifier;
        ::close(m_fd);
    }
#endif
}

QStringList VolumeWatcher::volumeRoots()
{
    QStringList roots;
#if defined(Q_OS_WIN)
    for (const QFileInfo& drive : QDir::drives())
        roots << drive.absolutePath();
#else
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            roots << volume.rootPath();
    }
    if (!roots.contains(QStringLiteral("/")))
        roots.prepend(QStringLiteral("/"));
#endif
    roots.removeDuplicates();
    roots.sort();
    return roots;
}

void VolumeWatcher::onMountTableChanged()
{
#if defined(Q_OS_LINUX)
    // The mark stays until the table is read again: read it through, or the notifier fires
    // without end.
    std::array<char, 4096> buffer{};
    ::lseek(m_fd, 0, SEEK_SET);
    while (::read(m_fd, buffer.data(), buffer.size()) > 0) {
    }
    settleStart(m_settle);
#endif
}

void VolumeWatcher::onPoll()
{
    QStringList roots = volumeRoots();
    if (roots == m_roots)
        return;
    m_roots = std::move(roots);
    emit changed();
}

} // namespace kibro
