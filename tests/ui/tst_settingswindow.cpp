// The settings window on the live port: ports are simulated pocket computers reached through
// the test's own store, the window is opened from a real main window and driven by its buttons.
#include "programrig.h"

#include <QApplication>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using kibro::MainWindow;
using kibro::SettingsWindow;

namespace {

constexpr int kWaitMs = 10000;
using testdata::kOpenErrorTitle;

QRadioButton* option(SettingsWindow* window, int number)
{
    return window->findChild<QRadioButton*>(QStringLiteral("Option%1").arg(number));
}
QPushButton* okButton(SettingsWindow* window)
{
    return window->findChild<QPushButton*>(QStringLiteral("Command1"));
}
QPushButton* cancelButton(SettingsWindow* window)
{
    return window->findChild<QPushButton*>(QStringLiteral("Command2"));
}

// Names of the checked options among first..last.
QStringList checked(SettingsWindow* window, int first, int last)
{
    QStringList names;
    for (int number = first; number <= last; ++number) {
        if (option(window, number)->isChecked())
            names << option(window, number)->objectName();
    }
    return names;
}

void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
}

// A window that was unloaded is deleted once the event loop runs.
bool unloaded(QPointer<SettingsWindow>& window)
{
    return QTest::qWaitFor([&] { return window.isNull(); }, kWaitMs);
}

} // namespace

class SettingsWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void preselectsRate_data();
    void preselectsRate();
    void rateByBeginning_data();
    void rateByBeginning();
    void portOutsideTheOptionsIsAppliedAgain();
    void okWithWorkingPortStoresAndKeepsItOpen();
    void okWithEnterKey();
    void okWithPortThatCannotOpen();
    void okWithoutRateIsRefused();
    void closingRestoresStoredPort_data();
    void closingRestoresStoredPort();
    void closingWithStoredPortThatCannotOpen_data();
    void closingWithStoredPortThatCannotOpen();
    void firstStartWithFailedPortShowsWindowBeforeMain();
    void showingAgainOnlyBringsForward();
    void showingAfterCloseLoadsAgain();
    void escapeAnswersNothing();
    void exitWhileLoadedSkipsClosing();
    void tabOrder();
};

void SettingsWindowTest::preselectsRate_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("selected");
    QTest::newRow("19200") << "19200,N,8,1"
                           << "Option5";
    QTest::newRow("38400") << "38400,N,8,1"
                           << "Option6";
    QTest::newRow("9600") << "9600,N,8,1"
                          << "Option4";
    QTest::newRow("1200") << "1200,N,8,1"
                          << "Option1";
    QTest::newRow("2400") << "2400,N,8,1"
                          << "Option2";
    QTest::newRow("4800") << "4800,N,8,1"
                          << "Option3";
    QTest::newRow("300 offers none") << "300,N,8,1"
                                     << "";
    QTest::newRow("12000 starts as 1200") << "12000,N,8,1"
                                          << "Option1";
    // A text the port refuses at start-up never reaches it: the port keeps its 9600.
    QTest::newRow("refused text") << "abc"
                                  << "Option4";
}

void SettingsWindowTest::preselectsRate()
{
    QFETCH(QString, settings);
    QFETCH(QString, selected);
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.store().set(QStringLiteral("Startup/Settings"), settings);
    rig.startUp();
    SettingsWindow* window = rig.settings();
    QVERIFY(window);

    QCOMPARE(checked(window, 1, 6), selected.isEmpty() ? QStringList() : QStringList{selected});
    QCOMPARE(checked(window, 7, 10), QStringList{QStringLiteral("Option8")});
    QVERIFY(!rig.mainWindow().serialPort().isOpen());
}

void SettingsWindowTest::rateByBeginning_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("option");
    QTest::newRow("none") << "abc" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("short") << "96" << -1;
    QTest::newRow("four of 19200") << "1920" << -1;
    QTest::newRow("whole 2400") << "2400" << 1;
    QTest::newRow("19200 bare") << "19200" << 4;
    QTest::newRow("38400") << "38400,N,8,1" << 5;
    QTest::newRow("leading blank") << " 9600,N,8,1" << -1;
    QTest::newRow("96000") << "96000,N,8,1" << 3;
}

void SettingsWindowTest::rateByBeginning()
{
    QFETCH(QString, settings);
    QFETCH(int, option);
    QCOMPARE(SettingsWindow::rateOptionFor(settings), option);
}

