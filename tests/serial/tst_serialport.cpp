#include "errors.h"
#include "pocketsim.h"
#include "serialport.h"
#include "testdata.h"
#include "teststore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <chrono>
#include <functional>

using namespace std::chrono_literals;
using kibro::KibroError;
using kibro::SerialPort;

namespace {

constexpr auto kWait = 10s;
constexpr int kWaitMs = 10000;

// The simulator answers on COM1; every other number a test uses goes nowhere.
struct Line
{
    Line() { store.mapPortsAway(); }

    [[nodiscard]] bool start(const QStringList& simArgs = {})
    {
        const QString link = QDir(store.directory()).filePath(QStringLiteral("pocket"));
        if (!sim.start(link, simArgs))
            return false;
        store.mapPort(1, link);
        return true;
    }

    TestStore store;
    PocketSim sim;
};

// The error number an operation throws, 0 when it goes through.
int errorOf(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const KibroError& e) {
        return e.code() == 0 ? -1 : e.code();
    }
    return 0;
}

using Operation = std::function<void(SerialPort&)>;

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void everyByteValueArrivesUnchanged();
    void refusals_data();
    void refusals();
    void closingClosedPortDoesNothing();
    void settingsChangeWhileOpen();
    void inBufferCountSeesAnswerAndEmpties_data();
    void inBufferCountSeesAnswerAndEmpties();
    void lostPortIsReported();
    void byteTimeKeepsTheLineRate_data();
    void byteTimeKeepsTheLineRate();
};

void TestSerialPort::everyByteValueArrivesUnchanged()
{
    Line line;
    QVERIFY2(line.start(), qPrintable(line.sim.errorString()));
    SerialPort comm;
    comm.open();

    QByteArray sent;
    for (int value = 0; value < 256; ++value) {
        const QByteArray one(1, static_cast<char>(value));
        comm.write(one);
        sent += one;
        QVERIFY(QTest::qWaitFor([&] { return comm.outBufferCount() == 0; }, kWaitMs));
    }
    QVERIFY(line.sim.waitForCount(256, kWait));
    comm.close();

    const auto summary = line.sim.stop();
    QVERIFY2(summary.has_value(), qPrintable(line.sim.errorString()));
    QCOMPARE(summary->bytes, qint64(256));
    QCOMPARE(summary->sha256Hex, sha256Hex(sent));
    QCOMPARE(line.sim.received(), sent);
}

void TestSerialPort::refusals_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("commPort");
    QTest::addColumn<Operation>("operation");

    const auto row = [](const char* name, bool open, int commPort, Operation operation) {
        QTest::newRow(name) << open << commPort << std::move(operation);
    };
    row("open, number without device", false, 7, [](SerialPort& c) { c.open(); });
    row("open, device missing", false, 2, [](SerialPort& c) { c.open(); });
    row("open twice", true, 1, [](SerialPort& c) { c.open(); });
    row("rate 0, closed", false, 1,
        [](SerialPort& c) { c.setSettings(QStringLiteral("0,N,8,1")); });
    row("rate 0, open", true, 1, [](SerialPort& c) { c.setSettings(QStringLiteral("0,N,8,1")); });
    row("garbage settings", false, 1, [](SerialPort& c) { c.setSettings(QStringLiteral("fast")); });
    row("garbage settings, open", true, 1,
        [](SerialPort& c) { c.setSettings(QStringLiteral("9600,X,8,1")); });
    row("empty settings", false, 1, [](SerialPort& c) { c.setSettings(QString()); });
    row("blanks in settings", false, 1,
        [](SerialPort& c) { c.setSettings(QStringLiteral("9600, N, 8, 1")); });
    row("read in count, closed", false, 1, [](SerialPort& c) { (void)c.inBufferCount(); });
    row("empty input, closed", false, 1, [](SerialPort& c) { c.setInBufferCount(0); });
    row("read out count, closed", false, 1, [](SerialPort& c) { (void)c.outBufferCount(); });
    row("empty output, closed", false, 1, [](SerialPort& c) { c.setOutBufferCount(0); });
    row("write, closed", false, 1, [](SerialPort& c) { c.write(QByteArray(1, 'x')); });
    row("in count not 0", true, 1, [](SerialPort& c) { c.setInBufferCount(5); });
    row("out count not 0", true, 1, [](SerialPort& c) { c.setOutBufferCount(1); });
    row("port number while open", true, 1, [](SerialPort& c) { c.setPortNumber(2); });
}

// Every refusal throws a non-zero number and leaves the component as it was.
void TestSerialPort::refusals()
{
    QFETCH(bool, open);
    QFETCH(int, commPort);
    QFETCH(Operation, operation);

    Line line;
    QVERIFY2(line.start(), qPrintable(line.sim.errorString()));
    SerialPort comm;
    comm.setPortNumber(static_cast<qint16>(commPort));
    comm.setSettings(QStringLiteral("4800,N,8,1"));
    if (open) {
        comm.open();
        QVERIFY(comm.isOpen());
    }

    QVERIFY(errorOf([&] { operation(comm); }) > 0);

    QCOMPARE(comm.portNumber(), static_cast<qint16>(commPort));
    QCOMPARE(comm.settings(), QStringLiteral("4800,N,8,1"));
    QCOMPARE(comm.isOpen(), open);
    if (open) {
        // Still the same working line.
        comm.write(QByteArray("ok"));
        QVERIFY(line.sim.waitForCount(2, kWait));
        QCOMPARE(line.sim.received(), QByteArray("ok"));
    }
}

