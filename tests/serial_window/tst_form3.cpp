// The settings window on the live port: ports are simulated pocket computers reached through
// the test's own store, the window is opened from a real main window and driven by its buttons.
#include "form1.h"
#include "form3.h"
#include "messagerecorder.h"
#include "pocketsim.h"
#include "teststore.h"

#include <QApplication>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <chrono>
#include <map>
#include <memory>

using namespace std::chrono_literals;
using kibro::Form1;
using kibro::Form3;

namespace {

constexpr auto kWait = 10s;
constexpr int kWaitMs = 10000;
const QString kTitle = QStringLiteral("COM Open Error");

// A store of its own with ports mapped to simulated pocket computers (or to nothing), and a
// main window started on it the way main() does.
class Rig
{
public:
    Rig() = default;

    // Links COM<port> to a running simulated pocket computer.
    bool simulate(int port)
    {
        auto& sim = m_sims[port];
        sim = std::make_unique<PocketSim>();
        if (!sim->start(m_store.directory() + QStringLiteral("/COM%1").arg(port)))
            return false;
        m_store.mapPort(port, sim->linkPath());
        return true;
    }
    // Maps COM<port> to a path where nothing is, so it never opens (and never reaches a real
    // device through the built-in names).
    void missing(int port)
    {
        m_store.mapPort(port, m_store.directory() + QStringLiteral("/absent%1").arg(port));
    }

    Form1& start()
    {
        m_form1 = std::make_unique<Form1>();
        m_form1->setEndProgram([] {});
        m_form1->Form_load();
        m_form1->show();
        return *m_form1;
    }

    // The window as "設定(&S)" shows it, or the one start-up already showed.
    Form3* settings()
    {
        if (!m_form1->settingsWindow())
            m_form1->mnuSetting_Click();
        return m_form1->settingsWindow();
    }

    [[nodiscard]] TestStore& store() { return m_store; }
    [[nodiscard]] PocketSim& sim(int port) { return *m_sims.at(port); }
    [[nodiscard]] MessageRecorder& messages() { return m_messages; }
    [[nodiscard]] Form1& form1() { return *m_form1; }

    // Bytes written through the program's port reach the simulated device of that port.
    bool reaches(int port, const QByteArray& bytes)
    {
        const qsizetype before = sim(port).receivedCount();
        m_form1->MSComm1().setOutput(bytes);
        if (!sim(port).waitForCount(before + bytes.size(), kWait))
            return false;
        return sim(port).received().mid(before) == bytes;
    }

private:
    TestStore m_store;
    std::map<int, std::unique_ptr<PocketSim>> m_sims;
    MessageRecorder m_messages;
    std::unique_ptr<Form1> m_form1;
};

QRadioButton* option(Form3* window, int number)
{
    return window->findChild<QRadioButton*>(QStringLiteral("Option%1").arg(number));
}
QPushButton* okButton(Form3* window)
{
    return window->findChild<QPushButton*>(QStringLiteral("Command1"));
}
QPushButton* cancelButton(Form3* window)
{
    return window->findChild<QPushButton*>(QStringLiteral("Command2"));
}

// Names of the checked options among first..last.
QStringList checked(Form3* window, int first, int last)
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
bool unloaded(QPointer<Form3>& window)
{
    return QTest::qWaitFor([&] { return window.isNull(); }, kWaitMs);
}

} // namespace

class Form3Test : public QObject
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

void Form3Test::preselectsRate_data()
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

void Form3Test::preselectsRate()
{
    QFETCH(QString, settings);
    QFETCH(QString, selected);
    Rig rig;
    QVERIFY(rig.simulate(1));
    rig.store().set(QStringLiteral("Startup/Settings"), settings);
    rig.start();
    Form3* window = rig.settings();
    QVERIFY(window);

    QCOMPARE(checked(window, 1, 6), selected.isEmpty() ? QStringList() : QStringList{selected});
    QCOMPARE(checked(window, 7, 10), QStringList{QStringLiteral("Option8")});
    QVERIFY(!rig.form1().MSComm1().PortOpen());
}

void Form3Test::rateByBeginning_data()
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

void Form3Test::rateByBeginning()
{
    QFETCH(QString, settings);
    QFETCH(int, option);
    QCOMPARE(Form3::rateOptionFor(settings), option);
}

void Form3Test::portOutsideTheOptionsIsAppliedAgain()
{
    Rig rig;
    QVERIFY(rig.simulate(7));
    rig.store().set(QStringLiteral("Startup/Port"), QStringLiteral("7"));
    Form1& form1 = rig.start();
    QVERIFY(form1.MSComm1().PortOpen());
    QPointer<Form3> window = rig.settings();

    QVERIFY(checked(window, 7, 10).isEmpty());
    QCOMPARE(window->PortNo(), qint16(7));
    click(option(window, 5));
    click(okButton(window));

    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Port")), QStringLiteral("7"));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("19200,N,8,1"));
    QVERIFY(form1.MSComm1().PortOpen());
    QCOMPARE(form1.MSComm1().CommPort(), qint16(7));
}

