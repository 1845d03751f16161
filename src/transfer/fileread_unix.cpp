#include "transfer_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kibro::platform {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// What is not a regular file is, in the words stderr uses.
QString notRegularReason(const struct stat& status)
{
    return S_ISDIR(status.st_mode) ? QStringLiteral("is a folder")
                                   : QStringLiteral("not a regular file");
}

} // namespace

bool readableFileFacts(const NativePath& path, FileFacts& facts)
{
    struct stat status;
    if (::stat(path.constData(), &status) != 0 || ::access(path.constData(), R_OK) != 0) {
        facts.reason = systemReason();
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        facts.reason = notRegularReason(status);
        return false;
    }
    facts.size = status.st_size;
    facts.modified = QDateTime::fromSecsSinceEpoch(status.st_mtime);
    return true;
}

OpenFile::OpenFile(const NativePath& path)
{
    // Opened without waiting and checked on the open handle: a FIFO put in the file's place
    // after the window looked must not block the window in open() or read().
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        m_reason = systemReason();
        return;
    }
    m_handle = fd;
    struct stat status;
    if (::fstat(fd, &status) != 0)
        m_reason = systemReason();
    else if (!S_ISREG(status.st_mode))
        m_reason = notRegularReason(status);
    else
        m_size = status.st_size;
}

OpenFile::~OpenFile()
{
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
}

qint64 OpenFile::read(char* into, qint64 count)
{
    const auto fd = static_cast<int>(m_handle);
    qint64 done = 0;
    while (done < count) {
        // One read() returns at most about 2 GiB on Linux: ask in steps below that.
        const auto step = static_cast<size_t>(std::min<qint64>(count - done, qint64(1) << 30));
        const ssize_t got = ::read(fd, into + done, step);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            m_reason = systemReason();
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

// 2 MiB pages where the system offers them on request: filling 2 GiB in 4 KiB pages costs
// half a million page faults, several times the reading itself.
void adviseLargeBuffer([[maybe_unused]] char* data, [[maybe_unused]] qint64 size)
{
#if defined(MADV_HUGEPAGE)
    constexpr quintptr kHuge = quintptr(2) << 20;
    if (size < qint64(kHuge) * 4)
        return;
    const quintptr first = (reinterpret_cast<quintptr>(data) + kHuge - 1) & ~(kHuge - 1);
    const quintptr last = (reinterpret_cast<quintptr>(data) + quintptr(size)) & ~(kHuge - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

} // namespace kibro::platform
