#include "diskwatch.h"

#include "diskwatch_platform.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QStorageInfo>

#include <algorithm>
#include <utility>

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
    connect(&m_settle, &QTimer::timeout, this, &DirectoryWatcher::passOn);
    m_relist.setInterval(kRelistInterval);
    connect(&m_relist, &QTimer::timeout, this, &DirectoryWatcher::changed);
    m_fd = platform::openDirectoryEvents();
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &DirectoryWatcher::onNotified);
        return;
    }
    m_fallback = new QFileSystemWatcher(this);
    connect(m_fallback, &QFileSystemWatcher::directoryChanged, this, [this] {
        m_whole = true;
        schedule();
    });
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
    m_names.clear();
    m_whole = false;
    QString refusal;
    if (m_fd >= 0) {
        // Added again even for the same path: the directory there may be another one now (a
        // volume mounted on it or unmounted from it), and the same one keeps its watch.
        const int watch = path.isEmpty() ? -1 : platform::addDirectoryWatch(m_fd, path, refusal);
        if (m_watch >= 0 && m_watch != watch)
            platform::removeDirectoryWatch(m_fd, m_watch);
        m_watch = watch;
        m_path = path;
    } else if (path != m_path) {
        m_path = path;
        if (!m_fallback->directories().isEmpty())
            m_fallback->removePaths(m_fallback->directories());
        if (!path.isEmpty() && !m_fallback->addPath(fromNativePath(path)))
            refusal = QStringLiteral("refused");
    } else {
        return; // watched as it was, or still refused
    }
    if (!refusal.isEmpty()) {
        refused(path, refusal);
        return;
    }
    m_refused.clear();
    m_relist.stop();
}

void DirectoryWatcher::refused(const NativePath& path, const QString& reason)
{
    // Said once a folder, not at every listing while it lasts.
    if (path != m_refused)
        qWarning("kibro: cannot watch %s for changes (%s): listing it again every %lld s",
                 path.constData(), qUtf8Printable(reason),
                 static_cast<long long>(kRelistInterval.count()));
    m_refused = path;
    if (!m_relist.isActive())
        m_relist.start();
}

void DirectoryWatcher::catchUp()
{
    if (m_fd >= 0)
        takeEvents();
    passOn();
}

void DirectoryWatcher::onNotified()
{
    takeEvents();
    if (m_whole || !m_names.isEmpty())
        schedule();
}

void DirectoryWatcher::takeEvents()
{
    for (const platform::DirectoryEvent& event : platform::takeDirectoryEvents(m_fd)) {
        // News of a directory watched before, or of the watch's own removal, is not news.
        if (event.watch != m_watch && !(event.whole && event.watch < 0))
            continue;
        if (event.whole)
            m_whole = true;
        else
            m_names.insert(event.name);
    }
}

void DirectoryWatcher::schedule()
{
    if (m_settle.isActive())
        return;
    using namespace std::chrono;
    const auto costly = ceil<milliseconds>(m_quietUntil - steady_clock::now());
    m_settle.start(std::max<milliseconds>(kSettle, costly));
}

void DirectoryWatcher::passOn()
{
    m_settle.stop();
    if (m_path.isEmpty() || (!m_whole && m_names.isEmpty()))
        return;
    const auto start = std::chrono::steady_clock::now();
    if (m_whole) {
        m_whole = false;
        m_names.clear();
        emit changed();
    } else {
        // Only what the names are now counts: a file made and deleted in between is no news.
        QList<DirectoryEntry> present;
        QList<QByteArray> gone;
        for (const QByteArray& name : std::exchange(m_names, {})) {
            switch (platform::entryKind(childPath(m_path, name))) {
            case platform::EntryKind::Absent:
                gone.append(name);
                break;
            case platform::EntryKind::File:
                present.append({name, false});
                break;
            case platform::EntryKind::Directory:
                present.append({name, true});
                break;
            }
        }
        emit entriesChanged(present, gone);
    }
    const auto end = std::chrono::steady_clock::now();
    m_quietUntil = end + kCostFactor * (end - start);
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
