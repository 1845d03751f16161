#include "fileread.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kibro {

namespace {

constexpr qint64 kLargest = std::numeric_limits<qint32>::max();
// Reads and appends in pieces of this size once a file has outgrown its size.
constexpr qint64 kPiece = qint64(1) << 20;

#if defined(Q_OS_UNIX)
// Read until count bytes are in or the end comes; -1 on an error.
qint64 readFully(int fd, char* into, qint64 count)
{
    qint64 done = 0;
    while (done < count) {
        // One read() returns at most about 2 GiB on Linux: ask in steps below that.
        const auto step = static_cast<size_t>(std::min<qint64>(count - done, qint64(1) << 30));
        const ssize_t got = ::read(fd, into + done, step);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}
#endif

// A large buffer in 2 MiB pages where the system offers them on request: filling 2 GiB in
// 4 KiB pages costs half a million page faults, several times the reading itself.
void adviseLargeBuffer([[maybe_unused]] char* data, [[maybe_unused]] qint64 size)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr quintptr kHuge = quintptr(2) << 20;
    if (size < qint64(kHuge) * 4)
        return;
    const quintptr first = (reinterpret_cast<quintptr>(data) + kHuge - 1) & ~(kHuge - 1);
    const quintptr last = (reinterpret_cast<quintptr>(data) + quintptr(size)) & ~(kHuge - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

} // namespace

FileCheck checkSendable(const QFileInfo& info)
{
    // Only a regular file has an end: a FIFO or a device would block the window or never end.
    if (!info.exists() || !info.isFile() || !info.isReadable())
        return FileCheck::Unreadable;
    if (info.size() > kLargest)
        return FileCheck::TooLarge;
    return FileCheck::Ok;
}

FileFacts inspectFile(const NativePath& path)
{
    FileFacts facts;
#if defined(Q_OS_UNIX)
    struct stat status;
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
        ::access(path.constData(), R_OK) != 0)
        return facts;
    facts.size = status.st_size;
    facts.modified = QDateTime::fromSecsSinceEpoch(status.st_mtime);
#else
    const QFileInfo info(fromNativePath(path));
    facts.check = checkSendable(info);
    if (facts.check == FileCheck::Unreadable)
        return facts;
    facts.size = info.size();
    facts.modified = info.lastModified();
#endif
    facts.check = facts.size > kLargest ? FileCheck::TooLarge : FileCheck::Ok;
    return facts;
}

FileRead readWholeFile(const QString& path)
{
    return readWholeFile(toNativePath(path));
}

FileRead readWholeFile(const NativePath& path)
{
    FileRead result;
    qint64 size = 0;
#if defined(Q_OS_UNIX)
    // Opened without waiting and checked on the open handle: a FIFO put in the file's place
    // after the window looked must not block the window in open() or read().
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return result;
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return result;
    size = status.st_size;
    const auto readInto = [fd](char* into, qint64 count) { return readFully(fd, into, count); };
#else
    QFile file(fromNativePath(path));
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return result;
    size = file.size();
    const auto readInto = [&file](char* into, qint64 count) -> qint64 {
        qint64 done = 0;
        while (done < count) {
            const qint64 got = file.read(into + done, count - done);
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            done += got;
        }
        return done;
    };
#endif
    if (size > kLargest) {
        result.check = FileCheck::TooLarge;
        return result;
    }

    // One buffer of the file's size, read straight into: the file is held once, not grown
    // piece by piece through copies.
    QByteArray bytes;
    try {
        bytes = QByteArray(size, Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        result.check = FileCheck::TooLarge;
        return result;
    }
    adviseLargeBuffer(bytes.data(), size);
    const qint64 got = readInto(bytes.data(), size);
    if (got < 0)
        return result;
    if (got < size) {
        // Shorter now than a moment ago: what is there is the file.
        bytes.truncate(got);
    } else {
        // Longer now: the rest belongs to it too, up to the size a transfer can count. One
        // byte probes for it, so that the common case never touches the full buffer again.
        char probe = 0;
        qint64 more = readInto(&probe, 1);
        if (more > 0) {
            QByteArray piece(kPiece, Qt::Uninitialized);
            piece[0] = probe;
            for (qint64 fill = 1; more > 0; fill = 0) {
                more = readInto(piece.data() + fill, kPiece - fill);
                if (more < 0)
                    return result;
                if (bytes.size() + fill + more > kLargest) {
                    result.check = FileCheck::TooLarge;
                    return result;
                }
                bytes.append(piece.constData(), fill + more);
            }
        }
        if (more < 0)
            return result;
    }
    result.check = FileCheck::Ok;
    result.bytes = std::move(bytes);
    return result;
}

} // namespace kibro
