#include "conversions.h"
#include "programrig.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSpinBox>
#include <QtTest>

#include <cmath>

using kibro::MainWindow;

namespace {

[[nodiscard]] int toPixelsX(const QWidget& widget, double twips)
{
    return static_cast<int>(std::lround(twips * widget.logicalDpiX() / 1440.0));
}

[[nodiscard]] int toPixelsY(const QWidget& widget, double twips)
{
    return static_cast<int>(std::lround(twips * widget.logicalDpiY() / 1440.0));
}

[[nodiscard]] QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A value the store leaves out, as opposed to an empty text.
const QString kAbsent = QStringLiteral("<absent>");

void setOrLeave(TestStore& store, const QString& key, const QString& value)
{
    if (value != kAbsent)
        store.set(key, value);
}

enum class ExitBy { MenuHandler, MenuAction, CloseBox };
enum class ReceiveEnd { Silence, Stop, SettingsWindow, ProgramExit };

} // namespace

Q_DECLARE_METATYPE(ExitBy)
Q_DECLARE_METATYPE(ReceiveEnd)

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void firstRunOpensDefaultPort();
    void menuBarHoldsTheCommands();
    void positionSurvivesTwoRuns();
    void storedPosition_data();
    void storedPosition();
    void openFailureReported_data();
    void openFailureReported();
    void exitStoresPositionAndClosesPort_data();
    void exitStoresPositionAndClosesPort();
    void exitWithUnwritableStoreStillEnds_data();
    void exitWithUnwritableStoreStillEnds();
    void exitAfterFailedOpen();
    void exitWithHandEditedStoreStoresBoth();
    void receiveKeepsWhatCame_data();
    void receiveKeepsWhatCame();
    void startRefusedWithABox_data();
    void startRefusedWithABox();
};

void TestMainWindow::firstRunOpensDefaultPort()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    const QByteArray storeBefore = fileBytes(rig.store().fileName());

    MainWindow& form = rig.startUp();

    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(form.pos(), QPoint(toPixelsX(form, 1000), toPixelsY(form, 1000)));
    kibro::SerialPort& comm = form.serialPort();
    QVERIFY(comm.isOpen());
    QCOMPARE(comm.portNumber(), qint16(1));
    QCOMPARE(comm.settings(), QStringLiteral("9600,N,8,1"));
    QVERIFY(form.settingsWindow() == nullptr);
    // The open port is the simulator's.
    QVERIFY(rig.reaches("A"));
    QCOMPARE(rig.sim().received(), QByteArray("A"));
    // Defaults belong to the reader: nothing was written.
    QCOMPARE(fileBytes(rig.store().fileName()), storeBefore);
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Left")));
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Port")));
}

void TestMainWindow::menuBarHoldsTheCommands()
{
    ProgramRig rig;
    const QList<QAction*> actions = rig.createWindow().menuBar()->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QStringLiteral("終了(&X)"));
    QCOMPARE(actions[0]->objectName(), QStringLiteral("mnuExit"));
    QCOMPARE(actions[1]->text(), QStringLiteral("設定(&S)"));
    QCOMPARE(actions[1]->objectName(), QStringLiteral("mnuSetting"));
    QCOMPARE(actions[2]->text(), QStringLiteral("受信(&R)"));
    QCOMPARE(actions[2]->objectName(), QStringLiteral("mnuReceive"));
    QVERIFY(actions[0]->menu() == nullptr);
    QVERIFY(actions[1]->menu() == nullptr);
}

void TestMainWindow::positionSurvivesTwoRuns()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& first = rig.startUp();
    const QPoint placed(toPixelsX(first, 2345), toPixelsY(first, 4321));
    first.move(placed);
    first.onExitTriggered();
    QCOMPARE(rig.endCount(), 1);
    const QString storedLeft = rig.store().value(QStringLiteral("Startup/Left"));
    const QString storedTop = rig.store().value(QStringLiteral("Startup/Top"));
    QVERIFY(!storedLeft.isEmpty());
    QVERIFY(!storedTop.isEmpty());

    MainWindow& second = rig.startUp();
    QCOMPARE(second.pos(), placed);
    QVERIFY(second.serialPort().isOpen());
    // Left where it was, the next exit writes the very same texts.
    second.onExitTriggered();
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Left")), storedLeft);
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Top")), storedTop);
}

