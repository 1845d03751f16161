#include "fileread.h"

#include "transfer_platform.h"

#include <algorithm>
#include <limits>
#include <new>

namespace kibro {

namespace {

constexpr qint64 kLargest = std::numeric_limits<qint32>::max();

// Reads and appends in pieces of this size once a file has outgrown its size.
constexpr qint64 kPiece = qint64(1) << 20;

} // namespace

QString tooLargeReason()
{
    return QStringLiteral("larger than the 2147483647 bytes a transfer counts");
}

FileFacts inspectFile(const NativePath& path)
{
    FileFacts facts;
    if (!platform::readableFileFacts(path, facts))
        return facts;
    facts.check = facts.size > kLargest ? FileCheck::TooLarge : FileCheck::Ok;
    if (facts.check == FileCheck::TooLarge)
        facts.reason = tooLargeReason();
    return facts;
}

WholeFileReader::WholeFileReader(const NativePath& path)
    : m_file(std::make_unique<platform::OpenFile>(path))
{
    if (!m_file->isRegular()) {
        (void)fail(FileCheck::Unreadable);
        return;
    }
    const qint64 size = m_file->size();
    if (size > kLargest) {
        (void)fail(FileCheck::TooLarge);
        return;
    }
    // One buffer of the file's size, read straight into: the file is held once, not grown
    // piece by piece through copies. Its pages are touched only as slices arrive.
    try {
        m_read.bytes = QByteArray(size, Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        (void)fail(FileCheck::TooLarge);
        return;
    }
    platform::adviseLargeBuffer(m_read.bytes.data(), size);
}

WholeFileReader::~WholeFileReader() = default;

bool WholeFileReader::fail(FileCheck check)
{
    m_read.check = check;
    m_read.reason = check == FileCheck::TooLarge ? tooLargeReason() : m_file->reason();
    m_read.bytes = QByteArray();
    m_done = true;
    return true;
}

bool WholeFileReader::readOn(const QDeadlineTimer& until)
{
    while (!m_done && !readSlice() && !until.hasExpired()) {
    }
    return m_done;
}

bool WholeFileReader::readSlice()
{
    QByteArray& bytes = m_read.bytes;
    if (m_filled < bytes.size()) {
        const qint64 want = std::min<qint64>(WholeFileReader::kSlice, bytes.size() - m_filled);
        const qint64 got = m_file->read(bytes.data() + m_filled, want);
        if (got < 0)
            return fail(FileCheck::Unreadable);
        m_filled += got;
        if (got < want) {
            // Shorter now than a moment ago: what is there is the file.
            bytes.truncate(m_filled);
            return succeed();
        }
        // Whether a full buffer is the end is asked at once: a file of one slice is then read
        // in one call, whatever the clock says.
        if (m_filled < bytes.size())
            return false;
    }
    // Longer now: the rest belongs to it too, up to the size a transfer can count. One byte
    // tells whether there is more before a piece's buffer is taken for it.
    char byte = 0;
    char* into = m_piece.isEmpty() ? &byte : m_piece.data();
    const qint64 got = m_file->read(into, m_piece.isEmpty() ? 1 : kPiece);
    if (got < 0)
        return fail(FileCheck::Unreadable);
    if (got == 0)
        return succeed();
    if (bytes.size() + got > kLargest)
        return fail(FileCheck::TooLarge);
    bytes.append(into, got);
    m_filled = bytes.size();
    if (m_piece.isEmpty())
        m_piece = QByteArray(kPiece, Qt::Uninitialized);
    return false;
}

bool WholeFileReader::succeed()
{
    m_read.check = FileCheck::Ok;
    m_done = true;
    return true;
}

} // namespace kibro
