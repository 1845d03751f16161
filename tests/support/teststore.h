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

private:
    [[nodiscard]] QSettings open() const
    {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                         QStringLiteral("QUEPA_Kibro"));
    }

    QTemporaryDir m_dir;
};