void TestMainWindow::storedPosition_data()
{
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("top");
    QTest::addColumn<double>("leftTwips");
    QTest::addColumn<double>("topTwips");

    QTest::newRow("stored") << "2500"
                            << "3000" << 2500.0 << 3000.0;
    QTest::newRow("fraction") << "1234.5"
                              << "0" << 1234.5 << 0.0;
    QTest::newRow("off screen") << "-30000"
                                << "900000" << -30000.0 << 900000.0;
    QTest::newRow("only left") << "2000" << kAbsent << 2000.0 << 1000.0;
    QTest::newRow("left not a number") << "abc"
                                       << "2000" << 1000.0 << 2000.0;
    QTest::newRow("top not a number") << "2000"
                                      << "12px" << 2000.0 << 1000.0;
    QTest::newRow("both empty") << ""
                                << "" << 1000.0 << 1000.0;
    QTest::newRow("beyond single") << "1e39"
                                   << "-1e39" << 1000.0 << 1000.0;
    QTest::newRow("not finite") << "nan"
                                << "inf" << 1000.0 << 1000.0;
}

// A position is applied as stored, and one that is not a number falls back to 1000 while
// start-up goes on to open the port.
void TestMainWindow::storedPosition()
{
    QFETCH(QString, left);
    QFETCH(QString, top);
    QFETCH(double, leftTwips);
    QFETCH(double, topTwips);

    ProgramRig rig;
    setOrLeave(rig.store(), QStringLiteral("Startup/Left"), left);
    setOrLeave(rig.store(), QStringLiteral("Startup/Top"), top);
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));

    MainWindow& form = rig.startUp();

    QCOMPARE(form.pos(), QPoint(toPixelsX(form, leftTwips), toPixelsY(form, topTwips)));
    QCOMPARE(rig.messages().count(), 0);
    QVERIFY(form.serialPort().isOpen());
    QCOMPARE(rig.endCount(), 0);
    // A bad value is not repaired behind the user's back.
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Left")), left == kAbsent ? QString() : left);
}

void TestMainWindow::openFailureReported_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("portBefore"); // set on the component before the load; 1 is its own
    QTest::addColumn<int>("simPort");    // the number the simulator answers on, -1 for none
    QTest::addColumn<QString>("text");

    QTest::newRow("device missing") << kAbsent << kAbsent << 1 << -1 << "COM1が開けません。";
    QTest::newRow("stored port missing") << "2" << kAbsent << 1 << 1 << "COM2が開けません。";
    QTest::newRow("not a number, open works") << "abc" << kAbsent << 1 << 1 << "COM1が開けません。";
    QTest::newRow("not a number, number set before")
        << "abc" << kAbsent << 3 << 3 << "COM3が開けません。";
    QTest::newRow("not a number, device missing")
        << "abc" << kAbsent << 1 << -1 << "COM1が開けません。";
    QTest::newRow("empty") << "" << kAbsent << 1 << 1 << "COM1が開けません。";
    QTest::newRow("too large") << "99999" << kAbsent << 1 << 1 << "COM1が開けません。";
    QTest::newRow("rounds past the limit")
        << "32767.5" << kAbsent << 1 << 1 << "COM1が開けません。";
    QTest::newRow("negative") << "-1" << kAbsent << 1 << 1 << "COM-1が開けません。";
    QTest::newRow("number with no device") << "5" << kAbsent << 1 << 1 << "COM5が開けません。";
    QTest::newRow("settings garbage") << "1"
                                      << "fast" << 1 << 1 << "COM1が開けません。";
    QTest::newRow("rate zero") << "1"
                               << "0,N,8,1" << 1 << 1 << "COM1が開けません。";
    QTest::newRow("settings empty") << "1"
                                    << "" << 1 << 1 << "COM1が開けません。";
}

