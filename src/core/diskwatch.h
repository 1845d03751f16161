#pragma once

#include "filenames.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <chrono>

class QFileSystemWatcher;
class QSocketNotifier;

namespace kibro {

// Says what changed in one directory: the entries added or removed by name, or, when the
// system cannot name them (the fallback, lost news) or the directory itself goes, that it
// must be listed anew. News is passed on at most once a settle interval, and no sooner than
// kCostFactor times what taking in the last news took: a big folder that never rests costs a
// bounded share of the time, however fast it changes.
class DirectoryWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kSettle{250};
    static constexpr int kCostFactor = 20;
    // While the system refuses to watch the directory, it is listed anew this often.
    static constexpr std::chrono::seconds kRelistInterval{2};

    explicit DirectoryWatcher(QObject* parent = nullptr);
    ~DirectoryWatcher() override;

    // Watches path instead of what was watched before; an empty path watches nothing. Call
    // before listing it: news from before is dropped, and an entry made while it is listed is
    // news. A watch the system refuses is made up for by listing anew now and then.
    void watch(const NativePath& path);
    // Passes on at once what the system has said so far, without waiting out the interval.
    void catchUp();

signals:
    void changed();
    // The named entries as they are now: present (a link as what it points to), or gone.
    void entriesChanged(const QList<kibro::DirectoryEntry>& present, const QList<QByteArray>& gone);

private:
    void onNotified();
    void takeEvents();
    void schedule();
    void passOn();
    void refused(const NativePath& path, const QString& reason);

    NativePath m_path;
    QTimer m_settle;
    QTimer m_relist;
    NativePath m_refused;
    QSet<QByteArray> m_names;
    bool m_whole = false;
    std::chrono::steady_clock::time_point m_quietUntil;
    int m_fd = -1;
    int m_watch = -1;
    QSocketNotifier* m_notifier = nullptr;
    QFileSystemWatcher* m_fallback = nullptr;
};

// Says when a volume is mounted or unmounted. On Linux the kernel tells through the mount
// table; elsewhere the volumes are compared at a low rate.
class VolumeWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kPollInterval{3};

    explicit VolumeWatcher(QObject* parent = nullptr);
    ~VolumeWatcher() override;

    // The root paths of the mounted volumes, sorted, the system's root always among them.
    [[nodiscard]] static QStringList volumeRoots();

signals:
    void changed();

private:
    void onMountTableChanged();
    void onPoll();

    QTimer m_settle;
    QTimer m_poll;
    QStringList m_roots;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kibro
