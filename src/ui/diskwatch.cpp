#include "diskwatch.h"

#include "diskwatch_platform.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QStorageInfo>

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
    m_fd = platform::openDirectoryEvents();
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &DirectoryWatcher::onNotified);
        return;
    }
    m_fallback = new QFileSystemWatcher(this);
    connect(m_fallback, &QFileSystemWatcher::directoryChanged, this,
            [this] { settleStart(m_settle); });
}

DirectoryWatcher::~DirectoryWatcher()
{
    if (m_fd >= 0) {
        delete m_notifier;
        platform::closeWatchHandle(m_fd);
    }
}

void DirectoryWatcher::watch(const NativePath& path)
{
    if (m_fd >= 0) {
        // Added again even for the same path: the directory there may be another one now (a
        // volume unmounted from it), and the same one keeps its watch.
        const int watch = path.isEmpty() ? -1 : platform::addDirectoryWatch(m_fd, path);
        if (m_watch >= 0 && m_watch != watch)
            platform::removeDirectoryWatch(m_fd, m_watch);
        m_watch = watch;
        m_path = path;
        return;
    }
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
    if (platform::drainDirectoryEvents(m_fd))
        settleStart(m_settle);
}

VolumeWatcher::VolumeWatcher(QObject* parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(DirectoryWatcher::kSettle);
    connect(&m_settle, &QTimer::timeout, this, &VolumeWatcher::changed);
    m_fd = platform::openMountTable();
    if (m_fd >= 0) {
        onMountTableChanged(); // read once, so that only later changes are signalled
        m_settle.stop();
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &VolumeWatcher::onMountTableChanged);
        return;
    }
    m_roots = volumeRoots();
    m_poll.setInterval(kPollInterval);
    connect(&m_poll, &QTimer::timeout, this, &VolumeWatcher::onPoll);
    m_poll.start();
}

VolumeWatcher::~VolumeWatcher()
{
    if (m_fd >= 0) {
        delete m_notifier;
        platform::closeWatchHandle(m_fd);
    }
}

QStringList VolumeWatcher::volumeRoots()
{
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            roots << volume.rootPath();
    }
    if (!roots.contains(QDir::rootPath()))
        roots.prepend(QDir::rootPath());
    roots.removeDuplicates();
    roots.sort();
    return roots;
}

void VolumeWatcher::onMountTableChanged()
{
    // The mark stays until the table is read again: read it through, or the notifier fires
    // without end.
    platform::rereadMountTable(m_fd);
    settleStart(m_settle);
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