void TestMainWindow::openFailureReported()
{
    QFETCH(QString, port);
    QFETCH(QString, settings);
    QFETCH(int, portBefore);
    QFETCH(int, simPort);
    QFETCH(QString, text);

    ProgramRig rig;
    setOrLeave(rig.store(), QStringLiteral("Startup/Port"), port);
    setOrLeave(rig.store(), QStringLiteral("Startup/Settings"), settings);
    if (simPort >= 0)
        QVERIFY2(rig.plugIn(rig.sim(), simPort), qPrintable(rig.sim().errorString()));

    bool settingsWindowBeforeBox = true;
    rig.messages().onMessage([&](const MessageRecorder::Message&) {
        settingsWindowBeforeBox = rig.mainWindow().settingsWindow() != nullptr;
    });
    MainWindow& form = rig.startUp([&](MainWindow& window) {
        if (portBefore != 1)
            window.serialPort().setPortNumber(static_cast<qint16>(portBefore));
    });

    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().first().title, testdata::kOpenErrorTitle);
    QCOMPARE(rig.messages().first().text, text);
    // The box comes first, then the settings window, which leaves the port closed.
    QVERIFY(!settingsWindowBeforeBox);
    QVERIFY(form.settingsWindow() != nullptr);
    QVERIFY(form.settingsWindow()->isVisible());
    QVERIFY(!form.serialPort().isOpen());
    QCOMPARE(rig.endCount(), 0);
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Left")));
}

void TestMainWindow::exitStoresPositionAndClosesPort_data()
{
    QTest::addColumn<ExitBy>("exitBy");
    QTest::addColumn<bool>("minimized");

    QTest::newRow("menu handler") << ExitBy::MenuHandler << false;
    QTest::newRow("menu action") << ExitBy::MenuAction << false;
    QTest::newRow("close box") << ExitBy::CloseBox << false;
    QTest::newRow("menu handler, minimized") << ExitBy::MenuHandler << true;
    QTest::newRow("menu action, minimized") << ExitBy::MenuAction << true;
    QTest::newRow("close box, minimized") << ExitBy::CloseBox << true;
}

void TestMainWindow::exitStoresPositionAndClosesPort()
{
    QFETCH(ExitBy, exitBy);
    QFETCH(bool, minimized);

    ProgramRig rig;
    rig.store().set(QStringLiteral("Startup/Left"), QStringLiteral("2222"));
    rig.store().set(QStringLiteral("Startup/Top"), QStringLiteral("3333"));
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& form = rig.startUp();
    QVERIFY(form.serialPort().isOpen());

    const QPoint moved(157, 83);
    form.move(moved);
    if (minimized) {
        form.setWindowState(Qt::WindowMinimized);
        QVERIFY(form.isMinimized());
    }

    switch (exitBy) {
    case ExitBy::MenuHandler:
        form.onExitTriggered();
        break;
    case ExitBy::MenuAction: {
        auto* action = form.findChild<QAction*>(QStringLiteral("mnuExit"));
        QVERIFY(action != nullptr);
        action->trigger();
        break;
    }
    case ExitBy::CloseBox:
        QVERIFY(form.close());
        break;
    }

    QCOMPARE(rig.endCount(), 1);
    QVERIFY(!form.serialPort().isOpen());
    QCOMPARE(rig.messages().count(), 0);
    if (minimized) {
        QCOMPARE(rig.store().value(QStringLiteral("Startup/Left")), QStringLiteral("2222"));
        QCOMPARE(rig.store().value(QStringLiteral("Startup/Top")), QStringLiteral("3333"));
    } else {
        // Stored in twips, as single-precision numbers.
        const float left = kibro::toSingle(rig.store().value(QStringLiteral("Startup/Left")));
        const float top = kibro::toSingle(rig.store().value(QStringLiteral("Startup/Top")));
        QCOMPARE(left, static_cast<float>(moved.x() * 1440.0 / form.logicalDpiX()));
        QCOMPARE(top, static_cast<float>(moved.y() * 1440.0 / form.logicalDpiY()));
    }
    // Port settings are written only by the settings window.
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Port")));
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Settings")));
}

void TestMainWindow::exitWithUnwritableStoreStillEnds_data()
{
    QTest::addColumn<bool>("fileIsDirectory");

    // chmod does not stop root, so the store is made unwritable by its shape.
    QTest::newRow("store file is a directory") << true;
    QTest::newRow("store directory is a file") << false;
}

