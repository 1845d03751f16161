// The pacer on its own, asked as the engine asks it, against a model of a driver's transmit
// queue on a clock the test moves: what it takes the driver for, and how well that feeds it.
#include "drivermodel.h"
#include "linepacer.h"

#include <QtTest>

#include <memory>
#include <utility>

using namespace std::chrono_literals;
using kibro::LinePacer;
using Kind = LinePacer::DriverKind;
namespace model = kibro::drivermodel;

enum class Driver { Uart16550, Usb, Acm };

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Driver)

namespace {

using Clock = LinePacer::Clock;

struct Run
{
    Kind kind = Kind::Unknown;
    double wakesPerByte = 0;
    // Of the second half of the bytes: how much of their time the wire was busy.
    double lineShare = 0;
    // The line's work left when the last byte was written.
    std::chrono::nanoseconds backlog{};
    bool looksInTime = true;
};

// The engine's loop: a look right after each write while the pacer finds it worth it, else
// a wait for the look it plans. Every wake comes 50 us late, every eighth one later still; after
// every eighth write the program comes back to look comeBack later still.
Run drive(Driver driver, int baud, std::chrono::nanoseconds straggler,
          std::chrono::nanoseconds comeBack, int bytes)
{
    std::unique_ptr<model::DriverModel> line;
    if (driver == Driver::Uart16550)
        line = std::make_unique<model::Uart16550Model>();
    else if (driver == Driver::Usb)
        line = std::make_unique<model::UsbSerialModel>();
    else
        line = std::make_unique<model::CdcAcmModel>();
    Clock::time_point now{1s};
    line->setFrame(now.time_since_epoch(), baud, 10);
    LinePacer pacer(line->byteTime());
    Run run;
    int written = 0;
    int wakes = 0;
    int inPass = 0;
    bool justWrote = false;
    const auto waitFor = [&](Clock::time_point look) {
        run.looksInTime = run.looksInTime && look >= now && look - now <= LinePacer::kLongestWait;
        const auto woke = std::max(now, look) + 50us + (++wakes % 8 == 0 ? straggler : 0ns);
        pacer.woke(look, woke);
        now = woke;
        inPass = 0;
    };
    while (written < bytes) {
        if (justWrote && !pacer.worthLookingAtOnce(inPass)) {
            justWrote = false;
            waitFor(pacer.nextLook(now, 1));
            continue;
        }
        const int count = line->outQueue(now.time_since_epoch());
        if (std::exchange(justWrote, false))
            pacer.lookedAtOnce(inPass, count == 0);
        if (count > 0) {
            waitFor(pacer.nextLook(now, count));
            continue;
        }
        pacer.cleared(now);
        const auto foundEmpty = now;
        now += 5us;
        // The driver keeps a page: room for every byte these lines are ahead by.
        (void)line->write(now.time_since_epoch(), 1);
        pacer.wrote(foundEmpty, now);
        now += 5us + (++written % 8 == 0 ? comeBack : 0ns);
        ++inPass;
        justWrote = true;
    }
    const auto& starts = line->wireStarts();
    const auto half = starts.size() / 2;
    run.lineShare = double((starts.size() - half) * line->byteTime().count()) /
                    double((starts.back() + line->byteTime() - starts[half]).count());
    run.backlog = line->drain() - now.time_since_epoch();
    run.kind = pacer.driverKind();
    run.wakesPerByte = double(wakes) / bytes;
    return run;
}

} // namespace

class LinePacerTest : public QObject
{
    Q_OBJECT

private slots:
    void feedsTheLineItBelievesIn_data();
    void feedsTheLineItBelievesIn();
};

