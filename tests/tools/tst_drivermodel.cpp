#include "drivermodel.h"
#include "lineframe.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace kibro::drivermodel;
using namespace std::chrono;

namespace {

// One moment of a hand-worked timeline. w: write value bytes, of which accepted (or all) are
// taken; q: TIOCOUTQ answers value; f: TCOFLUSH; s: the rate becomes value baud, 8N1;
// d: everything out, the line idle at value.
struct Step
{
    qint64 atUs = 0;
    char op = 'q';
    int value = 0;
    int accepted = -1;
};
using Steps = QList<Step>;

QList<qint64> evenly(qint64 firstUs, int count, qint64 stepUs)
{
    QList<qint64> times;
    for (int i = 0; i < count; ++i)
        times.append(firstUs + i * stepUs);
    return times;
}

void play(DriverModel& model, int baud, const Steps& steps, const QList<qint64>& startsUs)
{
    const auto at = [](qint64 us) { return Time(microseconds(us)); };
    model.setFrame(at(0), baud, 10);
    for (const Step& step : steps) {
        const QByteArray where = QByteArray::number(step.atUs) + " us, " + step.op;
        switch (step.op) {
        case 'w':
            QVERIFY2(model.write(at(step.atUs), step.value) ==
                         (step.accepted < 0 ? step.value : step.accepted),
                     where.constData());
            break;
        case 'q':
            QVERIFY2(model.outQueue(at(step.atUs)) == step.value, where.constData());
            break;
        case 'f':
            model.flush(at(step.atUs));
            break;
        case 's':
            model.setFrame(at(step.atUs), step.value, 10);
            break;
        case 'd':
            QVERIFY2(model.drain() == at(step.value), where.constData());
            break;
        default:
            QFAIL(where.constData());
        }
    }
    (void)model.drain();
    QList<qint64> starts;
    for (const Time start : model.wireStarts())
        starts.append(duration_cast<microseconds>(start).count());
    QCOMPARE(starts, startsUs);
}

class PseudoTerminal
{
public:
    PseudoTerminal() : m_master(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_slavePath = QByteArray(::ptsname(m_master));
        // Held so that the probe's close never hangs the line up under the unread bytes.
        m_slave = ::open(m_slavePath.constData(), O_RDWR | O_NOCTTY);
    }
    ~PseudoTerminal()
    {
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    [[nodiscard]] bool isValid() const { return m_slave >= 0; }
    [[nodiscard]] const QByteArray& slavePath() const { return m_slavePath; }

    [[nodiscard]] QByteArray readAll()
    {
        QByteArray got;
        char buf[512];
        for (pollfd p{m_master, POLLIN, 0}; ::poll(&p, 1, 200) > 0;) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, n);
        }
        return got;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QByteArray m_slavePath;
};

QMap<QByteArray, qint64> parseReport(const QByteArray& out)
{
    QMap<QByteArray, qint64> report;
    for (const QByteArray& line : out.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2)
            report.insert(fields[0], fields[1].toLongLong());
    }
    return report;
}

} // namespace

enum class Usb { Serial, Acm };

Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(Usb)

class TestDriverModel : public QObject
{
    Q_OBJECT

private slots:
    void frameOfCflag_data();
    void frameOfCflag();
    void uart16550_data();
    void uart16550();
    void usb_data();
    void usb();
    void preloaded_data();
    void preloaded();
};

void TestDriverModel::frameOfCflag_data()
{
    QTest::addColumn<uint>("cflag");
    QTest::addColumn<int>("ospeed");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("baud");

    constexpr uint bother = 0010000;
    QTest::newRow("9600 8N1") << uint(B9600 | CS8 | CREAD) << -1 << 10 << 9600;
    QTest::newRow("9600 7E2") << uint(B9600 | CS7 | PARENB | CSTOPB) << -1 << 11 << 9600;
    QTest::newRow("4800 5N1") << uint(B4800 | CS5) << -1 << 7 << 4800;
    QTest::newRow("115200 8O1") << uint(B115200 | CS8 | PARENB | PARODD) << -1 << 11 << 115200;
    QTest::newRow("B0 hangs up, no rate") << uint(B0 | CS8) << -1 << 10 << -1;
    QTest::newRow("termios2 custom rate") << (bother | CS8) << 31250 << 10 << 31250;
    QTest::newRow("custom code, old termios") << (bother | CS6) << -1 << 8 << -1;
}

