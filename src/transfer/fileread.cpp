#include "fileread.h"

#include <QFile>

#include <limits>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kibro {

FileCheck checkSendable(const QFileInfo& info)
{
    // Only a regular file has an end: a FIFO or a device would block the window or never end.
    if (!info.exists() || !info.isFile() || !info.isReadable())
        return FileCheck::Unreadable;
    if (info.size() > std::numeric_limits<qint32>::max())
        return FileCheck::TooLarge;
    return FileCheck::Ok;
}

QString fileCheckText(FileCheck check)
{
    switch (check) {
    case FileCheck::TooLarge:
        return QStringLiteral("ファイルが大きすぎます。");
    case FileCheck::Unreadable:
        return QStringLiteral("ファイルを読み込めません。");
    case FileCheck::Ok:
        break;
    }
    return {};
}

FileRead readWholeFile(const QString& path)
{
    FileRead result;
    QFile file(path);
    const QFileInfo info(path);
    result.check = checkSendable(info);
    if (result.check != FileCheck::Ok)
        return result;
#if defined(Q_OS_UNIX)
    // Opened without waiting and checked again on the open handle: a FIFO put in the file's
    // place after the check above must not block the window in open() or read().
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        result.check = FileCheck::Unreadable;
        return result;
    }
#else
    if (!file.open(QIODevice::ReadOnly)) {
        result.check = FileCheck::Unreadable;
        return result;
    }
#endif
    // Read to the end rather than to the size seen a moment ago: the file may be changing.
    QByteArray bytes;
    for (;;) {
        const QByteArray chunk = file.read(1 << 20);
        if (chunk.isEmpty())
            break;
        bytes.append(chunk);
        if (bytes.size() > std::numeric_limits<qint32>::max()) {
            result.check = FileCheck::TooLarge;
            return result;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        result.check = FileCheck::Unreadable;
        return result;
    }
    result.bytes = std::move(bytes);
    return result;
}

QString dateTimeText(const QDateTime& stamp)
{
    return stamp.toLocalTime().toString(QStringLiteral("yyyy/MM/dd H:mm:ss"));
}

} // namespace kibro
