// The file chooser on a real disk: names of any bytes listed and sent as they are, the drive
// list following the folder, lists that follow the disk, type-ahead, a start folder that is gone.
#include "programrig.h"
#include "rawfiles.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include <chrono>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using kibro::MainWindow;
using kibro::NativePath;
using kibro::SendWindow;

namespace {

bool g_privateMounts = false;

// Mounting for a test is safe only in a mount namespace of the test's own, with nothing
// propagating back to the machine.
bool enterPrivateMountNamespace()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0)
        return false;
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

QStringList texts(const QListWidget* list)
{
    QStringList out;
    for (int row = 0; row < list->count(); ++row)
        out << list->item(row)->text();
    return out;
}

QListWidgetItem* itemShowing(const QListWidget* list, const QString& text)
{
    const auto found = list->findItems(text, Qt::MatchExactly);
    return found.size() == 1 ? found.first() : nullptr;
}

// The program started on COM1, and a folder of files that the test names by their bytes.
class Rig : public ProgramRig
{
public:
    Rig()
    {
        m_simStarted = plugIn();
        startUp();
    }

    [[nodiscard]] bool ready() { return m_files.isValid() && m_simStarted && portOpen(); }
    [[nodiscard]] kibro::DriveList& drives() { return *mainWindow().driveList(); }
    [[nodiscard]] kibro::DirectoryList& folders() { return *mainWindow().directoryList(); }
    [[nodiscard]] kibro::FileList& files() { return *mainWindow().fileList(); }
    [[nodiscard]] NativePath nativeFolder() const { return m_files.path(); }
    [[nodiscard]] NativePath at(const QByteArray& relative) const
    {
        return kibro::childPath(m_files.path(), relative);
    }

    // Double click or Enter on an entry of the folder list.
    void openFolderEntry(int row) { emit folders().itemActivated(folders().item(row)); }
    void chooseDrive(const QString& root)
    {
        const int index = drives().findData(root);
        QVERIFY2(index >= 0, qPrintable(root));
        drives().setCurrentIndex(index);
        emit drives().activated(index);
    }

private:
    RawTemporaryDir m_files;
    bool m_simStarted = false;
};

// Changes the process's directory for one test and back.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const QByteArray& path)
        : m_before(QDir::currentPath()), m_pwd(qgetenv("PWD"))
    {
        m_entered = ::chdir(path.constData()) == 0;
        qputenv("PWD", path);
    }
    ~WorkingDirectory()
    {
        QDir::setCurrent(m_before);
        qputenv("PWD", m_pwd);
    }
    [[nodiscard]] bool entered() const { return m_entered; }

private:
    QString m_before;
    QByteArray m_pwd;
    bool m_entered = false;
};

} // namespace

class FileChooserTest : public QObject
{
    Q_OBJECT

private slots:
    void sendsEveryName_data();
    void sendsEveryName();
    void choosingTheShownAgainListsAnew_data();
    void choosingTheShownAgainListsAnew();
    void listsFollowTheDisk();
    void busyFolderIsStillListed();
    void shownFolderGoes_data();
    void shownFolderGoes();
    void typeAheadMatchesFolderNames_data();
    void typeAheadMatchesFolderNames();
    void startFolderGone_data();
    void startFolderGone();
    void driveListFollowsFoldersAndVolumes();
};

void FileChooserTest::sendsEveryName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Shift-JIS") << QByteArray("\x83\x65\x83\x58\x83\x67.BAS")
                               << QStringLiteral("テスト.BAS");
    QTest::newRow("Shift-JIS with 0x5C")
        << QByteArray("\x83\x5C\x83\x74\x83\x67.BAS") << QStringLiteral("ソフト.BAS");
    QTest::newRow("half-width katakana") << QByteArray("\xB6\xC5.BAS") << QStringLiteral("ｶﾅ.BAS");
    QTest::newRow("stray byte") << QByteArray("A\xFF\xFE.BAS") << QStringLiteral("A\\xFF\\xFE.BAS");
    QTest::newRow("UTF-8") << QByteArray("日本語.BAS") << QStringLiteral("日本語.BAS");
    QTest::newRow("newline") << QByteArray("TWO\nLINES.BAS") << QStringLiteral("TWO\\nLINES.BAS");
    QTest::newRow("right-to-left override")
        << QByteArray("SAB\xE2\x80\xAE.BAS") << QStringLiteral("SAB\\u202E.BAS");
}