void TestDriverModel::frameOfCflag()
{
    QFETCH(uint, cflag);
    QFETCH(int, ospeed);
    QFETCH(int, bits);
    QFETCH(int, baud);

    QCOMPARE(bitsPerByteOf(cflag), bits);
    const std::optional<int> got =
        baudOf(cflag, ospeed < 0 ? std::nullopt : std::optional<unsigned>(ospeed));
    QCOMPARE(got.value_or(-1), baud);
}

// At 10000 baud 8N1 a byte takes 1000 us, so the timelines read in whole byte times.
void TestDriverModel::uart16550_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QList<qint64>>("starts");

    QTest::newRow("the idle uart takes two bytes before it counts")
        << 10000 << Steps{{0, 'w', 1}, {0, 'q', 0}, {0, 'w', 1},   {0, 'q', 0},
                          {0, 'w', 1}, {0, 'q', 1}, {999, 'q', 1}, {1000, 'q', 0}}
        << QList<qint64>{0, 1000, 2000};
    QTest::newRow("paced by the count, the line never idles")
        << 10000
        << Steps{{0, 'w', 1},    {0, 'w', 1},    {0, 'w', 1},    {1000, 'q', 0}, {1000, 'w', 1},
                 {1000, 'q', 1}, {2000, 'q', 0}, {2000, 'w', 1}, {2000, 'q', 1}, {0, 'd', 5000}}
        << QList<qint64>{0, 1000, 2000, 3000, 4000};
    QTest::newRow("a burst of 20 fills the fifo and counts 4")
        << 10000
        << Steps{{0, 'w', 20}, {0, 'q', 4}, {14999, 'q', 4}, {15000, 'q', 0}, {0, 'd', 20000}}
        << evenly(0, 20, 1000);
    QTest::newRow("after an idle gap a byte starts as written")
        << 10000
        << Steps{{0, 'w', 1}, {5000, 'w', 1}, {5000, 'q', 0}, {5000, 'w', 1}, {5000, 'q', 0}}
        << QList<qint64>{0, 5000, 6000};
    QTest::newRow("a byte written as the last one ends starts then")
        << 10000 << Steps{{0, 'w', 1}, {1000, 'w', 1}, {1000, 'q', 0}} << QList<qint64>{0, 1000};
    QTest::newRow("a flush drops the queue, not the fifo")
        << 10000 << Steps{{0, 'w', 20}, {100, 'f', 0}, {100, 'q', 0}, {0, 'd', 16000}}
        << evenly(0, 16, 1000);
    QTest::newRow("the driver takes one page") << 10000
                                               << Steps{{0, 'w', 5000, 4096},
                                                        {0, 'q', 4080},
                                                        {0, 'w', 100, 16},
                                                        {0, 'q', 4096},
                                                        {0, 'd', 4112000}}
                                               << evenly(0, 4112, 1000);
    QTest::newRow("a new rate holds for the bytes not yet started")
        << 10000 << Steps{{0, 'w', 2}, {500, 's', 5000}, {500, 'w', 1}, {0, 'd', 5000}}
        << QList<qint64>{0, 1000, 3000};
}

void TestDriverModel::uart16550()
{
    QFETCH(int, baud);
    QFETCH(Steps, steps);
    QFETCH(QList<qint64>, starts);

    Uart16550Model model;
    play(model, baud, steps, starts);
}

