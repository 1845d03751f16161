#include "testdata.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace testdata {

QString openFailedText(int port)
{
    return QStringLiteral("COM%1が開けません。").arg(port);
}

QString reopenFailedText(int port)
{
    return QStringLiteral("COM%1が開けませんでした。").arg(port);
}

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(static_cast<char>(value));
    return bytes;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    auto* generator = QRandomGenerator::global();
    for (char& byte : bytes)
        byte = static_cast<char>(generator->bounded(256));
    return bytes;
}

qsizetype ptyCapacity()
{
    static const qsizetype capacity = [] {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0)
            qFatal("posix_openpt: %s", std::strerror(errno));
        if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
            qFatal("unlockpt: %s", std::strerror(errno));
        const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave < 0)
            qFatal("open pty slave: %s", std::strerror(errno));
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        qsizetype total = 0;
        std::array<char, 512> chunk{};
        for (;;) {
            const ssize_t n = ::write(slave, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            total += n;
        }
        ::close(slave);
        ::close(master);
        return total;
    }();
    return capacity;
}

qsizetype midFileSize()
{
    return std::max<qsizetype>(48 * 1024, 2 * ptyCapacity() + 8 * 1024);
}

bool drainEvents()
{
    // Each round's events may post more; three rounds reach what a handler's handler posts.
    for (int round = 0; round < 3; ++round) {
        bool reached = false;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&reached] { reached = true; }, Qt::QueuedConnection);
        if (!QTest::qWaitFor([&reached] { return reached; }, 15000))
            return false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

QString prefixProblem(const QByteArray& received, const QByteArray& file)
{
    if (received.size() > file.size())
        return QStringLiteral("received %1 bytes of a %2-byte file")
            .arg(received.size())
            .arg(file.size());
    if (!file.startsWith(received)) {
        qsizetype at = 0;
        while (at < received.size() && received[at] == file[at])
            ++at;
        return QStringLiteral("received bytes differ from the file at offset %1").arg(at);
    }
    return {};
}

std::chrono::microseconds processCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

} // namespace testdata