void TestMainWindow::exitWithUnwritableStoreStillEnds()
{
    QFETCH(bool, fileIsDirectory);

    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& form = rig.startUp();
    QVERIFY(form.serialPort().isOpen());

    if (fileIsDirectory) {
        QVERIFY(QFile::remove(rig.store().fileName()));
        QVERIFY(QDir().mkdir(rig.store().fileName()));
    } else {
        const QString blocker = QDir(rig.store().directory()).filePath(QStringLiteral("blocker"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
    }

    form.onExitTriggered();

    QCOMPARE(rig.endCount(), 1);
    QVERIFY(form.hasEnded());
    QVERIFY(!form.serialPort().isOpen());
}

// Exit closes the port without checking it is open.
void TestMainWindow::exitAfterFailedOpen()
{
    ProgramRig rig;
    MainWindow& form = rig.startUp();
    QCOMPARE(rig.messages().count(), 1);
    QVERIFY(!form.serialPort().isOpen());

    form.onExitTriggered();

    QCOMPARE(rig.endCount(), 1);
    QVERIFY(rig.store().contains(QStringLiteral("Startup/Left")));
    // The settings window goes with the program, not through its own closing.
    QTRY_VERIFY_WITH_TIMEOUT(form.settingsWindow() == nullptr, 15000);
    QVERIFY(!form.serialPort().isOpen());
}

// A line QSettings cannot parse makes it report every write as badly formed; the position
// is stored all the same, both halves of it.
void TestMainWindow::exitWithHandEditedStoreStoresBoth()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    {
        QFile file(rig.store().fileName());
        QVERIFY(file.open(QIODevice::Append));
        file.write("\n[Notes]\nwritten by hand\n");
    }
    MainWindow& form = rig.startUp();
    QVERIFY(form.serialPort().isOpen());
    const QPoint moved(90, 210);
    form.move(moved);

    form.onExitTriggered();

    QCOMPARE(rig.endCount(), 1);
    QMap<QByteArray, QByteArray> stored;
    for (const QByteArray& line : fileBytes(rig.store().fileName()).split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            stored.insert(line.left(equals), line.mid(equals + 1));
    }
    QVERIFY(stored.contains("Left"));
    QVERIFY(stored.contains("Top"));
    QCOMPARE(kibro::toSingle(QString::fromLatin1(stored["Left"])),
             static_cast<float>(moved.x() * 1440.0 / form.logicalDpiX()));
    QCOMPARE(kibro::toSingle(QString::fromLatin1(stored["Top"])),
             static_cast<float>(moved.y() * 1440.0 / form.logicalDpiY()));
}

void TestMainWindow::receiveKeepsWhatCame_data()
{
    QTest::addColumn<ReceiveEnd>("end");
    QTest::addColumn<QString>("outcome"); // how the window says it ended, %1 the name
    const QString stopped = QStringLiteral("256 バイトで停止しました。ファイルは保存しました。");
    QTest::newRow("silence") << ReceiveEnd::Silence
                             << QStringLiteral("256 バイトを %1 に保存しました。");
    QTest::newRow("STOP") << ReceiveEnd::Stop << stopped;
    QTest::newRow("settings window takes the port") << ReceiveEnd::SettingsWindow << stopped;
    QTest::newRow("program exit") << ReceiveEnd::ProgramExit << QString();
}

// Every byte value, saved by the pocket computer once START waits for it, lands unchanged in a
// new file in the shown folder, however the receive ends.
void TestMainWindow::receiveKeepsWhatCame()
{
    QFETCH(ReceiveEnd, end);
    QFETCH(QString, outcome);
    ProgramRig rig;
    const QByteArray bytes = testdata::allByteValues();
    const QStringList simArgs = rig.sim().sendArgs(bytes);
    QVERIFY(!simArgs.isEmpty());
    QVERIFY2(rig.plugIn(simArgs), qPrintable(rig.sim().errorString()));
    MainWindow& form = rig.startUp();
    QVERIFY(rig.list());
    form.findChild<QAction*>(QStringLiteral("mnuReceive"))->trigger();
    QPointer<kibro::ReceiveWindow> window = form.receiveWindow();
    QVERIFY(window && window->isVisible());
    form.onReceiveTriggered();
    QCOMPARE(form.receiveWindow(), window.data());
    window->findChild<QSpinBox*>(QStringLiteral("spnSilence"))
        ->setValue(end == ReceiveEnd::Silence ? 1 : 60);
    const QString name = window->findChild<QLineEdit*>(QStringLiteral("txtFileName"))->text();

    QTest::mouseClick(ProgramRig::startButton(window), Qt::LeftButton);
    QVERIFY(window->isReceiving());
    QVERIFY(rig.sim().startSending());
    QVERIFY(rig.sim().waitForOutput("send done", ProgramRig::kWait));
    if (end != ReceiveEnd::Silence) {
        QVERIFY(QTest::qWaitFor([&] { return window->received() == bytes.size(); },
                                int(ProgramRig::kWait.count())));
        if (end == ReceiveEnd::Stop)
            QTest::mouseClick(ProgramRig::cancelButton(window), Qt::LeftButton);
        else if (end == ReceiveEnd::SettingsWindow)
            form.onSettingsTriggered();
        else
            form.onExitTriggered();
    }
    QVERIFY(QTest::qWaitFor([&] { return !window || !window->isReceiving(); },
                            int(ProgramRig::kWait.count())));

    QCOMPARE(fileBytes(rig.filePath(name)), bytes);
    QCOMPARE(QDir(rig.folder()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    QCOMPARE(rig.messages().count(), 0);
    if (end == ReceiveEnd::ProgramExit) {
        QCOMPARE(rig.endCount(), 1);
        QVERIFY(QTest::qWaitFor([&] { return window.isNull(); }));
    } else {
        // The window stays to say how it ended; the list shows the new file chosen.
        QVERIFY(window->isVisible());
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("lblOutcome"))->text(),
                 outcome.arg(name));
        QCOMPARE(form.fileList()->fileName(), name);
    }
}

void TestMainWindow::startRefusedWithABox_data()
{
    QTest::addColumn<bool>("receive");
    QTest::addColumn<bool>("portHeld");
    QTest::addColumn<QString>("text");
    // Once failed as a broken transfer, and the send window went.
    QTest::newRow("send while a receive holds the port")
        << false << true << QStringLiteral("受信中は送信できません。");
    QTest::newRow("receive while a send holds the port")
        << true << true << QStringLiteral("送信中は受信できません。");
    QTest::newRow("receive into a name taken")
        << true << false << QStringLiteral("同じ名前のファイルがあります。");
}

// START that cannot start says why in a box, and leaves the window, the file and the line as
// they were.
void TestMainWindow::startRefusedWithABox()
{
    QFETCH(bool, receive);
    QFETCH(bool, portHeld);
    QFETCH(QString, text);
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& form = rig.startUp();
    const QString name = QStringLiteral("A.BAS");
    const QByteArray bytes = "10 END\r\n";
    QObject otherJob;
    if (portHeld)
        QVERIFY(form.serialPort().reserve(&otherJob));
    QPointer<QDialog> window;
    if (receive) {
        QVERIFY(!rig.writeFile(name, bytes).isEmpty());
        QVERIFY(rig.list());
        form.onReceiveTriggered();
        window = form.receiveWindow();
        QVERIFY(window);
        window->findChild<QLineEdit*>(QStringLiteral("txtFileName"))->setText(name);
    } else {
        window = rig.writeAndOpen(name, bytes);
        QVERIFY(window);
    }

    QTest::mouseClick(ProgramRig::startButton(window), Qt::LeftButton);
    QCOMPARE(rig.messages().describe(),
             QStringLiteral("%1: %2").arg(
                 portHeld ? QStringLiteral("Port Busy") : QStringLiteral("File Exists"), text));
    QVERIFY(window && window->isVisible());
    QVERIFY(ProgramRig::startButton(window)->isEnabled());
    form.serialPort().release(&otherJob);
    QCOMPARE(fileBytes(rig.filePath(name)), bytes);
    QCOMPARE(QDir(rig.folder()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    const auto received = rig.sim().drain();
    QVERIFY2(received, qPrintable(rig.sim().errorString()));
    QCOMPARE(*received, QByteArray());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