void SettingsWindowTest::portOutsideTheOptionsIsAppliedAgain()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(rig.sim(), 7), qPrintable(rig.sim().errorString()));
    rig.store().set(QStringLiteral("Startup/Port"), QStringLiteral("7"));
    MainWindow& mainWindow = rig.startUp();
    QVERIFY(mainWindow.serialPort().isOpen());
    QPointer<SettingsWindow> window = rig.settings();

    QVERIFY(checked(window, 7, 10).isEmpty());
    QCOMPARE(window->portNumber(), qint16(7));
    click(option(window, 5));
    click(okButton(window));

    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Port")), QStringLiteral("7"));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("19200,N,8,1"));
    QVERIFY(mainWindow.serialPort().isOpen());
    QCOMPARE(mainWindow.serialPort().portNumber(), qint16(7));
}

void SettingsWindowTest::okWithWorkingPortStoresAndKeepsItOpen()
{
    PocketSim com2; // outlives the window that may hold it open
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    QVERIFY2(rig.plugIn(com2, 2), qPrintable(com2.errorString()));
    MainWindow& mainWindow = rig.startUp();
    QPointer<SettingsWindow> window = rig.settings();

    click(option(window, 9));
    click(option(window, 6));
    QCOMPARE(checked(window, 1, 6), QStringList{QStringLiteral("Option6")});
    QCOMPARE(checked(window, 7, 10), QStringList{QStringLiteral("Option9")});
    click(okButton(window));

    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Port")), QStringLiteral("2"));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("38400,N,8,1"));
    QVERIFY(mainWindow.serialPort().isOpen());
    QCOMPARE(mainWindow.serialPort().portNumber(), qint16(2));
    QCOMPARE(mainWindow.serialPort().settings(), QStringLiteral("38400,N,8,1"));
    QVERIFY(rig.reaches(com2, QByteArrayLiteral("\x01kibro\xff")));
    // Whatever went to COM1 is in its pty if not received yet.
    QCOMPARE(rig.sim().drain().value_or("<not drained>"), QByteArray());
}

void SettingsWindowTest::okWithEnterKey()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.startUp();
    QPointer<SettingsWindow> window = rig.settings();
    click(option(window, 2));
    QTest::keyClick(option(window, 2), Qt::Key_Return);

    QVERIFY(unloaded(window));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("2400,N,8,1"));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Port")), QStringLiteral("1"));
}

void SettingsWindowTest::okWithPortThatCannotOpen()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.store().set(QStringLiteral("Startup/Port"), QStringLiteral("1"));
    MainWindow& mainWindow = rig.startUp();
    QPointer<SettingsWindow> window = rig.settings();

    click(option(window, 9));
    click(option(window, 3));
    click(okButton(window));

    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().messages().at(0).text, QStringLiteral("COM2が開けません。"));
    QCOMPARE(rig.messages().messages().at(0).title, kOpenErrorTitle);
    // Whatever the refusal set going, queued or deleted later, has run: the window stays.
    QVERIFY(testdata::drainEvents());
    QVERIFY(window && window->isVisible());
    QCOMPARE(checked(window, 7, 10), QStringList{QStringLiteral("Option9")});
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Port")), QStringLiteral("1"));
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Settings")));
    QVERIFY(!mainWindow.serialPort().isOpen());

    click(cancelButton(window));
    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 1);
    QVERIFY(mainWindow.serialPort().isOpen());
    QCOMPARE(mainWindow.serialPort().portNumber(), qint16(1));
    QCOMPARE(mainWindow.serialPort().settings(), QStringLiteral("9600,N,8,1"));
    QVERIFY(rig.reaches(QByteArrayLiteral("back")));
}

void SettingsWindowTest::okWithoutRateIsRefused()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.store().set(QStringLiteral("Startup/Settings"), QStringLiteral("300,N,8,1"));
    MainWindow& mainWindow = rig.startUp();
    QVERIFY(mainWindow.serialPort().isOpen());
    QPointer<SettingsWindow> window = rig.settings();
    QVERIFY(checked(window, 1, 6).isEmpty());

    click(okButton(window));
    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().messages().at(0).text, QStringLiteral("COM1が開けません。"));
    QCOMPARE(rig.messages().messages().at(0).title, kOpenErrorTitle);
    // Whatever the refusal set going, queued or deleted later, has run: the window stays.
    QVERIFY(testdata::drainEvents());
    QVERIFY(window && window->isVisible());
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("300,N,8,1"));
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Port")));
    // Only the rate was refused, yet the port is left closed until the window closes.
    QCOMPARE(mainWindow.serialPort().settings(), QStringLiteral("300,N,8,1"));
    QVERIFY(!mainWindow.serialPort().isOpen());

    // CANCEL: stored settings written back, the port opened again, no message.
    click(cancelButton(window));
    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 1);
    QVERIFY(mainWindow.serialPort().isOpen());
    QCOMPARE(mainWindow.serialPort().settings(), QStringLiteral("300,N,8,1"));
    QVERIFY(rig.reaches(QByteArrayLiteral("still")));
}