void LinePacerTest::feedsTheLineItBelievesIn_data()
{
    QTest::addColumn<Driver>("driver");
    QTest::addColumn<int>("baud");
    QTest::addColumn<std::chrono::nanoseconds>("straggler");
    QTest::addColumn<std::chrono::nanoseconds>("comeBack");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<double>("leastShare");
    QTest::addColumn<double>("mostWakesPerByte");
    // The work the line has left once the pacer has learnt it: at least, at most.
    QTest::addColumn<std::chrono::nanoseconds>("leastBacklog");
    QTest::addColumn<std::chrono::nanoseconds>("mostBacklog");

    using ns = std::chrono::nanoseconds;
    const auto row = [](const char* name, Driver driver, int baud, ns straggler,
                        ns comeBack) -> QTestData& {
        return QTest::newRow(name) << driver << baud << straggler << comeBack;
    };
    // A FIFO empties its count within the write: looked at a lead before the line is free,
    // when the FIFO has room again, one wake sends two bytes.
    row("16550 at 38400", Driver::Uart16550, 38400, 0ns, 0ns)
        << Kind::TakesAtOnce << 0.99 << 0.55 << ns(260us) << ns(780us);
    row("16550 at 38400, a wake in eight 400 us late", Driver::Uart16550, 38400, 400us, 0ns)
        << Kind::TakesAtOnce << 0.95 << 0.55 << ns(260us) << ns(780us);
    // A byte outlasts the longest wait: two wakes for most.
    row("16550 at 300", Driver::Uart16550, 300, 0ns, 0ns)
        << Kind::TakesAtOnce << 0.99 << 1.7 << ns(33ms) << ns(100ms);
    // An adapter empties its count a round trip after each write: it is fed at the line's rate
    // and keeps its cushion.
    row("USB at 9600", Driver::Usb, 9600, 400us, 0ns)
        << Kind::RoundTrip << 0.99 << 1.05 << ns(49ms) << ns(52ms);
    row("USB at 1200", Driver::Usb, 1200, 0ns, 0ns)
        << Kind::RoundTrip << 0.99 << 1.05 << ns(49ms) << ns(59ms);
    // The program now and then comes to look after the round trip is over: no evidence of a
    // FIFO, and the cushion stays.
    row("USB at 9600, looked at late", Driver::Usb, 9600, 0ns, 600us)
        << Kind::Unknown << 0.99 << 1.05 << ns(49ms) << ns(52ms);
    // A modem-class adapter counts 1280 for one byte until its URB is done: waits follow the
    // round trip, never the count as bytes. At 38400 the 500 us round trip outlasts a byte: the
    // busy loop's share, 0.51, is the ceiling, and the line's work left is the last round trip.
    row("ACM at 38400", Driver::Acm, 38400, 0ns, 0ns)
        << Kind::CountsBuffers << 0.49 << 1.15 << ns(500us) << ns(780us);
    row("ACM at 38400, a wake in eight 400 us late", Driver::Acm, 38400, 400us, 0ns)
        << Kind::CountsBuffers << 0.4 << 1.15 << ns(500us) << ns(780us);
    row("ACM at 9600", Driver::Acm, 9600, 400us, 0ns)
        << Kind::CountsBuffers << 0.99 << 1.05 << ns(49ms) << ns(52ms);
    row("ACM at 1200", Driver::Acm, 1200, 0ns, 0ns)
        << Kind::CountsBuffers << 0.99 << 1.05 << ns(49ms) << ns(59ms);
    row("ACM at 9600, looked at late", Driver::Acm, 9600, 0ns, 600us)
        << Kind::CountsBuffers << 0.99 << 1.05 << ns(49ms) << ns(52ms);
}

void LinePacerTest::feedsTheLineItBelievesIn()
{
    QFETCH(Driver, driver);
    QFETCH(int, baud);
    QFETCH(std::chrono::nanoseconds, straggler);
    QFETCH(std::chrono::nanoseconds, comeBack);
    QFETCH(Kind, kind);
    QFETCH(double, leastShare);
    QFETCH(double, mostWakesPerByte);
    QFETCH(std::chrono::nanoseconds, leastBacklog);
    QFETCH(std::chrono::nanoseconds, mostBacklog);

    const Run run = drive(driver, baud, straggler, comeBack, 2000);
    QCOMPARE(run.kind, kind);
    QVERIFY(run.looksInTime);
    QVERIFY2(run.lineShare >= leastShare, qPrintable(QString::number(run.lineShare)));
    QVERIFY2(run.wakesPerByte <= mostWakesPerByte, qPrintable(QString::number(run.wakesPerByte)));
    QVERIFY2(run.backlog >= leastBacklog && run.backlog <= mostBacklog,
             qPrintable(QString::number(run.backlog.count() / 1000)));
}

QTEST_MAIN(LinePacerTest)
#include "tst_linepacer.moc"
