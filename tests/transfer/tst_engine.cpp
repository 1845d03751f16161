// The engine's wait for the line, against a driver whose queue count is scripted on a clock the
// test moves: no pseudo-terminal, no real time, the same answers every run.
#include "drivermodel.h"
#include "errors.h"
#include "linepacer.h"
#include "peek.h"
#include "transferengine.h"
#include "transferline.h"
#include "waketimer.h"

#include <QtTest>

#include <chrono>
#include <functional>
#include <memory>

using namespace std::chrono_literals;
using kibro::LinePacer;
using kibro::TransferEngine;
using Clock = kibro::WakeTimer::Clock;

namespace {

// A clock that moves only when a wake fires, and records every wake armed.
class FakeWake final : public kibro::WakeTimer
{
public:
    struct Armed
    {
        Clock::time_point at;
        Clock::time_point deadline;
    };

    [[nodiscard]] Clock::time_point now() const override { return m_now; }
    void startAt(Clock::time_point deadline) override
    {
        m_armed.append({m_now, deadline});
        m_deadline = deadline;
        m_active = true;
    }
    void stop() override { m_active = false; }
    [[nodiscard]] bool isActive() const override { return m_active; }

    void fire()
    {
        const bool straggles = ++m_fired % 8 == 0;
        m_now = std::max(m_now, m_deadline + m_late + (straggles ? m_straggler : 0ns));
        m_active = false;
        emit timeout();
    }
    void advance(std::chrono::nanoseconds by) { m_now += by; }
    // Every wake comes this long after its deadline, every eighth straggler more.
    void setLate(std::chrono::nanoseconds late, std::chrono::nanoseconds straggler = {})
    {
        m_late = late;
        m_straggler = straggler;
    }
    [[nodiscard]] const QList<Armed>& armed() const { return m_armed; }

private:
    Clock::time_point m_now{1s};
    Clock::time_point m_deadline{};
    std::chrono::nanoseconds m_late{};
    std::chrono::nanoseconds m_straggler{};
    int m_fired = 0;
    QList<Armed> m_armed;
    bool m_active = false;
};

// Records each question and answers the transmit count from a script.
class FakeLine final : public kibro::TransferLine
{
public:
    using Script = std::function<int(const FakeLine&)>;

    FakeLine(FakeWake& clock, std::chrono::nanoseconds byteTime, Script transmit)
        : m_clock(clock), m_byteTime(byteTime), m_transmit(std::move(transmit))
    {
    }

    qint16 receivedCount() override
    {
        m_log += u'R';
        return m_received;
    }
    TransmitQueue transmitQueue() override
    {
        const int count = m_transmit(*this);
        m_log += count == 0 ? u'T' : u't';
        ++m_transmitQuestions;
        return {static_cast<qint16>(count), m_held};
    }
    void writeByte(char byte) override
    {
        if (m_failWrites)
            throw kibro::KibroError(kibro::ErrorNumber::WriteFailed, QStringLiteral("gone"));
        m_log += u'W';
        m_written.append(byte);
        m_writtenAt = m_clock.now();
        m_writeTimes.append(m_writtenAt);
        ++m_writesSinceLook;
    }
    void clear() override { m_log += u'C'; }
    [[nodiscard]] std::chrono::nanoseconds byteTime() const override { return m_byteTime; }

    [[nodiscard]] Clock::time_point writtenAt() const { return m_writtenAt; }
    // The earliest a line at its rate can have sent all that was written up to at.
    [[nodiscard]] Clock::time_point lineFreeAt(Clock::time_point at) const
    {
        Clock::time_point free{};
        for (const auto written : m_writeTimes)
            if (written <= at)
                free = std::max(free, written) + m_byteTime;
        return free;
    }
    [[nodiscard]] Clock::time_point now() const { return m_clock.now(); }
    [[nodiscard]] int questions() const { return m_transmitQuestions; }
    [[nodiscard]] const QString& log() const { return m_log; }
    [[nodiscard]] const QByteArray& written() const { return m_written; }
    void setReceived(qint16 count) { m_received = count; }
    void setHeld(qint64 held) { m_held = held; }
    void failWrites() { m_failWrites = true; }
    void reportActivity() { emit activity(); }

private:
    FakeWake& m_clock;
    std::chrono::nanoseconds m_byteTime;
    Script m_transmit;
    Clock::time_point m_writtenAt{};
    QList<Clock::time_point> m_writeTimes;
    QString m_log;
    QByteArray m_written;
    qint16 m_received = 0;
    qint64 m_held = 0;
    int m_transmitQuestions = 0;
    int m_writesSinceLook = 0;
    bool m_failWrites = false;
};

namespace model = kibro::drivermodel;

// A driver model behind the line: the count and the wire are those of a 16550 or a USB adapter.
class ModelLine final : public kibro::TransferLine
{
public:
    ModelLine(FakeWake& clock, std::unique_ptr<model::DriverModel> driver, int baud)
        : m_clock(clock), m_driver(std::move(driver))
    {
        m_driver->setFrame(at(), baud, 10);
    }

