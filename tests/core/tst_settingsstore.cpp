#include "errors.h"
#include "settingsstore.h"
#include "teststore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

using kibro::KibroError;
using kibro::SettingsStore;

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void absentKeyReadsDefault_data();
    void absentKeyReadsDefault();
    void readingWritesNothing();
    void writtenTextReadsBackUnchanged_data();
    void writtenTextReadsBackUnchanged();
    void writeReplaces();
    void valuesLiveInTheProgramsFile();
    void handEditedSettingsReadAsOneText();
    void sectionsAreSeparate();
    void unwritableStoreThrows_data();
    void unwritableStoreThrows();
};

void TestSettingsStore::absentKeyReadsDefault_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defaultText");

    QTest::newRow("Left") << "Left" << "1000";
    QTest::newRow("Top") << "Top" << "1000";
    QTest::newRow("Port") << "Port" << "1";
    QTest::newRow("Settings") << "Settings" << "9600,N,8,1";
}

void TestSettingsStore::absentKeyReadsDefault()
{
    QFETCH(QString, key);
    QFETCH(QString, defaultText);

    TestStore testStore;
    QCOMPARE(SettingsStore().read(SettingsStore::kStartup, key, defaultText), defaultText);
}

void TestSettingsStore::readingWritesNothing()
{
    TestStore testStore;
    const SettingsStore store;
    (void)store.read(SettingsStore::kStartup, QStringLiteral("Left"), QStringLiteral("1000"));
    (void)store.read(SettingsStore::kStartup, QStringLiteral("Port"), QStringLiteral("1"));
    QVERIFY(!QFile::exists(testStore.fileName()));
}

void TestSettingsStore::writtenTextReadsBackUnchanged_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");

    QTest::newRow("position") << "Left" << "1005";
    QTest::newRow("fraction") << "Top" << "-1234.5";
    QTest::newRow("port") << "Port" << "3";
    QTest::newRow("settings with commas") << "Settings" << "38400,N,8,1";
    QTest::newRow("rate zero") << "Settings" << "0,N,8,1";
    QTest::newRow("empty") << "Port" << "";
    QTest::newRow("blanks kept") << "Port" << "  2 ";
    QTest::newRow("ini syntax") << "Settings" << "a=b;c\\d\"e[f]#g";
    QTest::newRow("japanese") << "Settings" << "通信設定";
    QTest::newRow("at sign") << "Settings" << "@Invalid()";
    QTest::newRow("line break") << "Settings" << "one\ntwo";
}

void TestSettingsStore::writtenTextReadsBackUnchanged()
{
    QFETCH(QString, key);
    QFETCH(QString, text);

    TestStore testStore;
    SettingsStore().write(SettingsStore::kStartup, key, text);
    // A fresh store object, as the next run would make.
    QCOMPARE(SettingsStore().read(SettingsStore::kStartup, key, QStringLiteral("default")), text);
}

void TestSettingsStore::writeReplaces()
{
    TestStore testStore;
    SettingsStore store;
    store.write(SettingsStore::kStartup, QStringLiteral("Port"), QStringLiteral("0"));
    store.write(SettingsStore::kStartup, QStringLiteral("Port"), QStringLiteral("2"));
    QCOMPARE(store.read(SettingsStore::kStartup, QStringLiteral("Port"), QStringLiteral("1")),
             QStringLiteral("2"));
}

void TestSettingsStore::valuesLiveInTheProgramsFile()
{
    TestStore testStore;
    SettingsStore().write(SettingsStore::kStartup, QStringLiteral("Left"), QStringLiteral("1500"));

    QVERIFY(QFile::exists(testStore.fileName()));
    QSettings file(testStore.fileName(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Startup/Left")).toString(), QStringLiteral("1500"));
    QCOMPARE(file.allKeys(), QStringList{QStringLiteral("Startup/Left")});
}

void TestSettingsStore::handEditedSettingsReadAsOneText()
{
    TestStore testStore;
    QFile file(testStore.fileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Startup]\nSettings=19200,N,8,1\nPort=2\n");
    file.close();

    const SettingsStore store;
    QCOMPARE(store.read(SettingsStore::kStartup, QStringLiteral("Settings"), {}),
             QStringLiteral("19200,N,8,1"));
    QCOMPARE(store.read(SettingsStore::kStartup, QStringLiteral("Port"), {}), QStringLiteral("2"));
}

void TestSettingsStore::sectionsAreSeparate()
{
    TestStore testStore;
    testStore.mapPort(1, QStringLiteral("/tmp/pty"));
    SettingsStore store;
    store.write(SettingsStore::kStartup, QStringLiteral("COM1"), QStringLiteral("startup"));
    QCOMPARE(store.read(u"Ports", QStringLiteral("COM1"), {}), QStringLiteral("/tmp/pty"));
    QCOMPARE(store.read(SettingsStore::kStartup, QStringLiteral("COM1"), {}),
             QStringLiteral("startup"));
}

void TestSettingsStore::unwritableStoreThrows_data()
{
    QTest::addColumn<bool>("fileIsDirectory");

    // chmod does not stop root, so the store is made unwritable by its shape instead.
    QTest::newRow("store file is a directory") << true;
    QTest::newRow("store directory is a file") << false;
}

void TestSettingsStore::unwritableStoreThrows()
{
    QFETCH(bool, fileIsDirectory);

    TestStore testStore;
    if (fileIsDirectory) {
        QVERIFY(QDir().mkpath(testStore.fileName()));
    } else {
        const QString blocker = testStore.directory() + QStringLiteral("/blocker");
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
    }

    int code = 0;
    try {
        SettingsStore().write(SettingsStore::kStartup, QStringLiteral("Left"), QStringLiteral("1"));
    } catch (const KibroError& e) {
        code = e.code();
    }
    QCOMPARE(code, static_cast<int>(kibro::ErrorNumber::StoreFailed));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
