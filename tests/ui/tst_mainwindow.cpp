#include "conversions.h"
#include "mainwindow.h"
#include "messagerecorder.h"
#include "pocketsim.h"
#include "settingswindow.h"
#include "teststore.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QTest>

#include <chrono>
#include <cmath>
#include <optional>

using namespace std::chrono_literals;
using kibro::MainWindow;

namespace {

constexpr auto kWait = 10s;

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

// One run of the program as the tests see it: its store, its peer, its boxes.
struct Run
{
    explicit Run(TestStore& store) : store(store) {}

    // Puts the simulator behind COM<port>.
    [[nodiscard]] bool connectPort(int port, const QStringList& simArgs = {})
    {
        const QString link =
            QDir(store.directory()).filePath(QStringLiteral("pocket-%1").arg(port));
        if (!sim.start(link, simArgs))
            return false;
        store.mapPort(port, link);
        return true;
    }

    void load()
    {
        form.emplace();
        form->setEndProgram([this] { ++endCount; });
        form->startUp();
        form->show();
    }

    TestStore& store;
    MessageRecorder messages;
    PocketSim sim;
    std::optional<MainWindow> form;
    int endCount = 0;
};

enum class ExitBy { MenuHandler, MenuAction, CloseBox };

} // namespace

Q_DECLARE_METATYPE(ExitBy)

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void firstRunOpensDefaultPort();
    void menuBarHoldsTheTwoCommands();
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
};

void TestMainWindow::firstRunOpensDefaultPort()
{
    TestStore store;
    store.mapPortsAway();
    Run run(store);
    QVERIFY2(run.connectPort(1), qPrintable(run.sim.errorString()));
    const QByteArray storeBefore = fileBytes(store.fileName());

    run.load();

    QCOMPARE(run.messages.count(), 0);
    QCOMPARE(run.form->pos(), QPoint(toPixelsX(*run.form, 1000), toPixelsY(*run.form, 1000)));
    kibro::SerialPort& comm = run.form->serialPort();
    QVERIFY(comm.isOpen());
    QCOMPARE(comm.portNumber(), qint16(1));
    QCOMPARE(comm.settings(), QStringLiteral("9600,N,8,1"));
    QVERIFY(run.form->settingsWindow() == nullptr);
    // The open port is the simulator's.
    comm.write(QByteArray(1, 'A'));
    QVERIFY(run.sim.waitForCount(1, kWait));
    QCOMPARE(run.sim.received(), QByteArray("A"));
    // Defaults belong to the reader: nothing was written.
    QCOMPARE(fileBytes(store.fileName()), storeBefore);
    QVERIFY(!store.contains(QStringLiteral("Startup/Left")));
    QVERIFY(!store.contains(QStringLiteral("Startup/Port")));
}

void TestMainWindow::menuBarHoldsTheTwoCommands()
{
    TestStore store;
    store.mapPortsAway();
    MainWindow form;
    const QList<QAction*> actions = form.menuBar()->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions[0]->text(), QStringLiteral("終了(&X)"));
    QCOMPARE(actions[0]->objectName(), QStringLiteral("mnuExit"));
    QCOMPARE(actions[1]->text(), QStringLiteral("設定(&S)"));
    QCOMPARE(actions[1]->objectName(), QStringLiteral("mnuSetting"));
    QVERIFY(actions[0]->menu() == nullptr);
    QVERIFY(actions[1]->menu() == nullptr);
}