    qint16 receivedCount() override { return 0; }
    TransmitQueue transmitQueue() override
    {
        ++m_looks;
        return {static_cast<qint16>(m_driver->outQueue(at())), 0};
    }
    void writeByte(char) override
    {
        ++m_writes;
        if (m_writes % 8 == 0)
            m_clock.advance(m_slowWrite);
        if (m_driver->write(at(), 1) != 1)
            throw kibro::KibroError(kibro::ErrorNumber::WriteFailed, QStringLiteral("full"));
        if (m_writes % 50 == 0)
            m_clock.advance(m_preempted);
    }
    // Every fiftieth write, the program loses the processor this long right after it.
    void setPreempted(std::chrono::nanoseconds preempted) { m_preempted = preempted; }
    // Every eighth write, this long inside the write before the driver has the byte.
    void setSlowWrite(std::chrono::nanoseconds slow) { m_slowWrite = slow; }
    void clear() override {}
    [[nodiscard]] std::chrono::nanoseconds byteTime() const override
    {
        return m_driver->byteTime();
    }

    [[nodiscard]] int looks() const { return m_looks; }
    [[nodiscard]] model::DriverModel& driver() { return *m_driver; }

private:
    [[nodiscard]] model::Time at() const { return m_clock.now().time_since_epoch(); }

    FakeWake& m_clock;
    std::unique_ptr<model::DriverModel> m_driver;
    std::chrono::nanoseconds m_preempted{};
    std::chrono::nanoseconds m_slowWrite{};
    int m_looks = 0;
    int m_writes = 0;
};

// What the window hears of the engine.
struct Heard
{
    explicit Heard(TransferEngine& engine)
    {
        QObject::connect(&engine, &TransferEngine::byteWritten,
                         [this](qint64 sent) { value = sent; });
        QObject::connect(&engine, &TransferEngine::finished,
                         [this](TransferEngine::Outcome outcome) { outcomes.append(outcome); });
    }
    [[nodiscard]] bool ended() const { return !outcomes.isEmpty(); }

    qint64 value = 0;
    QList<TransferEngine::Outcome> outcomes;
};

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 37 + 11) & 0xff);
    return bytes;
}

// The engine on a fake line; turns the event loop and fires each wake at its moment.
struct Bench
{
    Bench(std::chrono::nanoseconds byteTime, FakeLine::Script script)
        : line(wake, byteTime, std::move(script))
    {
    }

    bool runToEnd(int maxTurns = 200000)
    {
        for (int turn = 0; turn < maxTurns && !heard.ended(); ++turn) {
            QCoreApplication::processEvents();
            if (wake.isActive())
                wake.fire();
        }
        return heard.ended();
    }

    // Starts a slow transfer and leaves it waiting on the line after five bytes.
    void startAndWaitAfterFive()
    {
        engine.start(pattern(100));
        runUntilWritten(5);
    }

    // Turns the loop, firing each wake, until count bytes are out or the turns run out.
    void runUntilWritten(qsizetype count, int maxTurns = 100)
    {
        for (int turn = 0; turn < maxTurns && line.written().size() < count; ++turn) {
            QCoreApplication::processEvents();
            if (wake.isActive())
                wake.fire();
        }
    }

    FakeWake wake;
    FakeLine line;
    TransferEngine engine{line, wake};
    Heard heard{engine};
};