// The URB latency is the default 500 us.
void TestDriverModel::usb_data()
{
    QTest::addColumn<Usb>("usb");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("chipBuffer");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QList<qint64>>("starts");

    QTest::newRow("one byte waits out the latency")
        << Usb::Serial << 10000 << 256
        << Steps{{0, 'w', 1}, {0, 'q', 1}, {499, 'q', 1}, {500, 'q', 0}} << QList<qint64>{500};
    QTest::newRow("paced by the count, the line keeps up")
        << Usb::Serial << 10000 << 256
        << Steps{{0, 'w', 1},    {500, 'q', 0},  {500, 'w', 1}, {500, 'q', 1},
                 {1000, 'q', 0}, {1000, 'w', 1}, {1500, 'q', 0}}
        << QList<qint64>{500, 1500, 2500};
    QTest::newRow("paced by the count, the latency sets the rate")
        << Usb::Serial << 100000 << 256
        << Steps{{0, 'w', 1},    {500, 'q', 0},  {500, 'w', 1}, {1000, 'q', 0},
                 {1000, 'w', 1}, {1500, 'q', 0}, {0, 'd', 1600}}
        << QList<qint64>{500, 1000, 1500};
    QTest::newRow("bytes written during a URB wait for the next one")
        << Usb::Serial << 10000 << 256 << Steps{{0, 'w', 1},   {100, 'w', 3}, {100, 'q', 4},
                                                {500, 'q', 3}, {999, 'q', 3}, {1000, 'q', 0}}
        << QList<qint64>{500, 1500, 2500, 3500};
    QTest::newRow("a burst goes in URBs of 64")
        << Usb::Serial << 10000 << 256
        << Steps{{0, 'w', 100}, {499, 'q', 100}, {500, 'q', 36}, {1000, 'q', 0}, {0, 'd', 100500}}
        << evenly(500, 100, 1000);
    QTest::newRow("a full chip holds the URB until the line makes room")
        << Usb::Serial << 10000 << 100
        << Steps{{0, 'w', 128}, {500, 'q', 64}, {27499, 'q', 64}, {27500, 'q', 0}, {0, 'd', 128500}}
        << evenly(500, 128, 1000);
    QTest::newRow("a flush drops the kfifo, not the URB")
        << Usb::Serial << 10000 << 256 << Steps{{0, 'w', 1},   {100, 'w', 10}, {100, 'f', 0},
                                                {100, 'q', 1}, {500, 'q', 0},  {0, 'd', 1500}}
        << QList<qint64>{500};
    QTest::newRow("the URB's bytes leave room in the kfifo")
        << Usb::Serial << 10000 << 256
        << Steps{{0, 'w', 5000, 4096}, {0, 'q', 4096}, {0, 'w', 100, 64}, {0, 'q', 4160}}
        << evenly(500, 4160, 1000);
    // cdc-acm: a URB a write, each counted as a whole write buffer (1280) until it is done.
    QTest::newRow("acm: one byte counts a write buffer until its URB is done")
        << Usb::Acm << 10000 << 256
        << Steps{{0, 'w', 1}, {0, 'q', 1280}, {499, 'q', 1280}, {500, 'q', 0}}
        << QList<qint64>{500};
    QTest::newRow("acm: each write is a URB of its own, done in order")
        << Usb::Acm << 10000 << 256
        << Steps{{0, 'w', 1},      {100, 'w', 1},    {200, 'w', 1},    {200, 'q', 3840},
                 {500, 'q', 2560}, {599, 'q', 2560}, {600, 'q', 1280}, {700, 'q', 0}}
        << QList<qint64>{500, 1500, 2500};
    QTest::newRow("acm: paced by the count, the latency sets the rate")
        << Usb::Acm << 100000 << 256
        << Steps{{0, 'w', 1},    {500, 'q', 0},  {500, 'w', 1}, {1000, 'q', 0},
                 {1000, 'w', 1}, {1500, 'q', 0}, {0, 'd', 1600}}
        << QList<qint64>{500, 1000, 1500};
    QTest::newRow("acm: a burst is one URB, done when the device took its last packet")
        << Usb::Acm << 10000 << 256
        << Steps{{0, 'w', 1000}, {743499, 'q', 1280}, {743500, 'q', 0}, {0, 'd', 1000500}}
        << evenly(500, 1000, 1000);
    QTest::newRow("acm: sixteen URBs and the writer waits")
        << Usb::Acm << 10000 << 256
        << Steps{{0, 'w', 30000, 20480}, {0, 'q', 20480}, {0, 'w', 1, 0}}
        << evenly(500, 20480, 1000);
    QTest::newRow("acm: a flush takes back no URB")
        << Usb::Acm << 10000 << 256 << Steps{{0, 'w', 1}, {100, 'f', 0}, {100, 'q', 1280}}
        << QList<qint64>{500};
}

