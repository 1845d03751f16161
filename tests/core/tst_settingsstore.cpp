#include "errors.h"
#include "settingsstore.h"
#include "teststore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <functional>

using kibro::KibroError;
using kibro::SettingsStore;

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void readingWritesNothing();
    void writtenTextReadsBackUnchanged_data();
    void writtenTextReadsBackUnchanged();
    void valuesLiveInTheProgramsFile();
    void handEditedSettingsReadAsOneText();
    void refusedStoreSaysSo_data();
    void refusedStoreSaysSo();
    void handEditedLineDoesNotHideTheOutcome_data();
    void handEditedLineDoesNotHideTheOutcome();
};

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

    QTest::newRow("position") << "Left"
                              << "1005";
    QTest::newRow("fraction") << "Top"
                              << "-1234.5";
    QTest::newRow("port") << "Port"
                          << "3";
    QTest::newRow("settings with commas") << "Settings"
                                          << "38400,N,8,1";
    QTest::newRow("rate zero") << "Settings"
                               << "0,N,8,1";
    QTest::newRow("empty") << "Port"
                           << "";
    QTest::newRow("blanks kept") << "Port"
                                 << "  2 ";
    QTest::newRow("ini syntax") << "Settings"
                                << "a=b;c\\d\"e[f]#g";
    QTest::newRow("japanese") << "Settings"
                              << "通信設定";
    QTest::newRow("at sign") << "Settings"
                             << "@Invalid()";
    QTest::newRow("line break") << "Settings"
                                << "one\ntwo";
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

void TestSettingsStore::refusedStoreSaysSo_data()
{
    QTest::addColumn<bool>("fileIsDirectory");
    QTest::addColumn<bool>("reading");

    // chmod does not stop root, so the store is refused by its shape instead.
    QTest::newRow("writing, store file is a directory") << true << false;
    QTest::newRow("writing, store directory is a file") << false << false;
    QTest::newRow("reading, store file is a directory") << true << true;
}

// Reading gives the defaults and writing throws, with one line on stderr for all the keys.
void TestSettingsStore::refusedStoreSaysSo()
{
    QFETCH(bool, fileIsDirectory);
    QFETCH(bool, reading);

    TestStore testStore;
    QString fileName = testStore.fileName();
    if (fileIsDirectory) {
        QVERIFY(QDir().mkpath(testStore.fileName()));
    } else {
        const QString blocker = testStore.directory() + QStringLiteral("/blocker");
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
        fileName = blocker + QStringLiteral("/QUEPA_Kibro.conf");
    }
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(
            QStringLiteral("^kibro: cannot %1 the settings store %2: .")
                .arg(reading ? u"read" : u"write", QRegularExpression::escape(fileName))));

    for (const char* key : {"Left", "Top"}) {
        int code = 0;
        try {
            if (reading)
                QCOMPARE(SettingsStore().read(SettingsStore::kStartup, QLatin1String(key),
                                              QStringLiteral("d")),
                         QStringLiteral("d"));
            else
                SettingsStore().write(SettingsStore::kStartup, QLatin1String(key),
                                      QStringLiteral("1"));
        } catch (const KibroError& e) {
            code = e.code();
        }
        QCOMPARE(code, reading ? 0 : static_cast<int>(kibro::ErrorNumber::StoreFailed));
    }
}

void TestSettingsStore::handEditedLineDoesNotHideTheOutcome_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("writable");

    const QByteArray noEquals = "[Startup]\nLeft=5\nTop\n";
    const QByteArray openSection = "[Startup\nLeft=5\n";
    QTest::newRow("line without equals sign") << noEquals << true;
    QTest::newRow("section not closed") << openSection << true;
    QTest::newRow("binary garbage") << QByteArray("\xff\xfe\x00\x01garbage", 12) << true;
    QTest::newRow("line without equals sign, file immutable") << noEquals << false;
    QTest::newRow("section not closed, file immutable") << openSection << false;
}

// QSettings reports such a file as badly formed whether or not the write went through: a
// write that landed must not be called a failure, nor a failed one a success.
void TestSettingsStore::handEditedLineDoesNotHideTheOutcome()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, writable);

    TestStore testStore;
    QFile file(testStore.fileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    // Root writes through permissions; only an immutable file stops it.
    const auto chattr = [&](const char* flag) {
        return QProcess::execute(QStringLiteral("chattr"),
                                 {QString::fromLatin1(flag), testStore.fileName()});
    };
    struct Unlock
    {
        std::function<void()> undo;
        ~Unlock()
        {
            if (undo)
                undo();
        }
    } unlock;
    if (!writable) {
        if (chattr("+i") != 0)
            QSKIP("chattr +i is not available here");
        unlock.undo = [&] { chattr("-i"); };
    }

    int code = 0;
    try {
        SettingsStore().write(SettingsStore::kStartup, QStringLiteral("Top"), QStringLiteral("77"));
    } catch (const KibroError& e) {
        code = e.code();
    }

    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray onDisk = file.readAll();
    file.close();
    if (writable) {
        QCOMPARE(code, 0);
        QVERIFY2(onDisk.contains("Top=77"), onDisk.constData());
    } else {
        QCOMPARE(code, static_cast<int>(kibro::ErrorNumber::StoreFailed));
        QCOMPARE(onDisk, content);
    }
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
