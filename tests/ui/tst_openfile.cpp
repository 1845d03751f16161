// A file handed to the main window from outside: the FILE argument and a drop. Also the
// settings window's port tips, which say which device each option opens.
#include "programprocess.h"
#include "programrig.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include <optional>

#include <unistd.h>

using kibro::MainWindow;
using kibro::SendWindow;

namespace {

constexpr int kWaitMs = 15000;
const QString kSample = QStringLiteral("HELLO.BAS");
const QByteArray kSampleBytes = "10 PRINT \"HELLO\"\r\n20 END\r\n";

enum class Setup { Sendable, Relative, Missing, Folder, TooLarge, Unreadable };

// The program on a store of its own with a sendable file in its folder.
class Rig : public ProgramRig
{
public:
    Rig() { writeFile(kSample, kSampleBytes); }

    // The file list's choice, or an empty text.
    [[nodiscard]] QString selected()
    {
        const QListWidgetItem* item = mainWindow().fileList()->currentItem();
        return item ? item->text() : QString();
    }
};

// The send window is the one for name, and START sends exactly what the file holds.
void verifySends(Rig& rig, const QString& name, const QByteArray& bytes)
{
    kibro::SendWindow* window = rig.mainWindow().sendWindow();
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), name + QStringLiteral("の送信"));
    auto* details = window->findChild<QLabel*>(QStringLiteral("Label1"));
    QVERIFY(details != nullptr);
    QVERIFY(details->text().contains(QStringLiteral("FileSize:%1 Byte").arg(bytes.size())));
    QPushButton* start = Rig::startButton(window);
    QVERIFY(start != nullptr);
    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.mainWindow().sendWindow() == nullptr, kWaitMs);
    // The transfer is over: all it wrote is in the pty, and a byte too many shows too.
    QCOMPARE(rig.sim().drain().value_or("<not drained>"), bytes);
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestOpenFile : public QObject
{
    Q_OBJECT

private slots:
    void openFile_data();
    void openFile();
    void openFileInListedFolderListsItAgain();
    void drop_data();
    void drop();
    void dropIsACopy_data();
    void dropIsACopy();
    void heldKeyActsOnce_data();
    void heldKeyActsOnce();
    void portTips_data();
    void portTips();
    void portTipsFollowTheDevice();
    void commandLine_data();
    void commandLine();
};

void TestOpenFile::openFile_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("message"); // empty: none, and the send window opens
    QTest::addColumn<QString>("reason");  // on stderr after the file's path

    QTest::newRow("sendable file") << Setup::Sendable << ""
                                   << "";
    QTest::newRow("relative to the current folder") << Setup::Relative << ""
                                                    << "";
    QTest::newRow("missing file") << Setup::Missing << testdata::kUnreadableText
                                  << "No such file or directory";
    QTest::newRow("folder: shown, not sent") << Setup::Folder << ""
                                             << "";
    QTest::newRow("too large") << Setup::TooLarge << testdata::kTooLargeText
                               << "larger than the 2147483647 bytes a transfer counts";
    QTest::newRow("unreadable") << Setup::Unreadable << testdata::kUnreadableText
                                << "Permission denied";
}

// The lists go to the file's folder with it selected; its send window opens, or the box a
// click would give says why not.
void TestOpenFile::openFile()
{
    QFETCH(Setup, setup);
    QFETCH(QString, message);
    QFETCH(QString, reason);

    if (setup == Setup::Unreadable && ::geteuid() == 0)
        QSKIP("root reads any file");
    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    QString name = kSample;
    QString argument = rig.filePath(name);
    const QString home = QDir::currentPath();
    const auto restore = qScopeGuard([&home] { QDir::setCurrent(home); });
    switch (setup) {
    case Setup::Sendable:
        break;
    case Setup::Relative:
        QVERIFY(QDir::setCurrent(QFileInfo(rig.folder()).absolutePath()));
        argument = QFileInfo(rig.folder()).fileName() + QStringLiteral("/./") + name;
        break;
    case Setup::Missing:
        name = QStringLiteral("GONE.BAS");
        argument = rig.filePath(name);
        break;
    case Setup::Folder:
        name = QStringLiteral("PROGRAMS");
        argument = rig.filePath(name) + u'/';
        QVERIFY(QDir().mkpath(argument));
        break;
    case Setup::TooLarge: {
        // Sparse: the size is past 32 bits, the disk holds nothing of it.
        name = QStringLiteral("HUGE.BIN");
        argument = rig.filePath(name);
        QFile huge(argument);
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.resize(qint64(3) << 30));
        break;
    }
    case Setup::Unreadable:
        QVERIFY(QFile::setPermissions(argument, QFileDevice::WriteOwner));
        break;
    }
    MainWindow& window = rig.startUp();
    QCOMPARE(rig.messages().count(), 0);
    if (!reason.isEmpty())
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^kibro: .*/%1: %2$")
                                                    .arg(QRegularExpression::escape(name),
                                                         QRegularExpression::escape(reason))));

    window.openFile(argument);

    if (setup == Setup::Folder) {
        QCOMPARE(window.directoryList()->path(), rig.filePath(name));
        QCOMPARE(rig.messages().count(), 0);
        QVERIFY(window.sendWindow() == nullptr);
        return;
    }
    QCOMPARE(window.directoryList()->path(), rig.folder());
    QCOMPARE(window.fileList()->path(), QDir::toNativeSeparators(rig.folder()));
    if (!message.isEmpty()) {
        QCOMPARE(rig.messages().count(), 1);
        QCOMPARE(rig.messages().first().text, message);
        QCOMPARE(rig.messages().first().title, testdata::kFileErrorTitle);
        QVERIFY(window.sendWindow() == nullptr);
        // Nothing in the list may look chosen for a file that is not in it.
        QCOMPARE(rig.selected(),
                 setup == Setup::TooLarge || setup == Setup::Unreadable ? name : QString());
        QCOMPARE(rig.sim().drain().value_or("<not drained>"), QByteArray());
        return;
    }
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.selected(), name);
    verifySends(rig, name, kSampleBytes);
}

