#pragma once

#include "filenames.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>

class QFileSystemWatcher;
class QSocketNotifier;

namespace kibro {

// Says when the entries of one directory change (added, removed, renamed) or the directory
// itself goes. Bursts, such as a folder being copied in, come out as one change; a folder
// that never stops changing, as one change a settle interval.
class DirectoryWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kSettle{250};

    explicit DirectoryWatcher(QObject* parent = nullptr);
    ~DirectoryWatcher() override;

    // Watches path instead of what was watched before; an empty path watches nothing.
    void watch(const NativePath& path);

signals:
    void changed();

private:
    void onNotified();

    NativePath m_path;
    QTimer m_settle;
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