// A driver whose count holds the last byte written for a while, then reads 0.
FakeLine::Script clearsAfter(std::chrono::nanoseconds delay)
{
    return [delay](const FakeLine& line) {
        return line.written().isEmpty() || line.now() >= line.writtenAt() + delay ? 0 : 1;
    };
}

} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

private slots:
    void waitsStayShortWhileBytesAreReported_data();
    void waitsStayShortWhileBytesAreReported();
    void checksInOrderOneQuestionALook();
    void aimFollowsTheDriver_data();
    void aimFollowsTheDriver();
    void modelledLineStaysBusy_data();
    void modelledLineStaysBusy();
    void bytesHeldInOurBufferWaitForThePort();
    void cancelEndsAWaitAtOnce();
    void receivedByteDuringAWaitStartsAPause();
    void failedWriteIsAFailure();
    void pacerNeverWaitsPastTheLongestWait_data();
    void pacerNeverWaitsPastTheLongestWait();
    void preciseWakeFiresOnceForTheLastDeadline_data();
    void preciseWakeFiresOnceForTheLastDeadline();
};

void EngineTest::waitsStayShortWhileBytesAreReported_data()
{
    QTest::addColumn<qint64>("byteTimeNs");
    QTest::addColumn<FakeLine::Script>("script");

    // The count seen by one question is gone by the next: what used to plan 100 ms.
    const auto flicker = [question = std::make_shared<int>(0)](const FakeLine&) {
        return ++*question % 2;
    };
    QTest::newRow("count gone by the next question, 38400")
        << qint64(260'000) << FakeLine::Script(flicker);
    QTest::newRow("count gone by the next question, 1200")
        << qint64(8'333'000) << FakeLine::Script(flicker);
    QTest::newRow("16550 at 38400") << qint64(260'000) << clearsAfter(230us);
    QTest::newRow("USB 0.5 ms at 38400") << qint64(260'000) << clearsAfter(500us);
    QTest::newRow("USB 0.5 ms at 9600") << qint64(1'041'000) << clearsAfter(500us);
    QTest::newRow("16550 at 1200") << qint64(8'333'000) << clearsAfter(8ms);
    QTest::newRow("two bytes held, 19200") << qint64(520'000) << FakeLine::Script([](auto& line) {
        return line.now() >= line.writtenAt() + 1ms ? 0 : 2;
    });
}

void EngineTest::waitsStayShortWhileBytesAreReported()
{
    QFETCH(qint64, byteTimeNs);
    QFETCH(FakeLine::Script, script);
    const std::chrono::nanoseconds byteTime(byteTimeNs);
    Bench bench(byteTime, script);
    const QByteArray bytes = pattern(300);
    bench.engine.start(bytes);
    QVERIFY(bench.runToEnd());

    QCOMPARE(bench.engine.outcome(), TransferEngine::Outcome::Completed);
    QCOMPARE(bench.line.written(), bytes);
    QCOMPARE(bench.heard.value, bytes.size());
    QVERIFY(!bench.wake.armed().isEmpty());
    // Every wait planned while bytes were reported ends within a few byte times of the look,
    // or of the moment the line can have sent what was written, when that is later.
    for (const auto& armed : bench.wake.armed()) {
        const auto wait = armed.deadline - std::max(armed.at, bench.line.lineFreeAt(armed.at));
        // Three byte times, or an adapter's round trip of up to 2 ms, against the 100 ms of old.
        QVERIFY2(armed.deadline >= armed.at &&
                     wait <= std::max<std::chrono::nanoseconds>(3 * byteTime, 2ms),
                 qPrintable(QStringLiteral("waited %1 us, byte time %2 us")
                                .arg(wait.count() / 1000)
                                .arg(byteTime.count() / 1000)));
    }
}

void EngineTest::checksInOrderOneQuestionALook()
{
    Bench bench(260us, clearsAfter(500us));
    bench.engine.start(pattern(50));
    QVERIFY(bench.runToEnd());
    const QString log = bench.line.log();
    // Empty the buffers, then for each byte: looks (received, then transmit) until the
    // transmit count is 0, then the byte. Never two transmit questions in one look, never a
    // byte after a look that saw bytes queued.
    static const QRegularExpression perByte(QStringLiteral("^C(?:(?:Rt)*RTW){50}$"));
    QVERIFY2(perByte.match(log).hasMatch(), qPrintable(log));
}

void EngineTest::aimFollowsTheDriver_data()
{
    QTest::addColumn<qint64>("byteTimeNs");
    QTest::addColumn<qint64>("clearNs");

    QTest::newRow("16550-like, 38400") << qint64(260'000) << qint64(240'000);
    QTest::newRow("USB 0.5 ms, 38400") << qint64(260'000) << qint64(500'000);
    QTest::newRow("USB 1 ms, 19200") << qint64(520'000) << qint64(1'000'000);
    QTest::newRow("USB 0.125 ms, 9600") << qint64(1'041'000) << qint64(125'000);
    QTest::newRow("1200") << qint64(8'333'000) << qint64(8'000'000);
}

// Once learnt, the look after a write lands just after the count empties: seldom early,
// never long after, and never ahead of what the line can take.
void EngineTest::aimFollowsTheDriver()
{
    QFETCH(qint64, byteTimeNs);
    QFETCH(qint64, clearNs);
    const std::chrono::nanoseconds byteTime(byteTimeNs);
    const std::chrono::nanoseconds clear(clearNs);
    constexpr int kBytes = 400;
    constexpr int kLearning = 100;

    QList<Clock::time_point> writes;
    Bench bench(byteTime, clearsAfter(clear));
    QObject::connect(&bench.engine, &TransferEngine::byteWritten,
                     [&] { writes.append(bench.wake.now()); });
    int questionsAtLearnt = 0;
    QObject::connect(&bench.engine, &TransferEngine::byteWritten, [&](qint64 sent) {
        if (sent == kLearning)
            questionsAtLearnt = bench.line.questions();
    });
    bench.engine.start(pattern(kBytes));
    QVERIFY(bench.runToEnd());

    const LinePacer pacer(byteTime);
    std::chrono::nanoseconds worstLate{};
    // Where the count empties faster than the line can send, the line's rate sets the pace.
    const auto due = std::max(clear, byteTime);
    for (int i = kLearning; i < kBytes; ++i)
        worstLate = std::max(worstLate, writes[i] - (writes[i - 1] + due));
    QVERIFY2(worstLate <= 2 * pacer.retryStep(),
             qPrintable(QStringLiteral("a byte went %1 us after the count emptied")
                            .arg(worstLate.count() / 1000)));
    // One look right after the write, one aimed; an early aim costs a few more, seldom.
    const double looksPerByte =
        double(bench.line.questions() - questionsAtLearnt) / double(kBytes - kLearning);
    QVERIFY2(looksPerByte <= 2.6, qPrintable(QString::number(looksPerByte)));
}

namespace {

enum class Driver { Uart16550, Usb };

std::unique_ptr<model::DriverModel> makeDriver(Driver driver)
{
    if (driver == Driver::Uart16550)
        return std::make_unique<model::Uart16550Model>();
    return std::make_unique<model::UsbSerialModel>(model::UsbOptions{500us, 256});
}

// Bytes x byte time over the span from the first byte's start to the last one's end.
double wireShare(const std::vector<model::Time>& starts, std::chrono::nanoseconds byteTime)
{
    if (starts.empty())
        return 0;
    const auto span = starts.back() - starts.front() + byteTime;
    return double(byteTime.count()) * double(starts.size()) / double(span.count());
}

// The classic sender on the same model: write, then ask every microsecond until the count is 0.
double busyLoopShare(Driver driver, int baud, int bytes)
{
    auto line = makeDriver(driver);
    model::Time now = 1s;
    line->setFrame(now, baud, 10);
    for (int i = 0; i < bytes; ++i) {
        if (line->write(now, 1) != 1)
            return 0;
        while (line->outQueue(now) != 0)
            now += 1us;
    }
    (void)line->drain();
    return wireShare(line->wireStarts(), line->byteTime());
}

} // namespace

void EngineTest::modelledLineStaysBusy_data()
{
    QTest::addColumn<Driver>("driver");
    QTest::addColumn<int>("baud");
    QTest::addColumn<qint64>("lateNs");
    // Every eighth wake comes this much later again.
    QTest::addColumn<qint64>("stragglerNs");
    QTest::addColumn<qint64>("preemptedNs");
    QTest::addColumn<qint64>("slowWriteNs");
    QTest::addColumn<double>("leastShareOfBusyLoop");
    QTest::addColumn<double>("mostWakesPerByte");

    const auto row = [](const char* name, Driver driver, int baud, qint64 lateNs,
                        qint64 stragglerNs, double share, double wakes, qint64 preemptedNs = 0,
                        qint64 slowWriteNs = 0) {
        QTest::newRow(name) << driver << baud << lateNs << stragglerNs << preemptedNs << slowWriteNs
                            << share << wakes;
    };
    // Two bytes a wake where the UART keeps two; one where the adapter takes one a round trip.
    row("16550 1200", Driver::Uart16550, 1200, 0, 0, 0.999, 0.55);
    row("16550 9600", Driver::Uart16550, 9600, 0, 0, 0.999, 0.55);
    row("16550 38400", Driver::Uart16550, 38400, 0, 0, 0.999, 0.55);
    row("16550 38400, wakes 100 us late", Driver::Uart16550, 38400, 100'000, 0, 0.999, 0.55);
    row("16550 38400, one wake in 8 150 us later", Driver::Uart16550, 38400, 50'000, 150'000, 0.999,
        0.6);
    // Later than the UART can cover: what those wakes lose, and no more.
    row("16550 38400, one wake in 8 400 us later", Driver::Uart16550, 38400, 50'000, 400'000, 0.95,
        0.6);
    row("USB 2400", Driver::Usb, 2400, 0, 0, 0.999, 1.1);
    row("USB 9600", Driver::Usb, 9600, 0, 0, 0.999, 1.1);
    row("USB 9600, wakes 100 us late", Driver::Usb, 9600, 100'000, 0, 0.999, 1.1);
    // Late to the look after a write is not a driver that takes bytes at once.
    row("USB 9600, preempted 1 ms after a write now and then", Driver::Usb, 9600, 0, 0, 0.999, 1.1,
        1'000'000);
    row("16550 38400, preempted 1 ms after a write now and then", Driver::Uart16550, 38400, 0, 0,
        0.94, 0.6, 1'000'000);
    // A write the program is held up in does not make the adapter's round trip look longer:
    // its cushion, drained by the slow writes, comes back.
    row("USB 9600, one write in 8 held 2.5 ms before the driver has the byte", Driver::Usb, 9600, 0,
        0, 0.995, 1.3, 0, 2'500'000);
    row("USB 19200", Driver::Usb, 19200, 0, 0, 0.97, 1.3);
    row("USB 19200, wakes 50 us late", Driver::Usb, 19200, 50'000, 0, 0.95, 1.3);
    row("USB 38400", Driver::Usb, 38400, 0, 0, 0.97, 1.6);
    row("USB 38400, wakes 50 us late", Driver::Usb, 38400, 50'000, 0, 0.92, 1.6);
}

// The engine against the drivers' own timelines: the wire stays as busy as the busy loop
// keeps it, at a fraction of the wakes.
void EngineTest::modelledLineStaysBusy()
{
    QFETCH(Driver, driver);
    QFETCH(int, baud);
    QFETCH(qint64, lateNs);
    QFETCH(qint64, stragglerNs);
    QFETCH(qint64, preemptedNs);
    QFETCH(qint64, slowWriteNs);
    QFETCH(double, leastShareOfBusyLoop);
    QFETCH(double, mostWakesPerByte);
    constexpr int kBytes = 600;
    constexpr int kSettled = 100;

    FakeWake wake;
    wake.setLate(std::chrono::nanoseconds(lateNs), std::chrono::nanoseconds(stragglerNs));
    ModelLine line(wake, makeDriver(driver), baud);
    line.setPreempted(std::chrono::nanoseconds(preemptedNs));
    line.setSlowWrite(std::chrono::nanoseconds(slowWriteNs));
    TransferEngine engine(line, wake);
    Heard heard(engine);
    engine.start(pattern(kBytes));
    for (int turn = 0; turn < 100 * kBytes && !heard.ended(); ++turn) {
        QCoreApplication::processEvents();
        if (wake.isActive())
            wake.fire();
    }
    QVERIFY(heard.ended());
    QCOMPARE(engine.outcome(), TransferEngine::Outcome::Completed);

    (void)line.driver().drain();
    const std::vector<model::Time>& starts = line.driver().wireStarts();
    QCOMPARE(qsizetype(starts.size()), qsizetype(kBytes));
    // Once the pacer has learnt the line.
    const std::vector<model::Time> settled(starts.begin() + kSettled, starts.end());
    const double share = wireShare(settled, line.byteTime());
    const double ceiling = busyLoopShare(driver, baud, kBytes);
    QVERIFY2(share >= leastShareOfBusyLoop * ceiling,
             qPrintable(QStringLiteral("wire share %1, busy loop %2").arg(share).arg(ceiling)));
    const double wakesPerByte = double(wake.armed().size()) / kBytes;

    QVERIFY2(wakesPerByte <= mostWakesPerByte, qPrintable(QString::number(wakesPerByte)));
    // Looks without a wait before them: right after a write, only where they can find room
    // (the 16550's first byte of a wake), not after every byte.
    const double looksAtOnce = double(line.looks() - wake.armed().size()) / kBytes;
    QVERIFY2(looksAtOnce <= 0.6, qPrintable(QString::number(looksAtOnce)));
}

// A full driver left bytes in our buffer (a pseudo-terminal does): the port says when they
// move, so the engine waits for that, not for byte times it would only poll through.
void EngineTest::bytesHeldInOurBufferWaitForThePort()
{
    bool full = true;
    Bench bench(260us, [&full](const FakeLine&) { return full ? 1 : 0; });
    bench.line.setHeld(1);
    bench.engine.start(pattern(3));
    QCoreApplication::processEvents();
    QCOMPARE(bench.wake.armed().size(), 1);
    const auto armed = bench.wake.armed().first();
    QCOMPARE(armed.deadline - armed.at, LinePacer::kLongestWait);
    QVERIFY(bench.line.written().isEmpty());

    full = false;
    bench.line.setHeld(0);
    bench.line.reportActivity();
    QVERIFY(bench.runToEnd());
    QCOMPARE(bench.wake.armed().size(), 1);
    QCOMPARE(bench.line.written(), pattern(3));
}

void EngineTest::cancelEndsAWaitAtOnce()
{
    Bench bench(8333us, clearsAfter(8ms));
    bench.startAndWaitAfterFive();
    QVERIFY(bench.wake.isActive());
    const qsizetype sent = bench.line.written().size();
    bench.engine.requestCancel();
    QVERIFY(!bench.wake.isActive());
    QTRY_VERIFY(bench.heard.ended());
    QCOMPARE(bench.heard.outcomes, QList{TransferEngine::Outcome::Cancelled});
    QCOMPARE(bench.line.written().size(), sent);
    QCOMPARE(bench.engine.outcome(), TransferEngine::Outcome::Cancelled);
}

void EngineTest::receivedByteDuringAWaitStartsAPause()
{
    Bench bench(8333us, clearsAfter(8ms));
    bench.startAndWaitAfterFive();
    QVERIFY(bench.wake.isActive());
    const qsizetype sent = bench.line.written().size();
    int ticksBeforeTheByte = 0;
    QObject::connect(&tickTimer(bench.engine), &QTimer::timeout, [&] {
        if (bench.line.written().size() == sent)
            ++ticksBeforeTheByte;
    });
    bench.line.setReceived(1);
    bench.line.reportActivity();
    QCoreApplication::processEvents();
    // The wait gave way to the pause at once; no byte until its ten ticks are over.
    QVERIFY(!bench.wake.isActive());
    QVERIFY(tickTimer(bench.engine).isActive());
    QCOMPARE(bench.line.written().size(), sent);
    QDeadlineTimer deadline(10s);
    while (bench.line.written().size() == sent && !deadline.hasExpired()) {
        QTest::qWait(1);
        if (bench.wake.isActive())
            bench.wake.fire();
    }
    QCOMPARE(bench.line.written().size(), sent + 1);
    // The tick that ends a pause writes the byte before this count sees it.
    QVERIFY2(ticksBeforeTheByte >= TransferEngine::kPauseTicks - 1,
             qPrintable(QString::number(ticksBeforeTheByte)));
    bench.engine.abandon();
}

void EngineTest::failedWriteIsAFailure()
{
    Bench bench(260us, clearsAfter(200us));
    bench.line.failWrites();
    bench.engine.start(pattern(10));
    QVERIFY(bench.runToEnd(1000));
    QCOMPARE(bench.engine.outcome(), TransferEngine::Outcome::Failed);
    QCOMPARE(bench.heard.outcomes, QList{TransferEngine::Outcome::Failed});
    QVERIFY(!bench.wake.isActive());
}

void EngineTest::pacerNeverWaitsPastTheLongestWait_data()
{
    QTest::addColumn<qint64>("byteTimeNs");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("afterWrite");

    QTest::newRow("a full queue at 1200") << qint64(8'333'000) << 4096 << false;
    QTest::newRow("a full queue at 1200, after a write") << qint64(8'333'000) << 4096 << true;
    QTest::newRow("the largest count at 38400") << qint64(260'000) << 32767 << true;
    QTest::newRow("one byte at 1200") << qint64(8'333'000) << 1 << false;
}

// Cancel and a received byte are answered at once anyway; a look at least this often keeps a
// count that lies from holding the transfer long.
void EngineTest::pacerNeverWaitsPastTheLongestWait()
{
    QFETCH(qint64, byteTimeNs);
    QFETCH(int, count);
    QFETCH(bool, afterWrite);
    LinePacer pacer{std::chrono::nanoseconds(byteTimeNs)};
    const Clock::time_point now{5s};
    if (afterWrite)
        pacer.wrote(now - 1us, now - 1us);
    for (int look = 0; look < 3; ++look) {
        const auto next = pacer.nextLook(now, count);
        QVERIFY(next >= now);
        QVERIFY(next - now <= LinePacer::kLongestWait);
        QVERIFY(next - now <= std::max(LinePacer::Duration(byteTimeNs) * count, pacer.retryStep()));
    }
}

enum class WakeStep { ArmPast, ArmSoon, ArmLater, Stop };

void EngineTest::preciseWakeFiresOnceForTheLastDeadline_data()
{
    QTest::addColumn<QList<WakeStep>>("steps");
    QTest::addColumn<int>("fires");

    using S = WakeStep;
    QTest::newRow("a moment already past") << QList<S>{S::ArmPast} << 1;
    QTest::newRow("a moment soon") << QList<S>{S::ArmSoon} << 1;
    QTest::newRow("stopped before its moment") << QList<S>{S::ArmSoon, S::Stop} << 0;
    QTest::newRow("stopped after its moment, not yet delivered")
        << QList<S>{S::ArmPast, S::Stop} << 0;
    QTest::newRow("re-armed earlier") << QList<S>{S::ArmLater, S::ArmPast} << 1;
    QTest::newRow("re-armed later, then stopped")
        << QList<S>{S::ArmPast, S::ArmLater, S::Stop} << 0;
}

// The wake the engine runs on: the last deadline set counts, once; a stop holds even when
// the moment had passed.
void EngineTest::preciseWakeFiresOnceForTheLastDeadline()
{
    QFETCH(QList<WakeStep>, steps);
    QFETCH(int, fires);
    kibro::PreciseWakeTimer wake;
    int fired = 0;
    QObject::connect(&wake, &kibro::WakeTimer::timeout, [&] { ++fired; });
    for (const WakeStep step : steps) {
        switch (step) {
        case WakeStep::ArmPast:
            wake.startAt(wake.now() - 1ms);
            QThread::msleep(2); // expired in the kernel, not yet seen by the event loop
            break;
        case WakeStep::ArmSoon:
            wake.startAt(wake.now() + 2ms);
            break;
        case WakeStep::ArmLater:
            wake.startAt(wake.now() + 1h);
            break;
        case WakeStep::Stop:
            wake.stop();
            break;
        }
    }
    QCOMPARE(wake.isActive(), fires > 0);
    if (fires > 0)
        QTRY_COMPARE(fired, fires);
    QTest::qWait(50);
    QCOMPARE(fired, fires);
    QVERIFY(!wake.isActive());
}

QTEST_MAIN(EngineTest)
#include "tst_engine.moc"
