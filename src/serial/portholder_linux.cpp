#include "portholder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <csignal>

namespace kibro {

namespace {

[[nodiscard]] bool isAlive(qint64 pid)
{
    // EPERM: it exists, under another user.
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

[[nodiscard]] QString programOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

[[nodiscard]] std::optional<PortHolder> fromLockFile(const QString& device)
{
    for (const QString& path : lockFileCandidates(device)) {
        if (!QFileInfo::exists(path))
            continue;
        qint64 pid = 0;
        QString host;
        QString application;
        if (!QLockFile(path).getLockInfo(&pid, &host, &application) || !isAlive(pid))
            continue;
        const QString running = programOf(pid);
        return PortHolder{pid, running.isEmpty() ? application : running};
    }
    return std::nullopt;
}

// Only run when an open has failed, so the walk over /proc costs nothing in normal use;
// processes of other users are simply not readable and are passed over.
[[nodiscard]] std::optional<PortHolder> fromOpenFiles(const QString& device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return std::nullopt;
    const QDir proc(QStringLiteral("/proc"));
    const QStringList processes = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : processes) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QDir fds(proc.filePath(name + QStringLiteral("/fd")));
        const QStringList entries =
            fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : entries) {
            if (QFile::symLinkTarget(fds.filePath(fd)) == target)
                return PortHolder{pid, programOf(pid)};
        }
    }
    return std::nullopt;
}

} // namespace

QStringList lockFileCandidates(const QString& device)
{
    QString name = device.startsWith(QStringLiteral("/dev/")) ? device.mid(5) : device;
    name.replace(u'/', u'_');
    QStringList directories{QStringLiteral("/var/lock"),
                            QStringLiteral("/etc/locks"),
                            QStringLiteral("/var/spool/locks"),
                            QStringLiteral("/var/spool/uucp"),
                            QStringLiteral("/tmp"),
                            QStringLiteral("/var/tmp"),
                            QStringLiteral("/var/lock/lockdev"),
                            QStringLiteral("/run/lock"),
                            QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    directories.removeDuplicates();
    QStringList paths;
    for (const QString& directory : directories)
        paths.append(directory + QStringLiteral("/LCK..") + name);
    return paths;
}

std::optional<PortHolder> findPortHolder(const QString& device)
{
    if (auto holder = fromLockFile(device))
        return holder;
    return fromOpenFiles(device);
}

} // namespace kibro
