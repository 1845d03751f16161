#pragma once

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

// A settings store of its own for one test: the program's store file lives in a temporary
// directory, and ports are mapped to pseudo-terminals through its "Ports" group.
class TestStore
{
public:
    TestStore() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path()); }
    TestStore(const TestStore&) = delete;
    TestStore& operator=(const TestStore&) = delete;

    [[nodiscard]] QString directory() const { return m_dir.path(); }
    [[nodiscard]] QString fileName() const
    {
        return m_dir.path() + QStringLiteral("/QUEPA_Kibro.conf");
    }

    // key as "Startup/Left" or "Ports/COM1".
    void set(const QString& key, const QString& value)
    {
        QSettings store = open();
        store.setValue(key, value);
        store.sync();
    }
    [[nodiscard]] QString value(const QString& key) const { return open().value(key).toString(); }
    [[nodiscard]] bool contains(const QString& key) const { return open().contains(key); }
    void mapPort(int port, const QString& device)
    {
        set(QStringLiteral("Ports/COM%1").arg(port), device);
    }
    // Every port to a path with no device behind it, so no run can reach a real serial line
    // through the built-in names; map the ones a test uses afterwards.
    void mapPortsAway()
    {
        for (int port = 0; port <= 3; ++port)
            mapPort(port, m_dir.filePath(QStringLiteral("no-device-%1").arg(port)));
    }

private:
    [[nodiscard]] QSettings open() const
    {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                         QStringLiteral("QUEPA_Kibro"));
    }

    QTemporaryDir m_dir;
};
