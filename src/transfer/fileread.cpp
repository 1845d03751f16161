#include "fileread.h"

#include "transfer_platform.h"

#include <limits>
#include <new>

namespace kibro {

namespace {

constexpr qint64 kLargest = std::numeric_limits<qint32>::max();
const QString kTooLargeReason =
    QStringLiteral("larger than the 2147483647 bytes a transfer counts");

// Reads and appends in pieces of this size once a file has outgrown its size.
constexpr qint64 kPiece = qint64(1) << 20;

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
    if (!platform::readableFileFacts(path, facts))
        return facts;
    facts.check = facts.size > kLargest ? FileCheck::TooLarge : FileCheck::Ok;
    if (facts.check == FileCheck::TooLarge)
        facts.reason = kTooLargeReason;
    return facts;
}

FileRead readWholeFile(const QString& path)
{
    return readWholeFile(toNativePath(path));
}

FileRead readWholeFile(const NativePath& path)
{
    FileRead result;
    platform::OpenFile file(path);
    // Whatever goes wrong from here, the file says why.
    const auto failed = [&](FileCheck check) {
        result.check = check;
        result.reason = check == FileCheck::TooLarge ? kTooLargeReason : file.reason();
        result.bytes.clear();
        return result;
    };
    if (!file.isRegular())
        return failed(FileCheck::Unreadable);
    const qint64 size = file.size();
    if (size > kLargest)
        return failed(FileCheck::TooLarge);

    // One buffer of the file's size, read straight into: the file is held once, not grown
    // piece by piece through copies.
    QByteArray bytes;
    try {
        bytes = QByteArray(size, Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        return failed(FileCheck::TooLarge);
    }
    platform::adviseLargeBuffer(bytes.data(), size);
    const qint64 got = file.read(bytes.data(), size);
    if (got < 0)
        return failed(FileCheck::Unreadable);
    if (got < size) {
        // Shorter now than a moment ago: what is there is the file.
        bytes.truncate(got);
    } else {
        // Longer now: the rest belongs to it too, up to the size a transfer can count. One
        // byte probes for it, so that the common case never touches the full buffer again.
        char probe = 0;
        qint64 more = file.read(&probe, 1);
        if (more > 0) {
            QByteArray piece(kPiece, Qt::Uninitialized);
            piece[0] = probe;
            for (qint64 fill = 1; more > 0; fill = 0) {
                more = file.read(piece.data() + fill, kPiece - fill);
                if (more < 0)
                    return failed(FileCheck::Unreadable);
                if (bytes.size() + fill + more > kLargest)
                    return failed(FileCheck::TooLarge);
                bytes.append(piece.constData(), fill + more);
            }
        }
        if (more < 0)
            return failed(FileCheck::Unreadable);
    }
    result.check = FileCheck::Ok;
    result.bytes = std::move(bytes);
    return result;
}

} // namespace kibro