void TestSerialPort::closingClosedPortDoesNothing()
{
    Line line;
    QVERIFY2(line.start(), qPrintable(line.sim.errorString()));
    SerialPort comm;
    QCOMPARE(errorOf([&] { comm.close(); }), 0);
    QVERIFY(!comm.isOpen());

    comm.open();
    comm.close();
    QCOMPARE(errorOf([&] { comm.close(); }), 0);
    QVERIFY(!comm.isOpen());
    // And it opens again afterwards.
    comm.open();
    QVERIFY(comm.isOpen());
}

void TestSerialPort::settingsChangeWhileOpen()
{
    Line line;
    QVERIFY2(line.start(), qPrintable(line.sim.errorString()));
    SerialPort comm;
    comm.open();
    comm.setSettings(QStringLiteral("38400,N,8,1"));
    QCOMPARE(comm.settings(), QStringLiteral("38400,N,8,1"));
    QVERIFY(comm.isOpen());
    comm.write(QByteArray(1, '\x7f'));
    QVERIFY(line.sim.waitForCount(1, kWait));
}

void TestSerialPort::inBufferCountSeesAnswerAndEmpties_data()
{
    QTest::addColumn<bool>("processEvents");

    // Read into the component's own buffer, or still waiting in the driver.
    QTest::newRow("read by the component") << true;
    QTest::newRow("still in the driver") << false;
}

void TestSerialPort::inBufferCountSeesAnswerAndEmpties()
{
    QFETCH(bool, processEvents);

    Line line;
    QVERIFY2(line.start({QStringLiteral("--answer-after"), QStringLiteral("1"),
                         QStringLiteral("--answer"), QStringLiteral("41")}),
             qPrintable(line.sim.errorString()));
    SerialPort comm;
    comm.open();
    QCOMPARE(comm.inBufferCount(), qint16(0));

    comm.write(QByteArray(1, 'Z'));
    QVERIFY(QTest::qWaitFor([&] { return comm.outBufferCount() == 0; }, kWaitMs));
    if (processEvents) {
        QTRY_COMPARE_WITH_TIMEOUT(comm.inBufferCount(), qint16(1), kWaitMs);
    } else {
        const QDeadlineTimer deadline(kWait);
        while (comm.inBufferCount() == 0 && !deadline.hasExpired())
            QThread::msleep(10);
        QCOMPARE(comm.inBufferCount(), qint16(1));
    }
    comm.setInBufferCount(0);
    QCOMPARE(comm.inBufferCount(), qint16(0));
    // Nothing comes back later from a queue the flush missed.
    QTest::qWait(200);
    QCOMPARE(comm.inBufferCount(), qint16(0));
}

void TestSerialPort::lostPortIsReported()
{
    Line line;
    QVERIFY2(line.start({QStringLiteral("--close-after"), QStringLiteral("3")}),
             qPrintable(line.sim.errorString()));
    SerialPort comm;
    QSignalSpy lost(&comm, &SerialPort::portLost);
    comm.open();
    comm.write(QByteArray("abc"));
    QVERIFY(line.sim.waitForExit(kWait).has_value());

    QTRY_VERIFY_WITH_TIMEOUT(!comm.isOpen(), kWaitMs);
    QCOMPARE(lost.count(), 1);

    // Nothing waits on a line that is gone.
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(errorOf([&] { comm.write(QByteArray(1, 'x')); }) > 0);
    QVERIFY(errorOf([&] { (void)comm.inBufferCount(); }) > 0);
    QVERIFY(errorOf([&] { (void)comm.outBufferCount(); }) > 0);
    QVERIFY(errorOf([&] { comm.open(); }) > 0);
    QCOMPARE(errorOf([&] { comm.close(); }), 0);
    QVERIFY(elapsed.elapsed() < 5000);

    // Idle after the loss, the process must not spin on the dead line.
    const auto before = testdata::processCpu();
    QTest::qWait(1000);
    QVERIFY2(testdata::processCpu() - before < 500ms, "busy while idle after losing the port");
    QCOMPARE(lost.count(), 1);
}

void TestSerialPort::byteTimeKeepsTheLineRate_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<qint64>("bitsPerSecond");
    QTest::addColumn<int>("bitsPerByte");

    QTest::newRow("1200 8N1") << QStringLiteral("1200,N,8,1") << qint64(1200) << 10;
    QTest::newRow("9600 8N1") << QStringLiteral("9600,N,8,1") << qint64(9600) << 10;
    QTest::newRow("38400 8N1") << QStringLiteral("38400,N,8,1") << qint64(38400) << 10;
    QTest::newRow("19200 7E2") << QStringLiteral("19200,E,7,2") << qint64(19200) << 11;
}

// A sender paces thousands of bytes by this time: over a whole file it stays within a
// nanosecond a byte of the line, and never shorter than the line's own.
void TestSerialPort::byteTimeKeepsTheLineRate()
{
    QFETCH(QString, settings);
    QFETCH(qint64, bitsPerSecond);
    QFETCH(int, bitsPerByte);
    SerialPort comm;
    comm.setSettings(settings);
    const qint64 exactTimesRate = 1'000'000'000LL * bitsPerByte;
    const qint64 ns = std::chrono::nanoseconds(comm.byteTime()).count();
    QVERIFY2(ns * bitsPerSecond >= exactTimesRate, qPrintable(QString::number(ns)));
    QVERIFY2((ns - 1) * bitsPerSecond < exactTimesRate, qPrintable(QString::number(ns)));
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
