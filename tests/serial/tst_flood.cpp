// A pocket computer that never stops talking, and ports that cannot be opened: what the port
// holds, what it counts, and what it says on standard error.
#include "deviceholder.h"
#include "errors.h"
#include "peek.h"
#include "pocketsim.h"
#include "serialport.h"
#include "testdata.h"
#include "teststore.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <chrono>

using namespace std::chrono_literals;
using kibro::KibroError;
using kibro::SerialPort;

namespace {

constexpr auto kWait = 20s;
constexpr int kWaitMs = 20000;

QStringList g_warnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg)
        g_warnings.append(text);
}

QStringList floodArgs(qint64 rate, qint64 bytes)
{
    QStringList args{QStringLiteral("--flood")};
    if (rate > 0)
        args << QStringLiteral("--flood-rate") << QString::number(rate);
    if (bytes > 0)
        args << QStringLiteral("--flood-bytes") << QString::number(bytes);
    return args;
}

} // namespace

class TestFlood : public QObject
{
    Q_OBJECT

private slots:
    void heldBytesStayBounded_data();
    void heldBytesStayBounded();
    void countSaysSomethingArrivedUntilEmptied_data();
    void countSaysSomethingArrivedUntilEmptied();
    void openFailureNamesDeviceAndReason_data();
    void openFailureNamesDeviceAndReason();
    void lostWhileFullIsNoticed();
};

void TestFlood::heldBytesStayBounded_data()
{
    QTest::addColumn<qint64>("rate");
    QTest::addColumn<qint64>("total");

    // Emptying again and again lets megabytes through; the rate-limited one is a real line.
    QTest::newRow("as fast as the pty takes them") << qint64(0) << qint64(4 << 20);
    QTest::newRow("at 38400 bit/s") << qint64(3840) << qint64(12 << 10);
}

void TestFlood::heldBytesStayBounded()
{
    QFETCH(qint64, rate);
    QFETCH(qint64, total);

    TestStore store;
    PocketSim sim;
    QVERIFY2(sim.start({}, floodArgs(rate, total)), qPrintable(sim.errorString()));
    store.mapPort(1, sim.linkPath());
    SerialPort comm;
    comm.open();

    QTRY_COMPARE_WITH_TIMEOUT(heldReceivedBytes(comm), SerialPort::kReadBound, kWaitMs);
    QVERIFY(comm.inBufferCount() >= SerialPort::kReadBound);

    // Full, the port neither reads on nor wakes anyone, however much is still coming.
    QSignalSpy activity(&comm, &SerialPort::activity);
    const auto cpuBefore = testdata::processCpu();
    QTest::qWait(1000);
    QCOMPARE(activity.count(), 0);
    QVERIFY2(testdata::processCpu() - cpuBefore < 300ms, "busy while a flood waits in the driver");
    QCOMPARE(heldReceivedBytes(comm), SerialPort::kReadBound);

    bool done = false;
    while (!done) {
        comm.setInBufferCount(0);
        done = sim.waitForOutput("flood done", 1ms);
        QVERIFY2(heldReceivedBytes(comm) <= SerialPort::kReadBound,
                 qPrintable(QString::number(heldReceivedBytes(comm))));
    }
    const auto summary = sim.stop();
    QVERIFY2(summary.has_value(), qPrintable(sim.errorString()));
    QCOMPARE(summary->flooded, total);
}

void TestFlood::countSaysSomethingArrivedUntilEmptied_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<bool>("exact");

    // Below the bound every byte is counted, ours or the driver's; above it the count only
    // needs to say that something came.
    QTest::newRow("one byte") << qint64(1) << true;
    QTest::newRow("under the bound") << qint64(3000) << true;
    QTest::newRow("bound and driver together") << qint64(6000) << true;
    QTest::newRow("far more than both hold") << qint64(300000) << false;
}