// Started in the file's own folder, the list may predate the file: it is listed again.
void TestOpenFile::openFileInListedFolderListsItAgain()
{
    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    const QString home = QDir::currentPath();
    const auto restore = qScopeGuard([&home] { QDir::setCurrent(home); });
    QVERIFY(QDir::setCurrent(rig.folder()));
    MainWindow& window = rig.startUp();
    QVERIFY(window.fileList()->findItems(QStringLiteral("NEW.BAS"), Qt::MatchExactly).isEmpty());
    const QByteArray bytes = "10 REM NEW\r\n";
    QVERIFY(!rig.writeFile(QStringLiteral("NEW.BAS"), bytes).isEmpty());

    window.openFile(rig.filePath(QStringLiteral("NEW.BAS")));

    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.selected(), QStringLiteral("NEW.BAS"));
    verifySends(rig, QStringLiteral("NEW.BAS"), bytes);
}

void TestOpenFile::drop_data()
{
    QTest::addColumn<QStringList>("urls"); // "local:NAME" is a file in the rig's folder
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("opens"); // the send window's file, empty for none
    QTest::addColumn<QString>("message");

    QTest::newRow("local file") << QStringList{"local:HELLO.BAS"} << true << kSample << "";
    QTest::newRow("two files: the first")
        << QStringList{"local:OTHER.BAS", "local:HELLO.BAS"} << true << "OTHER.BAS"
        << "";
    QTest::newRow("missing local file")
        << QStringList{"local:GONE.BAS"} << true << "" << testdata::kUnreadableText;
    QTest::newRow("remote file") << QStringList{"https://example.org/HELLO.BAS"} << false << ""
                                 << "";
    QTest::newRow("remote first") << QStringList{"https://example.org/A.BAS", "local:HELLO.BAS"}
                                  << false << ""
                                  << "";
    QTest::newRow("text, no URL") << QStringList{} << false << ""
                                  << "";
}

void TestOpenFile::drop()
{
    QFETCH(QStringList, urls);
    QFETCH(bool, accepted);
    QFETCH(QString, opens);
    QFETCH(QString, message);

    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    const QByteArray otherBytes = "10 REM OTHER\r\n";
    QVERIFY(!rig.writeFile(QStringLiteral("OTHER.BAS"), otherBytes).isEmpty());
    MainWindow& window = rig.startUp();
    QMimeData mime;
    QList<QUrl> list;
    for (const QString& url : urls) {
        list << (url.startsWith(QLatin1String("local:"))
                     ? QUrl::fromLocalFile(rig.filePath(url.mid(6)))
                     : QUrl(url));
    }
    if (list.isEmpty())
        mime.setText(rig.filePath(kSample));
    else
        mime.setUrls(list);
    const QPoint centre = window.rect().center();

    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QCOMPARE(enter.isAccepted(), accepted);
    QDropEvent dropEvent(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &dropEvent);
    QCOMPARE(dropEvent.isAccepted(), accepted);
    // Whatever the drop left queued has run.
    QVERIFY(testdata::drainEvents());

    if (opens.isEmpty()) {
        QVERIFY(window.sendWindow() == nullptr);
        QCOMPARE(rig.messages().count(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QCOMPARE(rig.messages().first().text, message);
        return;
    }
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.selected(), opens);
    verifySends(rig, opens, opens == kSample ? kSampleBytes : otherBytes);
}

void TestOpenFile::portTips_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("kind");

    QTest::newRow("COM0, no such path") << 0 << "missing";
    QTest::newRow("COM1, simulator through its link") << 1 << "link";
    QTest::newRow("COM2, link to nothing") << 2 << "dangling";
    QTest::newRow("COM3, simulator by its own node") << 3 << "node";
    QTest::newRow("COM3, simulator the user may not open") << 3 << "refused";
}

