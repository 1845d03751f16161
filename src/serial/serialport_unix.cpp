#include "serial_platform.h"

#include "portholder.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kibro::platform {

namespace {

[[nodiscard]] QString inUseBy(const PortHolder& holder)
{
    return holder.program.isEmpty()
               ? QStringLiteral("in use by process %1").arg(holder.pid)
               : QStringLiteral("in use by process %1 (%2)").arg(holder.pid).arg(holder.program);
}

} // namespace

QString lockedBy(const QString& device)
{
    const auto holder = lockHolder(device);
    return holder ? inUseBy(*holder) : QString();
}

QString busyReason(const QString& device)
{
    // QSerialPort says "permission" both for a device we may not open and for one another
    // program has locked or opened exclusively; only the first is about permissions.
    if (const auto holder = findPortHolder(device))
        return inUseBy(*holder);
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0)
        return QStringLiteral("in use by another program");
    return {};
}

qint64 writeToDriver(qintptr handle, const QByteArray& bytes, QString& failure)
{
    const ssize_t written = ::write(static_cast<int>(handle), bytes.constData(), bytes.size());
    if (written >= 0)
        return written;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    failure = QString::fromLocal8Bit(std::strerror(errno));
    return -1;
}

void readFromDriver(qintptr handle, QByteArray& into)
{
    char piece[4096];
    ssize_t n = 0;
    while ((n = ::read(static_cast<int>(handle), piece, sizeof piece)) > 0 ||
           (n < 0 && errno == EINTR))
        if (n > 0)
            into.append(piece, n);
}

bool lineHungUp(qintptr handle)
{
    pollfd line{static_cast<int>(handle), POLLIN, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

qint64 driverQueue(qintptr handle, QSerialPort::Direction direction)
{
    int queued = 0;
    const unsigned long request = direction == QSerialPort::Output ? TIOCOUTQ : FIONREAD;
    if (::ioctl(static_cast<int>(handle), request, &queued) == 0)
        return queued;
    return 0;
}

} // namespace kibro::platform