void SettingsWindowTest::closingRestoresStoredPort_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("failedOk");
    QTest::newRow("CANCEL") << false << "4800,N,8,1" << false;
    QTest::newRow("close box") << true << "4800,N,8,1" << false;
    // No rate chosen: COM2 opens, the rate is refused; the port must not stay on COM2.
    QTest::newRow("CANCEL after a failed OK") << false << "300,N,8,1" << true;
}

void SettingsWindowTest::closingRestoresStoredPort()
{
    QFETCH(bool, closeBox);
    QFETCH(QString, stored);
    QFETCH(bool, failedOk);
    PocketSim com2; // outlives the window that may hold it open
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    QVERIFY2(rig.plugIn(com2, 2), qPrintable(com2.errorString()));
    rig.store().set(QStringLiteral("Startup/Settings"), stored);
    MainWindow& mainWindow = rig.startUp();
    QVERIFY(mainWindow.serialPort().isOpen());
    QPointer<SettingsWindow> window = rig.settings();
    QVERIFY(!mainWindow.serialPort().isOpen());

    click(option(window, 9));
    if (failedOk) {
        click(okButton(window));
        QCOMPARE(rig.messages().count(), 1);
        QVERIFY(!mainWindow.serialPort().isOpen());
    } else {
        click(option(window, 6));
    }
    if (closeBox)
        window->close();
    else
        click(cancelButton(window));

    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), failedOk ? 1 : 0);
    QVERIFY(mainWindow.serialPort().isOpen());
    QCOMPARE(mainWindow.serialPort().portNumber(), qint16(1));
    QCOMPARE(mainWindow.serialPort().settings(), stored);
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Port")));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), stored);
    QVERIFY(rig.reaches(QByteArrayLiteral("again")));
    QCOMPARE(com2.drain().value_or("<not drained>"), QByteArray());
}

void SettingsWindowTest::closingWithStoredPortThatCannotOpen_data()
{
    QTest::addColumn<QString>("storedPort");
    QTest::addColumn<QString>("startMessage");
    QTest::addColumn<QString>("closeMessage");
    QTest::addColumn<bool>("openAfter");
    QTest::newRow("no device") << "2"
                               << "COM2が開けません。"
                               << "COM2が開けませんでした。" << false;
    // The port keeps its number and opens, yet the refused number is still reported.
    QTest::newRow("not a number") << "x"
                                  << "COM1が開けません。"
                                  << "COM1が開けませんでした。" << true;
}

void SettingsWindowTest::closingWithStoredPortThatCannotOpen()
{
    QFETCH(QString, storedPort);
    QFETCH(QString, startMessage);
    QFETCH(QString, closeMessage);
    QFETCH(bool, openAfter);
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.store().set(QStringLiteral("Startup/Port"), storedPort);
    MainWindow& mainWindow = rig.startUp();
    QPointer<SettingsWindow> window = mainWindow.settingsWindow();
    QVERIFY(window);
    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().messages().at(0).text, startMessage);

    click(cancelButton(window));
    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 2);
    QCOMPARE(rig.messages().messages().at(1).text, closeMessage);
    QCOMPARE(rig.messages().messages().at(1).title, kOpenErrorTitle);
    QCOMPARE(mainWindow.serialPort().isOpen(), openAfter);
}