// Each option names the device the store maps it to and says whether it is there. A pty
// has no maker to name.
void TestOpenFile::portTips()
{
    QFETCH(int, port);
    QFETCH(QString, kind);

    Rig rig;
    PocketSim& sim = rig.sim();
    QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
    const QString dir = rig.store().directory();
    QString device = dir + QStringLiteral("/nothing-here");
    QString expected;
    if (kind == QLatin1String("missing")) {
        expected = QStringLiteral("デバイス: %1\n接続: なし").arg(device);
    } else if (kind == QLatin1String("dangling")) {
        device = dir + QStringLiteral("/dangling");
        QVERIFY(QFile::link(dir + QStringLiteral("/gone"), device));
        expected = QStringLiteral("デバイス: %1\n接続: なし").arg(device);
    } else if (kind == QLatin1String("link")) {
        device = sim.linkPath();
        expected = QStringLiteral("デバイス: %1 (%2)\n接続: あり").arg(device, sim.devicePath());
    } else {
        device = sim.devicePath();
        expected = QStringLiteral("デバイス: %1\n接続: あり").arg(device);
    }
    std::optional<RefusedAccess> refusal;
    if (kind == QLatin1String("refused")) {
        expected += QStringLiteral("\nアクセス権: なし（このユーザーは開けません）");
        refusal.emplace(device);
    }
    rig.store().mapPort(port, device);
    rig.startUp();
    kibro::SettingsWindow* settings = rig.settings();
    refusal.reset();
    QVERIFY(settings != nullptr);

    for (int option = 0; option <= 3; ++option) {
        auto* button =
            settings->findChild<QRadioButton*>(QStringLiteral("Option%1").arg(option + 7));
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), QStringLiteral("COM%1").arg(option));
        if (option == port) {
            QCOMPARE(button->toolTip(), expected);
        } else {
            QCOMPARE(button->toolTip(),
                     QStringLiteral("デバイス: %1/no-device-%2\n接続: なし").arg(dir).arg(option));
        }
    }
    // Only looked at: nothing was written to the device, not even into its pty.
    QCOMPARE(sim.drain().value_or("<not drained>"), QByteArray());
}

// An adapter plugged in while the window is hidden shows when it is shown again.
void TestOpenFile::portTipsFollowTheDevice()
{
    Rig rig;
    const QString device = rig.store().directory() + QStringLiteral("/adapter");
    rig.store().mapPort(2, device);
    rig.startUp();
    kibro::SettingsWindow* settings = rig.settings();
    QVERIFY(settings != nullptr);
    auto* option = settings->findChild<QRadioButton*>(QStringLiteral("Option9"));
    QVERIFY(option != nullptr);
    QVERIFY(option->toolTip().endsWith(QStringLiteral("接続: なし")));

    settings->hide();
    QVERIFY2(rig.sim().start(device), qPrintable(rig.sim().errorString()));
    settings->show();
    QVERIFY2(option->toolTip().endsWith(QStringLiteral("接続: あり")),
             qPrintable(option->toolTip()));

    settings->hide();
    QVERIFY(rig.sim().stop());
    settings->show();
    QVERIFY2(option->toolTip().endsWith(QStringLiteral("接続: なし")),
             qPrintable(option->toolTip()));
}

void TestOpenFile::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("xDisplay"); // DISPLAY, or none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // standard output's first line
    QTest::addColumn<QString>("errors"); // standard error's first line

    const QString usage = QStringLiteral("Usage: kibro [options] [FILE]");
    const QString version = QStringLiteral("kibro " KIBRO_VERSION);
    QTest::newRow("--help") << QStringList{"--help"} << "" << 0 << usage << "";
    QTest::newRow("-h") << QStringList{"-h", "A.BAS"} << "" << 0 << usage << "";
    QTest::newRow("--version") << QStringList{"--version"} << "" << 0 << version << "";
    QTest::newRow("-v") << QStringList{"-v"} << "" << 0 << version << "";
    QTest::newRow("two files") << QStringList{"A.BAS", "B.BAS"} << "" << 1 << ""
                               << "kibro: one FILE at most; see kibro --help";
    QTest::newRow("unknown option") << QStringList{"--bogus", "A.BAS"} << "" << 1 << ""
                                    << "kibro: unknown option 'bogus'; see kibro --help";
    QTest::newRow("no display") << QStringList{"A.BAS"} << "" << 1 << ""
                                << "kibro: cannot open the display (DISPLAY not set)";
    // No X server answers there: Qt would abort.
    QTest::newRow("display gone") << QStringList{} << ":9999" << 1 << ""
                                  << "kibro: cannot open the display (DISPLAY=:9999)";
}