void TestFlood::countSaysSomethingArrivedUntilEmptied()
{
    QFETCH(qint64, total);
    QFETCH(bool, exact);

    TestStore store;
    PocketSim sim;
    QVERIFY2(sim.start({}, floodArgs(0, total)), qPrintable(sim.errorString()));
    store.mapPort(1, sim.linkPath());
    SerialPort comm;
    comm.open();

    QTRY_VERIFY_WITH_TIMEOUT(comm.inBufferCount() > 0, kWaitMs);
    if (exact) {
        QVERIFY(sim.waitForOutput("flood done", kWait));
        QTRY_COMPARE_WITH_TIMEOUT(qint64(comm.inBufferCount()), total, kWaitMs);
    } else {
        // The flood goes on while nobody empties: still counted after a while.
        QTest::qWait(300);
        QVERIFY(comm.inBufferCount() > 0);
        while (!sim.waitForOutput("flood done", 1ms)) {
            comm.setInBufferCount(0);
            QVERIFY(heldReceivedBytes(comm) <= SerialPort::kReadBound);
        }
    }
    QVERIFY(heldReceivedBytes(comm) <= SerialPort::kReadBound);

    // The flood has stopped: emptying leaves nothing, and nothing comes back.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            comm.setInBufferCount(0);
            QTest::qWait(100);
            return comm.inBufferCount() == 0;
        }(),
        kWaitMs);
    QCOMPARE(heldReceivedBytes(comm), qint64(0));
    QTest::qWait(200);
    QCOMPARE(comm.inBufferCount(), qint16(0));
}

void TestFlood::openFailureNamesDeviceAndReason_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("stored");

    // stored: the Ports value, with @link for the simulator's link, @pts for its device
    // and @dir for a directory of the test's own.
    const QString bare =
        QStringLiteral("kibro-no-such-") + QUuid::createUuid().toString(QUuid::Id128);
    QTest::newRow("bare name, missing") << "missing" << bare;
    QTest::newRow("full path, missing") << "missing"
                                        << "@dir/gone";
    QTest::newRow("held by another program") << "lock"
                                             << "@link";
    QTest::newRow("held under another name") << "exclusive"
                                             << "@link";
}

void TestFlood::openFailureNamesDeviceAndReason()
{
    QFETCH(QString, how);
    QFETCH(QString, stored);

    TestStore store;
    PocketSim sim;
    DeviceHolder holder;
    QString expectedDevice;
    QString expectedReason;
    if (how == u"missing") {
        stored.replace(QStringLiteral("@dir"), store.directory());
        expectedDevice = stored.startsWith(u'/') ? stored : QStringLiteral("/dev/") + stored;
        expectedReason = QStringLiteral("No such file or directory");
    } else {
        QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
        stored = sim.linkPath();
        expectedDevice = stored;
        // The holder's lock file names it, whether taken through the link or through the
        // device behind it.
        QVERIFY(holder.hold(how == u"lock" ? sim.linkPath() : sim.devicePath()));
        expectedReason =
            QStringLiteral("in use by process %1 (fault_holder)").arg(holder.processId());
    }
    store.mapPort(1, stored);

    SerialPort comm;
    QCOMPARE(comm.deviceName(), expectedDevice);
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
    int error = 0;
    try {
        comm.open();
    } catch (const KibroError& e) {
        error = e.code();
    }
    qInstallMessageHandler(previous);

    QVERIFY(error != 0);
    QVERIFY(!comm.isOpen());
    QCOMPARE(g_warnings,
             QStringList{
                 QStringLiteral("kibro: cannot open %1: %2").arg(expectedDevice, expectedReason)});
}

void TestFlood::lostWhileFullIsNoticed()
{
    TestStore store;
    PocketSim sim;
    QVERIFY2(sim.start({}, floodArgs(0, 0)), qPrintable(sim.errorString()));
    store.mapPort(1, sim.linkPath());
    SerialPort comm;
    QSignalSpy lost(&comm, &SerialPort::portLost);
    comm.open();
    QTRY_COMPARE_WITH_TIMEOUT(heldReceivedBytes(comm), SerialPort::kReadBound, kWaitMs);

    // The port has stopped reading, yet the line going away is still seen, untouched.
    QVERIFY(sim.stop().has_value());
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, kWaitMs);
    QVERIFY(!comm.isOpen());
}

QTEST_GUILESS_MAIN(TestFlood)
#include "tst_flood.moc"
