#pragma once

// Files by the bytes of their names, which Qt's own file classes cannot reach when the bytes
// are not valid UTF-8.
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

inline bool writeRawFile(const QByteArray& path, const QByteArray& bytes = {})
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
    return ::close(fd) == 0 && written;
}

// A temporary directory that is removed whatever the names in it: QTemporaryDir alone leaves
// behind entries whose names do not decode.
class RawTemporaryDir
{
public:
    RawTemporaryDir() { m_dir.setAutoRemove(false); }
    ~RawTemporaryDir()
    {
        if (!m_dir.isValid())
            return;
        ::nftw(
            path().constData(),
            [](const char* entry, const struct stat*, int, struct FTW*) {
                ::remove(entry);
                return 0;
            },
            16, FTW_DEPTH | FTW_PHYS);
    }
    RawTemporaryDir(const RawTemporaryDir&) = delete;
    RawTemporaryDir& operator=(const RawTemporaryDir&) = delete;

    [[nodiscard]] bool isValid() const { return m_dir.isValid(); }
    [[nodiscard]] QByteArray path() const { return QFile::encodeName(m_dir.path()); }

private:
    QTemporaryDir m_dir;
};