void TestDriverModel::usb()
{
    QFETCH(Usb, usb);
    QFETCH(int, baud);
    QFETCH(int, chipBuffer);
    QFETCH(Steps, steps);
    QFETCH(QList<qint64>, starts);

    if (usb == Usb::Serial) {
        UsbSerialModel model(UsbOptions{500us, chipBuffer});
        play(model, baud, steps, starts);
    } else {
        CdcAcmModel model(AcmOptions{500us, chipBuffer});
        play(model, baud, steps, starts);
    }
}

void TestDriverModel::preloaded_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("closePort");
    QTest::addColumn<bool>("modelled");
    QTest::addColumn<int>("largestBurstQueue");

    // Long enough that the count is still up when the probe asks, however slow the machine.
    constexpr int burst = 1000;
    QTest::newRow("16550, the port closed") << "16550" << true << true << burst - 16;
    QTest::newRow("16550, exit with the port open") << "16550" << false << true << burst - 16;
    QTest::newRow("usb, the port closed") << "usb" << true << true << burst;
    QTest::newRow("usb, exit with the port open") << "usb" << false << true << burst;
    // One write, one URB: counted as a whole write buffer.
    QTest::newRow("acm, the port closed") << "acm" << true << true << 1280;
    QTest::newRow("another device is left alone") << "16550" << true << false << 0;
}

// The probe sets 9600 7E2 the way QSerialPort does, writes a burst of 1000 bytes, then 20
// bytes one at a time, each after TIOCOUTQ fell to 0.
void TestDriverModel::preloaded()
{
    QFETCH(QString, kind);
    QFETCH(bool, closePort);
    QFETCH(bool, modelled);
    QFETCH(int, largestBurstQueue);
    constexpr int burst = 1000;
    constexpr int paced = 20;

    PseudoTerminal line;
    PseudoTerminal elsewhere;
    QVERIFY(line.isValid() && elsewhere.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("ttyPocket"));
    const QString log = dir.filePath(QStringLiteral("starts.txt"));
    QVERIFY(QFile::link(QString::fromLocal8Bit(line.slavePath()), link));
    const QString device = modelled ? link : QString::fromLocal8Bit(elsewhere.slavePath());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KIBRO_DRIVERMODEL_LIBRARY));
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL_DEVICE"), device);
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL"), kind);
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL_LOG"), log);
    // Under the sanitizers the preloaded library comes before their runtime, on purpose.
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    QProcess probe;
    probe.setProcessEnvironment(env);
    // A bare pty refuses parity, so the device left alone gets 8N1.
    probe.start(QStringLiteral(KIBRO_DRIVERMODEL_PROBE),
                {link, modelled ? QStringLiteral("7e2") : QStringLiteral("8n1"),
                 QString::number(burst), QString::number(paced),
                 closePort ? QStringLiteral("close") : QStringLiteral("exit")});
    QVERIFY(probe.waitForFinished(60000));
    QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0,
             probe.readAllStandardError().constData());
    const QMap<QByteArray, qint64> report = parseReport(probe.readAllStandardOutput());

    QCOMPARE(line.readAll(), QByteArray(burst, 'B') + QByteArray("abcdefghijklmnopqrst"));
    QCOMPARE(report.value("burst-drained"), 1);
    QCOMPARE(report.value("frame-kept"), 1);
    if (!modelled) {
        QCOMPARE(report.value("queue-after-burst"), 0);
        QVERIFY(!QFile::exists(log));
        return;
    }
    QVERIFY(report.value("queue-after-burst") > 0);
    QVERIFY(report.value("queue-after-burst") <= largestBurstQueue);
    if (closePort)
        QCOMPARE(report.value("lines-after-close"), burst + paced);

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), burst + paced);
    const qint64 byteTime = byteTimeOf(9600, 11).count();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qint64 gap = lines[i].toLongLong() - lines[i - 1].toLongLong();
        // A burst leaves no gaps; a byte written after the count fell to 0 cannot start
        // before the one ahead of it has ended.
        if (i < burst)
            QCOMPARE(gap, byteTime);
        else
            QVERIFY2(gap >= byteTime, QByteArray::number(i).constData());
    }
}

QTEST_GUILESS_MAIN(TestDriverModel)
#include "tst_drivermodel.moc"
