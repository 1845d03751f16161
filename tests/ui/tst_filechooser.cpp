// The file chooser on a real disk: names of any bytes listed and sent as they are, the drive
// list following the folder, lists that follow the disk, type-ahead, a start folder that is gone.
#include "diskwatch_platform.h"
#include "programrig.h"
#include "rawfiles.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
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
    void listsFollowTheDisk_data();
    void listsFollowTheDisk();
    void busyFolderIsStillListed();
    void selectionStaysOnItsEntry_data();
    void selectionStaysOnItsEntry();
    void churnIsTakenInByName_data();
    void churnIsTakenInByName();
    void volumeOverShownFolder_data();
    void volumeOverShownFolder();
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

void FileChooserTest::listsFollowTheDisk_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("watched") << false;
    // The user's inotify watches used up: listed again now and then, and said once.
    QTest::newRow("watch refused") << true;
}

void FileChooserTest::listsFollowTheDisk()
{
    QFETCH(bool, refused);
    Rig rig;
    QVERIFY(rig.ready());
    QVERIFY(writeRawFile(rig.at("A.BAS")));
    QVERIFY(writeRawFile(rig.at("C.BAS")));
    QVERIFY(::mkdir(rig.at("ZED").constData(), 0755) == 0);
    const auto lift = qScopeGuard([] { kibro::platform::refuseDirectoryWatches(false); });
    kibro::platform::refuseDirectoryWatches(refused);
    if (refused) {
        const QRegularExpression said(
            QStringLiteral("^kibro: cannot watch %1 for changes \\(.+\\): listing it again")
                .arg(QRegularExpression::escape(QString::fromLocal8Bit(rig.nativeFolder()))));
        QTest::ignoreMessage(QtWarningMsg, said);
        QTest::failOnWarning(said);
    }
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

void FileChooserTest::selectionStaysOnItsEntry_data()
{
    QTest::addColumn<bool>("folders");
    QTest::addColumn<bool>("byName");
    QTest::addColumn<bool>("selectedGoes");
    for (const bool folders : {false, true}) {
        for (const bool byName : {false, true}) {
            for (const bool goes : {false, true}) {
                QTest::addRow("%s, %s, %s", folders ? "folders" : "files",
                              byName ? "told by name" : "listed anew",
                              goes ? "the selected one goes" : "entries added before it")
                    << folders << byName << goes;
            }
        }
    }
}

void FileChooserTest::selectionStaysOnItsEntry()
{
    QFETCH(bool, folders);
    QFETCH(bool, byName);
    QFETCH(bool, selectedGoes);
    Rig rig;
    QVERIFY(rig.ready());
    const auto make = [&](const QByteArray& stem) {
        return folders ? ::mkdir(rig.at(stem).constData(), 0755) == 0
                       : writeRawFile(rig.at(stem + ".BAS"));
    };
    const auto textOf = [&](const QByteArray& stem) {
        return QString::fromLatin1(folders ? stem : stem + ".BAS");
    };
    for (int i = 0; i < 60; ++i)
        QVERIFY(make("F" + QByteArray::number(i).rightJustified(2, '0')));
    QVERIFY(rig.folders().setNativePath(rig.nativeFolder()));
    QListWidget& list = folders ? static_cast<QListWidget&>(rig.folders()) : rig.files();
    QListWidgetItem* chosen = itemShowing(&list, textOf("F40"));
    QVERIFY(chosen);
    list.setCurrentItem(chosen);
    list.scrollToItem(chosen, QAbstractItemView::PositionAtCenter);
    const int shownAt = list.visualItemRect(chosen).top();
    const int rows = list.count();

    if (selectedGoes) {
        const QByteArray path = rig.at(folders ? "F40" : "F40.BAS");
        QVERIFY((folders ? ::rmdir(path.constData()) : ::unlink(path.constData())) == 0);
    }
    for (int i = 0; i < 5 && !selectedGoes; ++i)
        QVERIFY(make("E" + QByteArray::number(i)));
    // No turn of the event loop in between: only the call takes the changes in.
    if (byName)
        rig.folders().catchUp();
    else
        rig.folders().refresh();

    QCOMPARE(list.count(), rows + (selectedGoes ? -1 : 5));
    if (selectedGoes) {
        // No row is taken for the one that went.
        QCOMPARE(list.currentItem(), nullptr);
        QVERIFY(list.selectedItems().isEmpty());
        return;
    }
    QVERIFY(list.currentItem());
    QCOMPARE(list.currentItem()->text(), textOf("F40"));
    QCOMPARE(list.selectedItems(), QList<QListWidgetItem*>{list.currentItem()});
    // Where the user saw it, not pushed down by the rows added above.
    QCOMPARE(list.visualItemRect(list.currentItem()).top(), shownAt);
}

void FileChooserTest::churnIsTakenInByName_data()
{
    QTest::addColumn<bool>("folders");
    QTest::newRow("files") << false;
    QTest::newRow("folders") << true;
}

void FileChooserTest::churnIsTakenInByName()
{
    QFETCH(bool, folders);
    Rig rig;
    QVERIFY(rig.ready());
    QVERIFY(writeRawFile(rig.at("KEEP.BAS")));
    QVERIFY(::mkdir(rig.at("KEEP").constData(), 0755) == 0);
    QVERIFY(rig.folders().setNativePath(rig.nativeFolder()));
    const QStringList filesBefore = texts(&rig.files());
    const QStringList foldersBefore = texts(&rig.folders());
    QSignalSpy listings(&rig.folders(), &kibro::DirectoryList::listed);
    // A volume mounted elsewhere on the machine meanwhile lists anew, rightly.
    QSignalSpy volumeChanges(&rig.drives(), &kibro::DriveList::volumesChanged);

    // A burst of entries made and deleted, as a build writes temporary files, then one that
    // stays. The watcher sees it all as it happens.
    for (int i = 0; i < 300; ++i) {
        const QByteArray path = rig.at("TMP" + QByteArray::number(i));
        if (folders)
            QVERIFY(::mkdir(path.constData(), 0755) == 0 && ::rmdir(path.constData()) == 0);
        else
            QVERIFY(writeRawFile(path) && ::unlink(path.constData()) == 0);
    }
    QVERIFY(folders ? ::mkdir(rig.at("LAST").constData(), 0755) == 0
                    : writeRawFile(rig.at("LAST")));
    QListWidget& list = folders ? static_cast<QListWidget&>(rig.folders()) : rig.files();
    QTRY_VERIFY(itemShowing(&list, QStringLiteral("LAST")));

    // Taken in row by row: not one listing of the folder, however much it churned.
    QCOMPARE(listings.count(), volumeChanges.count());
    QCOMPARE(texts(&rig.files()), filesBefore + (folders ? QStringList() : QStringList{"LAST"}));
    QCOMPARE(texts(&rig.folders()),
             foldersBefore + (folders ? QStringList{"LAST"} : QStringList()));
}

void FileChooserTest::volumeOverShownFolder_data()
{
    QTest::addColumn<bool>("mounted");
    QTest::newRow("the volumes read again, by hand") << false;
    QTest::newRow("a folder bind-mounted over the shown one") << true;
}

void FileChooserTest::volumeOverShownFolder()
{
    QFETCH(bool, mounted);
    if (mounted && !g_privateMounts)
        QSKIP("needs a mount namespace of its own (root)");
    RawTemporaryDir disk;
    const auto at = [&](const QByteArray& relative) {
        return kibro::childPath(disk.path(), relative);
    };
    const NativePath shown = at("SHOWN");
    QVERIFY(::mkdir(shown.constData(), 0755) == 0);
    QVERIFY(writeRawFile(at("SHOWN/UNDER.BAS")));
    QVERIFY(::mkdir(at("VOL").constData(), 0755) == 0);
    QVERIFY(::mkdir(at("VOL/SUB").constData(), 0755) == 0);
    QVERIFY(writeRawFile(at("VOL/ON-VOLUME.BAS")));
    // Started in the folder: no other folder was watched before, whose leftover news could
    // list it anew by chance.
    const WorkingDirectory cwd(shown);
    QVERIFY(cwd.entered());
    Rig rig;
    QVERIFY(rig.ready());
    QCOMPARE(rig.folders().nativePath(), shown);
    QCOMPARE(texts(&rig.files()), QStringList{QStringLiteral("UNDER.BAS")});

    auto unmount = qScopeGuard([&] { ::umount2(shown.constData(), MNT_DETACH); });
    if (!mounted) {
        unmount.dismiss();
        // Another folder where the shown one was, and no turn of the event loop for its
        // watch to say so: only the volumes read again list it.
        QVERIFY(::rename(shown.constData(), at("OLD").constData()) == 0);
        QVERIFY(::rename(at("VOL").constData(), shown.constData()) == 0);
        rig.drives().refresh();
        QCOMPARE(texts(&rig.files()), QStringList{QStringLiteral("ON-VOLUME.BAS")});
    } else {
        QVERIFY(::mount(at("VOL").constData(), shown.constData(), nullptr, MS_BIND, nullptr) == 0);
        QTRY_COMPARE(texts(&rig.files()), QStringList{QStringLiteral("ON-VOLUME.BAS")});
    }
    QCOMPARE(rig.folders().nativePath(), shown);
    QCOMPARE(rig.folders().item(rig.folders().count() - 1)->text(), QStringLiteral("SUB"));
    // What is shown is what a click sends.
    QVERIFY(rig.files().selectFile(QStringLiteral("ON-VOLUME.BAS")));
    QCOMPARE(rig.mainWindow().chosenNativePath(), kibro::childPath(shown, "ON-VOLUME.BAS"));
    QVERIFY(rig.mainWindow().sendWindow());
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
