#pragma once

// How a file is looked at and read on this system, one file a platform.

#include "fileread.h"

namespace kibro::platform {

// Size and time of a regular file this user may read; false for anything else.
[[nodiscard]] bool readableFileFacts(const NativePath& path, FileFacts& facts);

// A file opened for reading, kept only when the opened file is a regular one.
class OpenFile
{
public:
    explicit OpenFile(const NativePath& path);
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    [[nodiscard]] bool isRegular() const noexcept { return m_size >= 0; }
    // The size when opened.
    [[nodiscard]] qint64 size() const noexcept { return m_size; }
    // Reads until count bytes are in or the end comes; -1 on an error.
    [[nodiscard]] qint64 read(char* into, qint64 count);

private:
    qintptr m_handle = -1;
    qint64 m_size = -1;
};

// A hint that a large buffer is about to be filled; the system may back it with large pages.
void adviseLargeBuffer(char* data, qint64 size);

} // namespace kibro::platform
