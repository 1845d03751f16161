#include "filenames.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kibro {

namespace {

constexpr char kSeparator = '/';

} // namespace

NativePath toNativePath(const QString& path)
{
    return QFile::encodeName(path);
}

QString fromNativePath(const NativePath& path)
{
    return QFile::decodeName(path);
}

QByteArray baseName(const NativePath& path)
{
    return path.mid(path.lastIndexOf(kSeparator) + 1);
}

NativePath cleanNativePath(const NativePath& path)
{
    QByteArray absolute = path;
    if (!absolute.startsWith(kSeparator)) {
        char* cwd = ::getcwd(nullptr, 0);
        absolute = QByteArray(cwd ? cwd : "/") + kSeparator + absolute;
        ::free(cwd);
    }
    // By bytes: a name component is never decoded, so no name can be mangled here.
    QList<QByteArray> parts;
    for (const QByteArray& part : absolute.split(kSeparator)) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return QByteArray(1, kSeparator) + parts.join(kSeparator);
}

NativePath resolveLinks(const NativePath& path)
{
    char* real = ::realpath(path.constData(), nullptr);
    if (!real)
        return path;
    NativePath resolved(real);
    std::free(real);
    return resolved;
}

std::optional<QList<DirectoryEntry>> listDirectory(const NativePath& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    QList<DirectoryEntry> entries;
    bool failed = false;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            failed = errno != 0;
            break;
        }
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status;
            isDirectory = ::fstatat(fd, entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
        }
        entries.append({name, isDirectory});
    }
    ::closedir(dir);
    if (failed)
        return std::nullopt;
    return entries;
}

NativePath nearestExistingDirectory(const NativePath& path)
{
    NativePath candidate = cleanNativePath(path);
    for (;;) {
        struct stat status;
        if (::stat(candidate.constData(), &status) == 0 && S_ISDIR(status.st_mode))
            return candidate;
        const qsizetype slash = candidate.lastIndexOf(kSeparator);
        if (slash < 0 || candidate.size() <= 1)
            return {};
        candidate = slash == 0 ? QByteArray(1, kSeparator) : candidate.left(slash);
    }
}

} // namespace kibro