void Form3Test::okWithWorkingPortStoresAndKeepsItOpen()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    QVERIFY(rig.simulate(2));
    Form1& form1 = rig.start();
    QPointer<Form3> window = rig.settings();

    click(option(window, 9));
    click(option(window, 6));
    QCOMPARE(checked(window, 1, 6), QStringList{QStringLiteral("Option6")});
    QCOMPARE(checked(window, 7, 10), QStringList{QStringLiteral("Option9")});
    click(okButton(window));

    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Port")), QStringLiteral("2"));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("38400,N,8,1"));
    QVERIFY(form1.MSComm1().PortOpen());
    QCOMPARE(form1.MSComm1().CommPort(), qint16(2));
    QCOMPARE(form1.MSComm1().Settings(), QStringLiteral("38400,N,8,1"));
    QVERIFY(rig.reaches(2, QByteArrayLiteral("\x01kibro\xff")));
    QCOMPARE(rig.sim(1).receivedCount(), 0);
}

void Form3Test::okWithEnterKey()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    rig.start();
    QPointer<Form3> window = rig.settings();
    click(option(window, 2));
    QTest::keyClick(option(window, 2), Qt::Key_Return);

    QVERIFY(unloaded(window));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("2400,N,8,1"));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Port")), QStringLiteral("1"));
}

void Form3Test::okWithPortThatCannotOpen()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    rig.missing(2);
    rig.store().set(QStringLiteral("Startup/Port"), QStringLiteral("1"));
    Form1& form1 = rig.start();
    QPointer<Form3> window = rig.settings();

    click(option(window, 9));
    click(option(window, 3));
    click(okButton(window));

    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().messages().at(0).text, QStringLiteral("COM2が開けません。"));
    QCOMPARE(rig.messages().messages().at(0).title, kTitle);
    QTest::qWait(50);
    QVERIFY(window && window->isVisible());
    QCOMPARE(checked(window, 7, 10), QStringList{QStringLiteral("Option9")});
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Port")), QStringLiteral("1"));
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Settings")));
    QVERIFY(!form1.MSComm1().PortOpen());

    click(cancelButton(window));
    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 1);
    QVERIFY(form1.MSComm1().PortOpen());
    QCOMPARE(form1.MSComm1().CommPort(), qint16(1));
    QCOMPARE(form1.MSComm1().Settings(), QStringLiteral("9600,N,8,1"));
    QVERIFY(rig.reaches(1, QByteArrayLiteral("back")));
}

void Form3Test::okWithoutRateIsRefused()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    rig.store().set(QStringLiteral("Startup/Settings"), QStringLiteral("300,N,8,1"));
    Form1& form1 = rig.start();
    QVERIFY(form1.MSComm1().PortOpen());
    QPointer<Form3> window = rig.settings();
    QVERIFY(checked(window, 1, 6).isEmpty());

    click(okButton(window));
    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().messages().at(0).text, QStringLiteral("COM1が開けません。"));
    QCOMPARE(rig.messages().messages().at(0).title, kTitle);
    QTest::qWait(50);
    QVERIFY(window && window->isVisible());
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("300,N,8,1"));
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Port")));
    // Only the rate was refused: the port opened with what it had.
    QCOMPARE(form1.MSComm1().Settings(), QStringLiteral("300,N,8,1"));
    QVERIFY(form1.MSComm1().PortOpen());

    // Pressed again on the open port it fails before the open, and the port stays open.
    click(option(window, 4));
    click(okButton(window));
    QCOMPARE(rig.messages().count(), 2);
    QCOMPARE(rig.messages().messages().at(1).text, QStringLiteral("COM1が開けません。"));
    QVERIFY(window && window->isVisible());
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("300,N,8,1"));
    QVERIFY(form1.MSComm1().PortOpen());

    // CANCEL finds the port open: stored settings written back, no reopen, no message.
    click(cancelButton(window));
    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 2);
    QVERIFY(form1.MSComm1().PortOpen());
    QCOMPARE(form1.MSComm1().Settings(), QStringLiteral("300,N,8,1"));
    QVERIFY(rig.reaches(1, QByteArrayLiteral("still")));
}

void Form3Test::closingRestoresStoredPort_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("CANCEL") << false;
    QTest::newRow("close box") << true;
}

void Form3Test::closingRestoresStoredPort()
{
    QFETCH(bool, closeBox);
    Rig rig;
    QVERIFY(rig.simulate(1));
    QVERIFY(rig.simulate(2));
    rig.store().set(QStringLiteral("Startup/Settings"), QStringLiteral("4800,N,8,1"));
    Form1& form1 = rig.start();
    QVERIFY(form1.MSComm1().PortOpen());
    QPointer<Form3> window = rig.settings();
    QVERIFY(!form1.MSComm1().PortOpen());

    click(option(window, 9));
    click(option(window, 6));
    if (closeBox)
        window->close();
    else
        click(cancelButton(window));

    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 0);
    QVERIFY(form1.MSComm1().PortOpen());
    QCOMPARE(form1.MSComm1().CommPort(), qint16(1));
    QCOMPARE(form1.MSComm1().Settings(), QStringLiteral("4800,N,8,1"));
    QVERIFY(!rig.store().contains(QStringLiteral("Startup/Port")));
    QCOMPARE(rig.store().value(QStringLiteral("Startup/Settings")), QStringLiteral("4800,N,8,1"));
    QVERIFY(rig.reaches(1, QByteArrayLiteral("again")));
    QCOMPARE(rig.sim(2).receivedCount(), 0);
}