void TestMainWindow::positionSurvivesTwoRuns()
{
    TestStore store;
    store.mapPortsAway();
    QPoint placed;
    QString storedLeft;
    QString storedTop;
    {
        Run first(store);
        QVERIFY2(first.connectPort(1), qPrintable(first.sim.errorString()));
        first.load();
        placed = QPoint(toPixelsX(*first.form, 2345), toPixelsY(*first.form, 4321));
        first.form->move(placed);
        first.form->onExitTriggered();
        QCOMPARE(first.endCount, 1);
        storedLeft = store.value(QStringLiteral("Startup/Left"));
        storedTop = store.value(QStringLiteral("Startup/Top"));
    }
    QVERIFY(!storedLeft.isEmpty());
    QVERIFY(!storedTop.isEmpty());

    Run second(store);
    QVERIFY2(second.connectPort(1), qPrintable(second.sim.errorString()));
    second.load();
    QCOMPARE(second.form->pos(), placed);
    QVERIFY(second.form->serialPort().isOpen());
    // Left where it was, the next exit writes the very same texts.
    second.form->onExitTriggered();
    QCOMPARE(store.value(QStringLiteral("Startup/Left")), storedLeft);
    QCOMPARE(store.value(QStringLiteral("Startup/Top")), storedTop);
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

    TestStore store;
    store.mapPortsAway();
    setOrLeave(store, QStringLiteral("Startup/Left"), left);
    setOrLeave(store, QStringLiteral("Startup/Top"), top);
    Run run(store);
    QVERIFY2(run.connectPort(1), qPrintable(run.sim.errorString()));

    run.load();

    QCOMPARE(run.form->pos(),
             QPoint(toPixelsX(*run.form, leftTwips), toPixelsY(*run.form, topTwips)));
    QCOMPARE(run.messages.count(), 0);
    QVERIFY(run.form->serialPort().isOpen());
    QCOMPARE(run.endCount, 0);
    // A bad value is not repaired behind the user's back.
    QCOMPARE(store.value(QStringLiteral("Startup/Left")), left == kAbsent ? QString() : left);
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

    TestStore store;
    store.mapPortsAway();
    setOrLeave(store, QStringLiteral("Startup/Port"), port);
    setOrLeave(store, QStringLiteral("Startup/Settings"), settings);
    Run run(store);
    if (simPort >= 0)
        QVERIFY2(run.connectPort(simPort), qPrintable(run.sim.errorString()));

    bool settingsWindowBeforeBox = true;
    run.messages.onMessage([&](const MessageRecorder::Message&) {
        settingsWindowBeforeBox = run.form->settingsWindow() != nullptr;
    });
    run.form.emplace();
    run.form->setEndProgram([&] { ++run.endCount; });
    if (portBefore != 1)
        run.form->serialPort().setPortNumber(static_cast<qint16>(portBefore));
    run.form->startUp();

    QCOMPARE(run.messages.count(), 1);
    QCOMPARE(run.messages.messages()[0].title, QStringLiteral("COM Open Error"));
    QCOMPARE(run.messages.messages()[0].text, text);
    // The box comes first, then the settings window, which leaves the port closed.
    QVERIFY(!settingsWindowBeforeBox);
    QVERIFY(run.form->settingsWindow() != nullptr);
    QVERIFY(run.form->settingsWindow()->isVisible());
    QVERIFY(!run.form->serialPort().isOpen());
    QCOMPARE(run.endCount, 0);
    QVERIFY(!store.contains(QStringLiteral("Startup/Left")));
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

    TestStore store;
    store.mapPortsAway();
    store.set(QStringLiteral("Startup/Left"), QStringLiteral("2222"));
    store.set(QStringLiteral("Startup/Top"), QStringLiteral("3333"));
    Run run(store);
    QVERIFY2(run.connectPort(1), qPrintable(run.sim.errorString()));
    run.load();
    QVERIFY(run.form->serialPort().isOpen());

    const QPoint moved(157, 83);
    run.form->move(moved);
    if (minimized) {
        run.form->setWindowState(Qt::WindowMinimized);
        QVERIFY(run.form->isMinimized());
    }

    switch (exitBy) {
    case ExitBy::MenuHandler:
        run.form->onExitTriggered();
        break;
    case ExitBy::MenuAction: {
        auto* action = run.form->findChild<QAction*>(QStringLiteral("mnuExit"));
        QVERIFY(action != nullptr);
        action->trigger();
        break;
    }
    case ExitBy::CloseBox:
        QVERIFY(run.form->close());
        break;
    }

    QCOMPARE(run.endCount, 1);
    QVERIFY(!run.form->serialPort().isOpen());
    QCOMPARE(run.messages.count(), 0);
    if (minimized) {
        QCOMPARE(store.value(QStringLiteral("Startup/Left")), QStringLiteral("2222"));
        QCOMPARE(store.value(QStringLiteral("Startup/Top")), QStringLiteral("3333"));
    } else {
        // Stored in twips, as single-precision numbers.
        const float left = kibro::toSingle(store.value(QStringLiteral("Startup/Left")));
        const float top = kibro::toSingle(store.value(QStringLiteral("Startup/Top")));
        QCOMPARE(left, static_cast<float>(moved.x() * 1440.0 / run.form->logicalDpiX()));
        QCOMPARE(top, static_cast<float>(moved.y() * 1440.0 / run.form->logicalDpiY()));
    }
    // Port settings are written only by the settings window.
    QVERIFY(!store.contains(QStringLiteral("Startup/Port")));
    QVERIFY(!store.contains(QStringLiteral("Startup/Settings")));
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

    TestStore store;
    store.mapPortsAway();
    Run run(store);
    QVERIFY2(run.connectPort(1), qPrintable(run.sim.errorString()));
    run.load();
    QVERIFY(run.form->serialPort().isOpen());

    if (fileIsDirectory) {
        QVERIFY(QFile::remove(store.fileName()));
        QVERIFY(QDir().mkdir(store.fileName()));
    } else {
        const QString blocker = QDir(store.directory()).filePath(QStringLiteral("blocker"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
    }

    run.form->onExitTriggered();

    QCOMPARE(run.endCount, 1);
    QVERIFY(run.form->hasEnded());
    QVERIFY(!run.form->serialPort().isOpen());
}

// Exit closes the port without checking it is open.
void TestMainWindow::exitAfterFailedOpen()
{
    TestStore store;
    store.mapPortsAway();
    Run run(store);
    run.load();
    QCOMPARE(run.messages.count(), 1);
    QVERIFY(!run.form->serialPort().isOpen());

    run.form->onExitTriggered();

    QCOMPARE(run.endCount, 1);
    QVERIFY(store.contains(QStringLiteral("Startup/Left")));
    // The settings window goes with the program, not through its own closing.
    QTRY_VERIFY_WITH_TIMEOUT(run.form->settingsWindow() == nullptr, 15000);
    QVERIFY(!run.form->serialPort().isOpen());
}

// A line QSettings cannot parse makes it report every write as badly formed; the position
// is stored all the same, both halves of it.
void TestMainWindow::exitWithHandEditedStoreStoresBoth()
{
    TestStore store;
    store.mapPortsAway();
    Run run(store);
    QVERIFY2(run.connectPort(1), qPrintable(run.sim.errorString()));
    {
        QFile file(store.fileName());
        QVERIFY(file.open(QIODevice::Append));
        file.write("\n[Notes]\nwritten by hand\n");
    }
    run.load();
    QVERIFY(run.form->serialPort().isOpen());
    const QPoint moved(90, 210);
    run.form->move(moved);

    run.form->onExitTriggered();

    QCOMPARE(run.endCount, 1);
    QMap<QByteArray, QByteArray> stored;
    for (const QByteArray& line : fileBytes(store.fileName()).split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            stored.insert(line.left(equals), line.mid(equals + 1));
    }
    QVERIFY(stored.contains("Left"));
    QVERIFY(stored.contains("Top"));
    QCOMPARE(kibro::toSingle(QString::fromLatin1(stored["Left"])),
             static_cast<float>(moved.x() * 1440.0 / run.form->logicalDpiX()));
    QCOMPARE(kibro::toSingle(QString::fromLatin1(stored["Top"])),
             static_cast<float>(moved.y() * 1440.0 / run.form->logicalDpiY()));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