// The real program without a display: what it answers without ever opening a window or a port.
void TestOpenFile::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, xDisplay);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, errors);

    ProgramProcess program;
    RIG_OK(program.prepare(false));
    QProcess& kibro = program.process();
    kibro.setProcessChannelMode(QProcess::SeparateChannels);
    RIG_OK(program.start(QStringLiteral(KIBRO_EXE), arguments, program.samplesDir(), QString(),
                         xDisplay));
    QVERIFY2(kibro.waitForFinished(kWaitMs), "the program did not end by itself");
    const QString stdErr = QString::fromLocal8Bit(kibro.readAllStandardError());
    QVERIFY2(kibro.exitStatus() == QProcess::NormalExit, qPrintable(stdErr));
    QCOMPARE(kibro.exitCode(), exitCode);
    QCOMPARE(QString::fromLocal8Bit(kibro.readAllStandardOutput()).section(u'\n', 0, 0), output);
    QCOMPARE(stdErr.section(u'\n', 0, 0), errors);
    // Nothing was stored: the program never got as far as its windows.
    QVERIFY(!QSettings(program.storeFile(), QSettings::IniFormat)
                 .contains(QStringLiteral("Startup/Left")));
}

void TestOpenFile::dropIsACopy_data()
{
    QTest::addColumn<Qt::DropActions>("possible");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("accepted");
    // Shift asks the source for a move.
    QTest::newRow("a move proposed")
        << (Qt::CopyAction | Qt::MoveAction) << Qt::KeyboardModifiers(Qt::ShiftModifier) << true;
    QTest::newRow("only a move possible")
        << Qt::DropActions(Qt::MoveAction) << Qt::KeyboardModifiers(Qt::NoModifier) << false;
}

// Whatever the source proposes, the drop is a copy: told "moved", a source may delete the file.
void TestOpenFile::dropIsACopy()
{
    QFETCH(Qt::DropActions, possible);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, accepted);
    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& window = rig.startUp();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(rig.filePath(kSample))});
    const QPoint centre = window.rect().center();
    QDragEnterEvent enter(centre, possible, &mime, Qt::LeftButton, modifiers);
    QDragMoveEvent move(centre, possible, &mime, Qt::LeftButton, modifiers);
    QDropEvent drop(centre, possible, &mime, Qt::LeftButton, modifiers);
    for (QDropEvent* event :
         {static_cast<QDropEvent*>(&enter), static_cast<QDropEvent*>(&move), &drop}) {
        QCoreApplication::sendEvent(&window, event);
        QCOMPARE(event->isAccepted(), accepted);
        if (accepted)
            QCOMPARE(event->dropAction(), Qt::CopyAction);
    }
    QVERIFY(testdata::drainEvents());
}

void TestOpenFile::heldKeyActsOnce_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("repeated");
    for (const bool repeated : {false, true}) {
        const char* how = repeated ? "held" : "pressed";
        QTest::addRow("Enter %s on the file list", how)
            << "list" << int(Qt::Key_Return) << repeated;
        QTest::addRow("Enter %s on START", how) << "start" << int(Qt::Key_Return) << repeated;
        QTest::addRow("Esc %s on the send window", how)
            << "window" << int(Qt::Key_Escape) << repeated;
    }
}

// A held key repeats: only its first press may open, start or cancel.
void TestOpenFile::heldKeyActsOnce()
{
    QFETCH(QString, target);
    QFETCH(int, key);
    QFETCH(bool, repeated);
    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& window = rig.startUp();
    QPointer<SendWindow> send;
    QWidget* receiver = window.fileList();
    if (target == u"list") {
        QVERIFY(rig.list());
        QVERIFY(window.fileList()->markNativeFile(kSample.toUtf8()));
    } else {
        send = rig.open(kSample);
        QVERIFY(send);
        receiver = target == u"start" ? static_cast<QWidget*>(Rig::startButton(send))
                                      : static_cast<QWidget*>(send.data());
    }
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), repeated);
    QCoreApplication::sendEvent(receiver, &press);
    QVERIFY(testdata::drainEvents());
    if (target == u"list") {
        QCOMPARE(window.sendWindow() != nullptr, !repeated);
    } else if (target == u"start") {
        // Pressed, the file goes whole and the window with it; held, nothing goes.
        if (!repeated)
            QTRY_VERIFY_WITH_TIMEOUT(send.isNull(), 15000);
        const auto received = rig.sim().drain();
        QVERIFY2(received, qPrintable(rig.sim().errorString()));
        QCOMPARE(*received, repeated ? QByteArray() : kSampleBytes);
    } else {
        QCOMPARE(send.isNull(), !repeated);
    }
}

QTEST_MAIN(TestOpenFile)
#include "tst_openfile.moc"