void SettingsWindowTest::firstStartWithFailedPortShowsWindowBeforeMain()
{
    ProgramRig rig;
    QStringList order;
    const auto visible = [&rig] { return rig.mainWindow().isVisible() ? "visible" : "hidden"; };
    rig.messages().onMessage([&](const MessageRecorder::Message& message) {
        order << QStringLiteral("box %1, main %2").arg(message.text, visible());
    });

    struct ShowWatch : QObject
    {
        std::function<void()> onShow;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Show && watched->objectName() == u"Form3")
                onShow();
            return false;
        }
    } watch;
    watch.onShow = [&] { order << QStringLiteral("Form3, main %1").arg(visible()); };
    qApp->installEventFilter(&watch);

    MainWindow& mainWindow = rig.startUp();
    qApp->removeEventFilter(&watch);

    QCOMPARE(order, (QStringList{QStringLiteral("box COM1が開けません。, main hidden"),
                                 QStringLiteral("Form3, main hidden")}));
    QCOMPARE(rig.messages().messages().at(0).title, kOpenErrorTitle);
    QVERIFY(mainWindow.isVisible());
    QVERIFY(mainWindow.settingsWindow() && mainWindow.settingsWindow()->isVisible());
    QVERIFY(!mainWindow.serialPort().isOpen());
}

void SettingsWindowTest::showingAgainOnlyBringsForward()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& mainWindow = rig.startUp();
    SettingsWindow* window = rig.settings();
    click(option(window, 6));
    // An open port would be closed by a second load; this one must stay open.
    mainWindow.serialPort().open();

    mainWindow.onSettingsTriggered();
    QCOMPARE(mainWindow.settingsWindow(), window);
    QVERIFY(mainWindow.serialPort().isOpen());
    QCOMPARE(checked(window, 1, 6), QStringList{QStringLiteral("Option6")});
}

void SettingsWindowTest::showingAfterCloseLoadsAgain()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& mainWindow = rig.startUp();
    QPointer<SettingsWindow> first = rig.settings();
    click(cancelButton(first));
    QVERIFY(mainWindow.serialPort().isOpen());

    // Before the closed window is deleted, the command already loads a new one.
    mainWindow.onSettingsTriggered();
    QVERIFY(mainWindow.settingsWindow() != first.data());
    QVERIFY(mainWindow.settingsWindow()->isVisible());
    QVERIFY(!mainWindow.serialPort().isOpen());
    QVERIFY(unloaded(first));
    QVERIFY(mainWindow.settingsWindow());
}

void SettingsWindowTest::escapeAnswersNothing()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& mainWindow = rig.startUp();
    QPointer<SettingsWindow> window = rig.settings();
    QTest::keyClick(option(window, 4), Qt::Key_Escape);
    QTest::keyClick(window, Qt::Key_Escape);
    // Whatever Esc set going, queued or deleted later, has run.
    QVERIFY(testdata::drainEvents());

    QVERIFY(window && window->isVisible());
    QVERIFY(!mainWindow.serialPort().isOpen());
    QCOMPARE(rig.messages().count(), 0);
}

void SettingsWindowTest::exitWhileLoadedSkipsClosing()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    MainWindow& mainWindow = rig.startUp();
    QPointer<SettingsWindow> window = rig.settings();
    QVERIFY(!mainWindow.serialPort().isOpen());

    mainWindow.onExitTriggered();
    QVERIFY(mainWindow.hasEnded());
    QVERIFY(unloaded(window));
    QVERIFY(!mainWindow.serialPort().isOpen());
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.sim().drain().value_or("<not drained>"), QByteArray());
}

void SettingsWindowTest::tabOrder()
{
    ProgramRig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.startUp();
    SettingsWindow* window = rig.settings();

    QStringList expected;
    for (int number = 1; number <= 10; ++number)
        expected << QStringLiteral("Option%1").arg(number);
    expected << QStringLiteral("Command1") << QStringLiteral("Command2");
    QStringList chain;
    QWidget* widget = option(window, 1);
    for (qsizetype i = 0; i < expected.size(); ++i) {
        chain << widget->objectName();
        do
            widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus);
    }
    QCOMPARE(chain, expected);
    QVERIFY(okButton(window)->isDefault());
    QCOMPARE(option(window, 1)->parentWidget()->objectName(), QStringLiteral("Frame1"));
    QCOMPARE(option(window, 10)->parentWidget()->objectName(), QStringLiteral("Frame2"));
}

// Renders the window for the docs instead of testing: tst_settingswindow --screenshot FILE
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--screenshot")); at > 0) {
        if (at + 1 >= args.size())
            return 2;
        ProgramRig rig;
        rig.startUp();
        SettingsWindow* window = rig.settings();
        // Shown, and with all it had pending (layout, polish, repaints) done.
        if (!QTest::qWaitForWindowExposed(window) || !testdata::drainEvents())
            return 1;
        return window->grab().save(args.at(at + 1)) ? 0 : 1;
    }
    SettingsWindowTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingswindow.moc"