void FileChooserTest::sendsEveryName()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    Rig rig;
    QVERIFY(rig.ready());
    const QByteArray bytes = name + testdata::allByteValues();
    QVERIFY(writeRawFile(rig.at(name), bytes));
    // A neighbour whose name decodes the same way under a lossy decoding must not be taken.
    QVERIFY(writeRawFile(rig.at(name + "~"), "decoy"));
    QVERIFY(rig.folders().setNativePath(rig.nativeFolder()));

    QListWidgetItem* item = itemShowing(&rig.files(), shown);
    QVERIFY2(item, qPrintable(texts(&rig.files()).join(u'|')));
    QTest::mouseClick(rig.files().viewport(), Qt::LeftButton, {},
                      rig.files().visualItemRect(item).center());
    QPointer<SendWindow> window = rig.mainWindow().sendWindow();
    QVERIFY(window);
    QCOMPARE(rig.mainWindow().chosenNativePath(), rig.at(name));
    QCOMPARE(window->windowTitle(), shown + QStringLiteral("の送信"));
    const QStringList lines =
        window->findChild<QLabel*>(QStringLiteral("Label1"))->text().split(u'\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("FileName:") + shown);
    QCOMPARE(lines[1], QStringLiteral("FileSize:%1 Byte").arg(bytes.size()));

    Rig::startButton(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 60000);
    QVERIFY(rig.sim().waitForCount(bytes.size(), 30s));
    const auto summary = rig.sim().stop();
    QVERIFY(summary);
    QCOMPARE(summary->bytes, bytes.size());
    QCOMPARE(summary->sha256Hex, sha256Hex(bytes));
}

void FileChooserTest::choosingTheShownAgainListsAnew_data()
{
    QTest::addColumn<bool>("byDrive");
    QTest::newRow("the shown folder") << false;
    QTest::newRow("the shown drive") << true;
}

void FileChooserTest::choosingTheShownAgainListsAnew()
{
    QFETCH(bool, byDrive);
    Rig rig;
    QVERIFY(rig.ready());
    QVERIFY(rig.folders().setNativePath(rig.nativeFolder()));
    QCOMPARE(rig.files().count(), 0);
    QVERIFY(writeRawFile(rig.at("NEW.BAS")));
    // At once, before any notice of the change could arrive: only the choice lists anew.
    if (byDrive) {
        rig.chooseDrive(rig.drives().drive());
        QCOMPARE(rig.folders().nativePath(), kibro::toNativePath(rig.drives().drive()));
    } else {
        rig.openFolderEntry(rig.folders().currentRow());
        QCOMPARE(rig.folders().nativePath(), rig.nativeFolder());
        QCOMPARE(texts(&rig.files()), QStringList{QStringLiteral("NEW.BAS")});
    }
}

void FileChooserTest::listsFollowTheDisk()
{
    Rig rig;
    QVERIFY(rig.ready());
    QVERIFY(writeRawFile(rig.at("A.BAS")));
    QVERIFY(writeRawFile(rig.at("C.BAS")));
    QVERIFY(::mkdir(rig.at("ZED").constData(), 0755) == 0);
    QVERIFY(rig.folders().setNativePath(rig.nativeFolder()));
    rig.folders().setCurrentRow(rig.folders().count() - 1); // moved to ZED, not opened
    rig.files().setCurrentRow(1);
    QCOMPARE(rig.files().nativeFileName(), QByteArray("C.BAS"));

    QVERIFY(writeRawFile(rig.at("B\xFF.BAS")));
    QTRY_COMPARE(texts(&rig.files()),
                 (QStringList{QStringLiteral("A.BAS"), QStringLiteral("B\\xFF.BAS"),
                              QStringLiteral("C.BAS")}));
    QCOMPARE(rig.files().nativeFileName(), QByteArray("C.BAS")); // the selection stays

    QVERIFY(::mkdir(rig.at("SUB\x83\x5C").constData(), 0755) == 0);
    QTRY_VERIFY(itemShowing(&rig.folders(), QStringLiteral("SUBソ")));
    QCOMPARE(rig.folders().currentItem()->text(), QStringLiteral("ZED"));
    QCOMPARE(rig.folders().nativePath(), rig.nativeFolder());
    QVERIFY(::unlink(rig.at("A.BAS").constData()) == 0);
    QTRY_COMPARE(rig.files().count(), 2);
    QVERIFY(::rename(rig.at("C.BAS").constData(), rig.at("D.BAS").constData()) == 0);
    QTRY_COMPARE(texts(&rig.files()),
                 (QStringList{QStringLiteral("B\\xFF.BAS"), QStringLiteral("D.BAS")}));
}