void Form3Test::closingWithStoredPortThatCannotOpen_data()
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

void Form3Test::closingWithStoredPortThatCannotOpen()
{
    QFETCH(QString, storedPort);
    QFETCH(QString, startMessage);
    QFETCH(QString, closeMessage);
    QFETCH(bool, openAfter);
    Rig rig;
    QVERIFY(rig.simulate(1));
    rig.missing(2);
    rig.store().set(QStringLiteral("Startup/Port"), storedPort);
    Form1& form1 = rig.start();
    QPointer<Form3> window = form1.settingsWindow();
    QVERIFY(window);
    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().messages().at(0).text, startMessage);

    click(cancelButton(window));
    QVERIFY(unloaded(window));
    QCOMPARE(rig.messages().count(), 2);
    QCOMPARE(rig.messages().messages().at(1).text, closeMessage);
    QCOMPARE(rig.messages().messages().at(1).title, kTitle);
    QCOMPARE(form1.MSComm1().PortOpen(), openAfter);
}

void Form3Test::firstStartWithFailedPortShowsWindowBeforeMain()
{
    Rig rig;
    rig.missing(1);
    QStringList order;
    Form1* form1 = nullptr;
    const auto visible = [&form1] { return form1->isVisible() ? "visible" : "hidden"; };
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

    auto window = std::make_unique<Form1>();
    form1 = window.get();
    form1->setEndProgram([] {});
    form1->Form_load();
    form1->show();
    qApp->removeEventFilter(&watch);

    QCOMPARE(order, (QStringList{QStringLiteral("box COM1が開けません。, main hidden"),
                                 QStringLiteral("Form3, main hidden")}));
    QCOMPARE(rig.messages().messages().at(0).title, kTitle);
    QVERIFY(form1->isVisible());
    QVERIFY(form1->settingsWindow() && form1->settingsWindow()->isVisible());
    QVERIFY(!form1->MSComm1().PortOpen());
}

void Form3Test::showingAgainOnlyBringsForward()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    Form1& form1 = rig.start();
    Form3* window = rig.settings();
    click(option(window, 6));
    // An open port would be closed by a second load; this one must stay open.
    form1.MSComm1().setPortOpen(true);

    form1.mnuSetting_Click();
    QCOMPARE(form1.settingsWindow(), window);
    QVERIFY(form1.MSComm1().PortOpen());
    QCOMPARE(checked(window, 1, 6), QStringList{QStringLiteral("Option6")});
}

void Form3Test::showingAfterCloseLoadsAgain()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    Form1& form1 = rig.start();
    QPointer<Form3> first = rig.settings();
    click(cancelButton(first));
    QVERIFY(form1.MSComm1().PortOpen());

    // Before the closed window is deleted, the command already loads a new one.
    form1.mnuSetting_Click();
    QVERIFY(form1.settingsWindow() != first.data());
    QVERIFY(form1.settingsWindow()->isVisible());
    QVERIFY(!form1.MSComm1().PortOpen());
    QVERIFY(unloaded(first));
    QVERIFY(form1.settingsWindow());
}

void Form3Test::escapeAnswersNothing()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    Form1& form1 = rig.start();
    QPointer<Form3> window = rig.settings();
    QTest::keyClick(option(window, 4), Qt::Key_Escape);
    QTest::keyClick(window, Qt::Key_Escape);
    QTest::qWait(50);

    QVERIFY(window && window->isVisible());
    QVERIFY(!form1.MSComm1().PortOpen());
    QCOMPARE(rig.messages().count(), 0);
}

void Form3Test::exitWhileLoadedSkipsClosing()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    Form1& form1 = rig.start();
    QPointer<Form3> window = rig.settings();
    QVERIFY(!form1.MSComm1().PortOpen());

    form1.mnuExit_Click();
    QVERIFY(form1.hasEnded());
    QVERIFY(unloaded(window));
    QVERIFY(!form1.MSComm1().PortOpen());
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.sim(1).receivedCount(), 0);
}

void Form3Test::tabOrder()
{
    Rig rig;
    QVERIFY(rig.simulate(1));
    rig.start();
    Form3* window = rig.settings();

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

// Renders the window for the docs instead of testing: tst_form3 --screenshot FILE
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--screenshot")); at > 0) {
        if (at + 1 >= args.size())
            return 2;
        Rig rig;
        rig.missing(1);
        rig.start();
        Form3* window = rig.settings();
        if (!QTest::qWaitForWindowExposed(window))
            return 1;
        QTest::qWait(200);
        return window->grab().save(args.at(at + 1)) ? 0 : 1;
    }
    Form3Test test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form3.moc"
