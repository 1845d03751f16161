#pragma once

#include "filenames.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QString>

#include <memory>

namespace kibro {

enum class FileCheck { Ok, Unreadable, TooLarge };

// Why a file is refused as too large, for stderr.
[[nodiscard]] QString tooLargeReason();

// What the send window shows of a file, found by its exact bytes.
struct FileFacts
{
    FileCheck check = FileCheck::Unreadable;
    qint64 size = 0;
    QDateTime modified;
    // Why it cannot be sent, as the system says it, for stderr.
    QString reason;
};

[[nodiscard]] FileFacts inspectFile(const NativePath& path);

struct FileRead
{
    FileCheck check = FileCheck::Unreadable;
    QByteArray bytes;
    QString reason;
};

namespace platform {
class OpenFile;
}

// The whole file, as it is on disk at this moment, held once in memory: one buffer of the size
// it had when opened, filled a slice at a time, so that a caller can stop between slices.
class WholeFileReader
{
public:
    // Read at once: even from a slow disk, well inside the time CANCEL has to answer in.
    static constexpr qint64 kSlice = qint64(256) << 10;

    explicit WholeFileReader(const NativePath& path);
    ~WholeFileReader();
    WholeFileReader(const WholeFileReader&) = delete;
    WholeFileReader& operator=(const WholeFileReader&) = delete;

    // Reads on until the whole file is in or until passes; true once the outcome is known.
    [[nodiscard]] bool readOn(const QDeadlineTimer& until);
    [[nodiscard]] FileRead take() { return std::move(m_read); }

private:
    [[nodiscard]] bool fail(FileCheck check);
    [[nodiscard]] bool succeed();
    [[nodiscard]] bool readSlice();

    std::unique_ptr<platform::OpenFile> m_file;
    FileRead m_read;
    qint64 m_filled = 0;
    // Where a file that grew since it was opened is read into before it is appended.
    QByteArray m_piece;
    bool m_done = false;
};

} // namespace kibro
