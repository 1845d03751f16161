#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

// A folder that takes no new file, or one that is full after 16 KiB: a tmpfs of its own where
// the test may mount one, else, for no new file, a folder without write permission (which
// does not stop root). Not ready when neither works: the test skips.
class NarrowFolder
{
public:
    enum class Kind { ReadOnly, Full };

    explicit NarrowFolder(Kind kind)
    {
        const QByteArray path = QFile::encodeName(m_dir.path());
        m_mounted = ::mount("tmpfs", path.constData(), "tmpfs",
                            kind == Kind::ReadOnly ? MS_RDONLY : 0, "size=16k") == 0;
        if (!m_mounted && kind == Kind::ReadOnly && ::geteuid() != 0)
            m_ready = QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        m_ready = m_ready || m_mounted;
    }
    ~NarrowFolder()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    NarrowFolder(const NarrowFolder&) = delete;
    NarrowFolder& operator=(const NarrowFolder&) = delete;

    [[nodiscard]] bool isReady() const { return m_ready; }
    [[nodiscard]] QString path() const { return m_dir.path(); }
    // Every entry, hidden ones too: a temporary file left behind shows.
    [[nodiscard]] QStringList entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    bool m_ready = false;
};