void FileChooserTest::busyFolderIsStillListed()
{
    Rig rig;
    QVERIFY(rig.ready());
    QVERIFY(rig.folders().setNativePath(rig.nativeFolder()));
    // A folder that never rests, as a download or build folder: a file every 20 ms.
    int made = 0;
    QTimer writer;
    QObject::connect(&writer, &QTimer::timeout, [&] {
        (void)writeRawFile(rig.at(QByteArray::number(made++).rightJustified(6, '0')));
    });
    writer.start(20ms);
    QTRY_VERIFY_WITH_TIMEOUT(rig.files().count() >= 3, 10000);
    writer.stop();
}

void FileChooserTest::shownFolderGoes_data()
{
    QTest::addColumn<bool>("replaced");
    QTest::newRow("deleted: its parent is shown") << false;
    QTest::newRow("replaced by another: that one is shown and followed") << true;
}

void FileChooserTest::shownFolderGoes()
{
    QFETCH(bool, replaced);
    Rig rig;
    QVERIFY(rig.ready());
    QVERIFY(::mkdir(rig.at("A").constData(), 0755) == 0);
    QVERIFY(::mkdir(rig.at("A/B\xFF").constData(), 0755) == 0);
    QVERIFY(writeRawFile(rig.at("A/KEEP.BAS")));
    QVERIFY(rig.folders().setNativePath(rig.at("A/B\xFF")));
    if (!replaced) {
        QVERIFY(::rmdir(rig.at("A/B\xFF").constData()) == 0);
        QTRY_COMPARE(rig.folders().nativePath(), rig.at("A"));
        QCOMPARE(texts(&rig.files()), QStringList{QStringLiteral("KEEP.BAS")});
        return;
    }
    QVERIFY(::rename(rig.at("A/B\xFF").constData(), rig.at("OLD").constData()) == 0);
    QVERIFY(::mkdir(rig.at("A/B\xFF").constData(), 0755) == 0);
    QVERIFY(writeRawFile(rig.at("A/B\xFF/FIRST.BAS")));
    QTRY_COMPARE(texts(&rig.files()), QStringList{QStringLiteral("FIRST.BAS")});
    QCOMPARE(rig.folders().nativePath(), rig.at("A/B\xFF"));
    QVERIFY(writeRawFile(rig.at("A/B\xFF/SECOND.BAS")));
    QTRY_COMPARE(texts(&rig.files()),
                 (QStringList{QStringLiteral("FIRST.BAS"), QStringLiteral("SECOND.BAS")}));
}

void FileChooserTest::typeAheadMatchesFolderNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("found");
    QTest::newRow("first letters") << QStringLiteral("be") << QStringLiteral("BETA");
    QTest::newRow("one letter") << QStringLiteral("g") << QStringLiteral("GAMMA");
    QTest::newRow("Shift-JIS name") << QStringLiteral("テ") << QStringLiteral("テスト");
}

void FileChooserTest::typeAheadMatchesFolderNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, found);
    Rig rig;
    QVERIFY(rig.ready());
    for (const char* name : {"ALPHA", "BETA", "GAMMA", "\x83\x65\x83\x58\x83\x67"})
        QVERIFY(::mkdir(rig.at(name).constData(), 0755) == 0);
    QVERIFY(rig.folders().setNativePath(rig.nativeFolder()));
    rig.folders().setFocus();
    // As a keyboard or an input method delivers text, Japanese included.
    for (const QChar character : typed) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(&rig.folders(), &press);
    }
    QVERIFY(rig.folders().currentItem());
    QCOMPARE(rig.folders().currentItem()->text(), found);
}

