#include "portholder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>

namespace kibro {

namespace {

// The largest PID the system hands out; above it (or above what pid_t holds, where a cast
// would turn 4294967295 into kill(-1)) no process can be.
[[nodiscard]] qint64 largestPid()
{
    QFile limit(QStringLiteral("/proc/sys/kernel/pid_max"));
    bool number = false;
    const qint64 pidMax =
        limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toLongLong(&number) : 0;
    return number && pidMax > 0 ? std::min<qint64>(pidMax, std::numeric_limits<pid_t>::max())
                                : std::numeric_limits<pid_t>::max();
}

[[nodiscard]] bool isAlive(qint64 pid)
{
    if (pid <= 0 || pid > largestPid())
        return false;
    // EPERM: it exists, under another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

[[nodiscard]] QString programOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// The name of the program holding a lock: the running one's, which no file can misstate.
[[nodiscard]] PortHolder named(PortHolder holder)
{
    if (QString running = programOf(holder.pid); !running.isEmpty())
        holder.program = running;
    return holder;
}

enum class Stale { Keep, Remove };

[[nodiscard]] std::optional<PortHolder> fromLockFile(const QString& device, Stale stale)
{
    for (const QString& path : lockFileCandidates(device)) {
        const auto holder = readLockFile(path);
        if (!holder)
            continue;
        if (isAlive(holder->pid))
            return named(*holder);
        // One that cannot go (another user's, in a sticky directory) is left for QSerialPort
        // to judge: only the directory it locks in matters to it.
        if (stale == Stale::Remove)
            QFile::remove(path);
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

std::optional<PortHolder> readLockFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Every form fits well within this; anything longer is not a lock file.
    constexpr qint64 kLargest = 4096;
    const QByteArray bytes = file.read(kLargest);
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '\n';
    });
    if (bytes.size() == qsizetype(sizeof(int)) && !ascii) {
        int pid = 0;
        std::memcpy(&pid, bytes.constData(), sizeof pid);
        return PortHolder{pid, {}};
    }
    const QList<QByteArray> lines = bytes.split('\n');
    const QList<QByteArray> words = lines.value(0).simplified().split(' ');
    bool number = false;
    const qint64 pid = words.value(0).toLongLong(&number);
    if (!number)
        return std::nullopt;
    const QByteArray program = words.size() > 1 ? words.value(1) : lines.value(1).trimmed();
    return PortHolder{pid, QString::fromLocal8Bit(program)};
}

QStringList lockFileCandidates(const QString& device)
{
    // The name QSerialPort locks under, and the bare device name minicom and picocom use;
    // for a link (/dev/serial/by-id/...) both again for the device behind it.
    QStringList names;
    const QString target = QFileInfo(device).canonicalFilePath();
    for (const QString& path : {device, target}) {
        if (path.isEmpty())
            continue;
        QString qtName = path.startsWith(QStringLiteral("/dev/")) ? path.mid(5) : path;
        names << qtName.replace(u'/', u'_') << QFileInfo(path).fileName();
    }
    names.removeDuplicates();

    QStringList directories;
    if (qEnvironmentVariableIsSet("KIBRO_LOCK_DIRS")) {
        directories = qEnvironmentVariable("KIBRO_LOCK_DIRS").split(u':', Qt::SkipEmptyParts);
    } else {
        directories = {QStringLiteral("/var/lock"),
                       QStringLiteral("/etc/locks"),
                       QStringLiteral("/var/spool/locks"),
                       QStringLiteral("/var/spool/uucp"),
                       QStringLiteral("/tmp"),
                       QStringLiteral("/var/tmp"),
                       QStringLiteral("/var/lock/lockdev"),
                       QStringLiteral("/run/lock"),
                       QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    }
    // /var/lock is /run/lock on most systems: each directory once.
    for (QString& directory : directories)
        directory = QFileInfo(directory).canonicalFilePath();
    directories.removeAll(QString());
    directories.removeDuplicates();
    QStringList paths;
    for (const QString& directory : directories) {
        for (const QString& name : names)
            paths.append(directory + QStringLiteral("/LCK..") + name);
    }
    return paths;
}

std::optional<PortHolder> findPortHolder(const QString& device)
{
    if (auto holder = fromLockFile(device, Stale::Keep))
        return holder;
    return fromOpenFiles(device);
}

std::optional<PortHolder> lockHolder(const QString& device)
{
    return fromLockFile(device, Stale::Remove);
}

} // namespace kibro
