#include "transfer_platform.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kibro::platform {

namespace {

QString systemReason(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Without replacing what has the name; false with errno set.
bool renameKeepingTarget(const char* from, const char* to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a link never replaces either.
    if (::link(from, to) == 0) {
        ::unlink(from);
        return true;
    }
    if (errno == EEXIST)
        return false;
    struct stat status;
    if (::lstat(to, &status) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from, to) == 0;
}

} // namespace

SaveFile::SaveFile(NativePath path) : m_path(std::move(path)) {}

SaveFile::~SaveFile()
{
    discard();
}

SaveFile::Check SaveFile::create(bool overwrite)
{
    m_overwrite = overwrite;
    if (m_path.isEmpty()) {
        m_handle = STDOUT_FILENO;
        return Check::Ok;
    }
    struct stat status;
    if (!overwrite && ::lstat(m_path.constData(), &status) == 0) {
        m_reason = QStringLiteral("the file exists");
        return Check::Exists;
    }
    if (overwrite && ::stat(m_path.constData(), &status) == 0 && S_ISDIR(status.st_mode)) {
        m_reason = QStringLiteral("is a folder");
        return Check::Refused;
    }
    const qsizetype slash = m_path.lastIndexOf('/');
    const NativePath folder = slash < 0 ? NativePath() : m_path.left(slash + 1);
    const NativePath name = m_path.mid(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temporary = folder + '.' + name + ".kibro-" +
                      QByteArray::number(QRandomGenerator::global()->generate(), 36);
        m_handle = ::open(m_temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_handle >= 0)
            return Check::Ok;
        if (errno != EEXIST)
            break;
    }
    m_reason = systemReason();
    m_temporary.clear();
    return Check::Refused;
}

bool SaveFile::write(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_handle, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // A standard output that is a pipe someone reads slowly.
            ::usleep(1000);
            continue;
        }
        if (n <= 0) {
            m_reason = n < 0 ? systemReason() : QStringLiteral("nothing written");
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

SaveFile::Check SaveFile::place()
{
    if (m_temporary.isEmpty())
        return Check::Ok;
    // A file the user keeps as a backup must be whole on disk before it has its name.
    const bool synced = ::fsync(m_handle) == 0;
    const int syncError = errno;
    const bool closed = ::close(m_handle) == 0;
    m_handle = -1;
    if (!synced || !closed) {
        m_reason = systemReason(synced ? errno : syncError);
        return Check::Refused;
    }
    if (m_overwrite ? ::rename(m_temporary.constData(), m_path.constData()) == 0
                    : renameKeepingTarget(m_temporary.constData(), m_path.constData())) {
        m_temporary.clear();
        return Check::Ok;
    }
    const int error = errno;
    m_reason = QStringLiteral("%1; what came is in %2")
                   .arg(error == EEXIST ? QStringLiteral("a file of that name appeared meanwhile")
                                        : systemReason(error),
                        QString::fromLocal8Bit(m_temporary));
    m_temporary.clear();
    return error == EEXIST ? Check::Exists : Check::Refused;
}

void SaveFile::discard()
{
    if (m_handle > STDOUT_FILENO)
        ::close(m_handle);
    m_handle = -1;
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    m_temporary.clear();
}

} // namespace kibro::platform