void FileChooserTest::startFolderGone_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("removed");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("the folder itself") << QByteArray("A/B") << QByteArray("A/B") << QByteArray("A");
    QTest::newRow("two levels") << QByteArray("A/B") << QByteArray("A/B A") << QByteArray("");
}

void FileChooserTest::startFolderGone()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, removed);
    QFETCH(QByteArray, expected);
    RawTemporaryDir files;
    const NativePath root = files.path();
    QVERIFY(::mkdir(kibro::childPath(root, "A").constData(), 0755) == 0);
    QVERIFY(::mkdir(kibro::childPath(root, "A/B").constData(), 0755) == 0);
    QVERIFY(writeRawFile(kibro::childPath(root, "HERE.BAS")));
    WorkingDirectory cwd(kibro::childPath(root, start));
    QVERIFY(cwd.entered());
    for (const QByteArray& relative : removed.split(' '))
        QVERIFY(::rmdir(kibro::childPath(root, relative).constData()) == 0);

    ProgramRig rig;
    MainWindow& window = rig.createWindow();
    const NativePath folder = expected.isEmpty() ? root : kibro::childPath(root, expected);
    QCOMPARE(window.directoryList()->nativePath(), folder);
    QCOMPARE(window.fileList()->nativePath(), folder);
    QCOMPARE(window.fileList()->count(), expected.isEmpty() ? 1 : 0);
    QVERIFY(window.directoryList()->count() > 1);
    QCOMPARE(window.driveList()->drive(), QStringLiteral("/"));
}

void FileChooserTest::driveListFollowsFoldersAndVolumes()
{
    if (!g_privateMounts)
        QSKIP("needs a mount namespace of its own (root)");
    Rig rig;
    QVERIFY(rig.ready());
    const NativePath volume = rig.at("VOL");
    const QString volumeRoot = kibro::fromNativePath(volume);
    QVERIFY(::mkdir(volume.constData(), 0755) == 0);
    QVERIFY(::mount("kibro-test", volume.constData(), "tmpfs", 0, "size=1m") == 0);
    auto unmount = qScopeGuard([&] { ::umount2(volume.constData(), MNT_DETACH); });
    QVERIFY(::mkdir(kibro::childPath(volume, "SUB").constData(), 0755) == 0);

    // A volume mounted while the program runs appears without any action.
    QTRY_VERIFY(rig.drives().findData(volumeRoot) >= 0);

    rig.chooseDrive(volumeRoot);
    QCOMPARE(rig.folders().nativePath(), volume);
    rig.openFolderEntry(rig.folders().count() - 1); // SUB
    QCOMPARE(rig.folders().nativePath(), kibro::childPath(volume, "SUB"));
    QCOMPARE(rig.drives().drive(), volumeRoot);

    // Up to the root through the folder list: the drive box follows.
    rig.openFolderEntry(0);
    QCOMPARE(rig.folders().nativePath(), NativePath("/"));
    QCOMPARE(rig.drives().drive(), QStringLiteral("/"));
    // Into the volume through the folder list, not the drive box: it follows too.
    QVERIFY(rig.folders().setNativePath(kibro::childPath(volume, "SUB")));
    QCOMPARE(rig.drives().drive(), volumeRoot);

    // Unmounted under the shown folder: the volume goes, the lists fall back to what is left.
    unmount.dismiss();
    QVERIFY(::umount2(volume.constData(), MNT_DETACH) == 0);
    QTRY_VERIFY(rig.drives().findData(volumeRoot) < 0);
    QTRY_COMPARE(rig.folders().nativePath(), volume);
    QCOMPARE(rig.drives().drive(), QStringLiteral("/"));
    // The folder under the old mount point is watched in turn.
    QVERIFY(writeRawFile(kibro::childPath(volume, "UNDER.BAS")));
    QTRY_COMPARE(texts(&rig.files()), QStringList{QStringLiteral("UNDER.BAS")});
}

int main(int argc, char** argv)
{
    // Before any thread exists: a process with threads cannot enter a mount namespace.
    g_privateMounts = enterPrivateMountNamespace();
    QApplication app(argc, argv);
    FileChooserTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filechooser.moc"
