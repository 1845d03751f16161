#pragma once

// What the transfer layer asks of the system: how a file is looked at and read, and a wake at
// a moment on the steady clock. A file or two a platform.

#include "fileread.h"

#include <chrono>

namespace kibro::platform {

// Size and time of a regular file this user may read; false, with facts.reason, for anything
// else.
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
    // Why the last open or read failed, as the system says it.
    [[nodiscard]] QString reason() const { return m_reason; }

private:
    qintptr m_handle = -1;
    qint64 m_size = -1;
    QString m_reason;
};

// What came from the line, written as it comes. A file is made under a hidden temporary name
// beside its own and takes its name only when placed, so a half-written file never carries
// it; standard output (an empty path) is written straight.
class SaveFile
{
public:
    enum class Check { Ok, Exists, Refused };

    explicit SaveFile(NativePath path);
    // Removes a temporary file that was not placed.
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Refused when the name is taken and overwrite is not given, or the folder takes no file.
    [[nodiscard]] Check create(bool overwrite);
    // All of it, or false with the reason.
    [[nodiscard]] bool write(const char* data, qint64 size);
    // On disk, then under its name. A name taken meanwhile is not overwritten: the bytes stay
    // in the temporary file, which the reason names.
    [[nodiscard]] Check place();
    void discard();
    [[nodiscard]] QString reason() const { return m_reason; }

private:
    NativePath m_path;
    NativePath m_temporary;
    int m_handle = -1;
    bool m_overwrite = false;
    QString m_reason;
};

// A hint that a large buffer is about to be filled; the system may back it with large pages.
void adviseLargeBuffer(char* data, qint64 size);

// A handle that turns readable at the moment armed, or -1 where the system has none and the
// wake falls back to a millisecond timer.
[[nodiscard]] int openWakeHandle();
// Replaces the moment armed; false when it cannot be set, which leaves the fallback to wake.
[[nodiscard]] bool armWakeHandle(int handle, std::chrono::steady_clock::time_point deadline);
void disarmWakeHandle(int handle);
void closeWakeHandle(int handle);

} // namespace kibro::platform
