#include "pocketsim.h"
#include "testdata.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 10s;

// The program's end of the line, opened through the link the way the program opens it.
class Slave
{
public:
    explicit Slave(const QString& path, bool makeRaw = true)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        termios tio{};
        if (makeRaw && m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Slave() { close(); }
    Slave(const Slave&) = delete;
    Slave& operator=(const Slave&) = delete;

    [[nodiscard]] int fd() const { return m_fd; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    [[nodiscard]] bool write(const QByteArray& data)
    {
        for (qsizetype done = 0; done < data.size();) {
            const ssize_t n = ::write(m_fd, data.constData() + done, size_t(data.size() - done));
            if (n < 0 && errno != EINTR)
                return false;
            done += std::max<ssize_t>(n, 0);
        }
        return true;
    }

    // Whatever arrives within the wait, up to want bytes.
    [[nodiscard]] QByteArray read(qsizetype want, std::chrono::milliseconds wait)
    {
        QByteArray got;
        const QDeadlineTimer deadline(wait);
        while (got.size() < want && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(std::max<qint64>(deadline.remainingTime(), 1))) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(m_fd, buf, size_t(std::min<qsizetype>(sizeof buf, want)));
            if (n <= 0)
                break;
            got.append(buf, n);
        }
        return got;
    }

private:
    int m_fd = -1;
};

using testdata::allByteValues;
using testdata::randomBytes;

} // namespace

class TestPocketSim : public QObject
{
    Q_OBJECT

private slots:
    void transfersUnchanged_data();
    void transfersUnchanged();
    void slaveIsRawWithoutFlowControl();
    void link_data();
    void link();
    void answerAfter_data();
    void answerAfter();
    void endsAfter_data();
    void endsAfter();
    void rateHoldsWriterBack_data();
    void rateHoldsWriterBack();
    void reopeningDoesNotDisturb();
    void sigtermDrainsPending();
    void timesStampEachByte();
};

void TestPocketSim::transfersUnchanged_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("writerMakesRaw");
    QTest::newRow("all byte values") << allByteValues() << true;
    // The writer keeps the tool's termios: any cooked flag left there alters the bytes.
    QTest::newRow("all byte values, tool's termios") << allByteValues() << false;
    QTest::newRow("beyond the pty buffer") << randomBytes(100'000) << true;
}

void TestPocketSim::transfersUnchanged()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, writerMakesRaw);
    QCOMPARE(sha256Hex(allByteValues()),
             QByteArray("40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880"));

    PocketSim sim;
    QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
    Slave slave(sim.linkPath(), writerMakesRaw);
    QVERIFY(slave.fd() >= 0);
    QVERIFY(slave.write(data));
    QVERIFY(sim.waitForCount(data.size(), kWait));
    QCOMPARE(sim.received(), data);

    const auto summary = sim.stop();
    QVERIFY2(summary, qPrintable(sim.errorString()));
    QCOMPARE(summary->bytes, data.size());
    QCOMPARE(summary->sha256Hex, sha256Hex(data));
    const QList<qint64> times = sim.timesMicros();
    QCOMPARE(times.size(), data.size());
    QCOMPARE(times.first(), 0);
    QVERIFY(std::is_sorted(times.begin(), times.end()));
}

void TestPocketSim::slaveIsRawWithoutFlowControl()
{
    PocketSim sim;
    QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
    Slave slave(sim.linkPath(), false);
    termios tio{};
    QCOMPARE(::tcgetattr(slave.fd(), &tio), 0);
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CRTSCTS | CLOCAL | CREAD),
             tcflag_t(CS8 | CLOCAL | CREAD));
}

void TestPocketSim::link_data()
{
    QTest::addColumn<QString>("existing");
    QTest::newRow("nothing there") << QString();
    QTest::newRow("regular file") << QStringLiteral("file");
    QTest::newRow("stale symlink") << QStringLiteral("symlink");
}

void TestPocketSim::link()
{
    QFETCH(QString, existing);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("COM1"));
    if (existing == QStringLiteral("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (existing == QStringLiteral("symlink")) {
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), path));
    }

    PocketSim sim;
    QVERIFY2(sim.start(path), qPrintable(sim.errorString()));
    QVERIFY(sim.devicePath().startsWith(QStringLiteral("/dev/pts/")));
    QVERIFY(QFileInfo(path).isSymLink());
    QCOMPARE(QFileInfo(path).symLinkTarget(), sim.devicePath());
    // The temporary link used for the atomic replacement must not be left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("COM1")});

    QVERIFY(sim.stop());
    QVERIFY(!QFileInfo(path).isSymLink());
    QVERIFY(!QFileInfo::exists(path));
}

void TestPocketSim::answerAfter_data()
{
    QTest::addColumn<int>("after");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("delayMs");
    QTest::newRow("after one byte") << 1 << QStringLiteral("41") << QByteArray("A") << 0;
    QTest::newRow("CR LF after five") << 5 << QStringLiteral("0d0a") << QByteArray("\r\n") << 0;
    QTest::newRow("at once") << 0 << QStringLiteral("00ff") << QByteArray("\x00\xff", 2) << 0;
    QTest::newRow("after five, late") << 5 << QStringLiteral("0d0a") << QByteArray("\r\n") << 200;
}

void TestPocketSim::answerAfter()
{
    QFETCH(int, after);
    QFETCH(QString, hex);
    QFETCH(QByteArray, answer);
    QFETCH(int, delayMs);

    PocketSim sim;
    QVERIFY2(sim.start({}, {QStringLiteral("--answer-after"), QString::number(after),
                            QStringLiteral("--answer"), hex, QStringLiteral("--answer-delay"),
                            QString::number(delayMs)}),
             qPrintable(sim.errorString()));
    Slave slave(sim.linkPath());
    QElapsedTimer due;
    if (after > 0) {
        QVERIFY(slave.write(QByteArray(after - 1, 'x')));
        QVERIFY(sim.waitForCount(after - 1, kWait));
        QCOMPARE(slave.read(1, 300ms), QByteArray());
        due.start();
        QVERIFY(slave.write("y"));
    }
    QCOMPARE(slave.read(answer.size(), kWait), answer);
    // Only a lower bound: a busy machine makes the answer later, never earlier.
    if (due.isValid())
        QVERIFY2(due.elapsed() >= delayMs, qPrintable(QString::number(due.elapsed())));

    // Only once.
    QVERIFY(slave.write(QByteArray(after + 2, 'z')));
    QVERIFY(sim.waitForCount(2 * after + 2, kWait));
    QCOMPARE(slave.read(1, 300ms), QByteArray());
}

void TestPocketSim::endsAfter_data()
{
    QTest::addColumn<QString>("option");
    QTest::newRow("close-after") << QStringLiteral("--close-after");
    QTest::newRow("exit-after") << QStringLiteral("--exit-after");
}

void TestPocketSim::endsAfter()
{
    QFETCH(QString, option);
    const QByteArray data = randomBytes(25);

    PocketSim sim;
    QVERIFY2(sim.start({}, {option, QStringLiteral("10")}), qPrintable(sim.errorString()));
    Slave slave(sim.linkPath());
    QVERIFY(slave.write(data));

    const auto summary = sim.waitForExit(kWait);
    QVERIFY2(summary, qPrintable(sim.errorString()));
    QCOMPARE(summary->bytes, 10);
    QCOMPARE(summary->sha256Hex, sha256Hex(data.left(10)));
    QCOMPARE(sim.received(), data.left(10));
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());

    errno = 0;
    QCOMPARE(::write(slave.fd(), "x", 1), ssize_t(-1));
    QCOMPARE(errno, EIO);
}

void TestPocketSim::rateHoldsWriterBack_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("size");
    QTest::newRow("2000 B/s") << 2000 << 600;
    QTest::newRow("120 B/s") << 120 << 60;
    // Three times what this kernel's pty holds, so the writer itself has to wait.
    QTest::newRow("50000 B/s, writer blocks") << 50'000 << int(3 * testdata::ptyCapacity());
}

void TestPocketSim::rateHoldsWriterBack()
{
    QFETCH(int, rate);
    QFETCH(int, size);
    const QByteArray data = randomBytes(size);
    const qint64 ptyBufferBound = testdata::ptyCapacity();
    const qint64 burst = std::max(1, rate / 100);

    PocketSim sim;
    QVERIFY2(sim.start({}, {QStringLiteral("--rate"), QString::number(rate)}),
             qPrintable(sim.errorString()));
    const auto cpuBefore = sim.cpuTime();
    QVERIFY(cpuBefore);
    Slave slave(sim.linkPath());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(slave.write(data));
    const double writerSeconds = timer.nsecsElapsed() / 1e9;
    QVERIFY(sim.waitForCount(size, kWait));
    const double wallSeconds = timer.nsecsElapsed() / 1e9;
    const auto cpuAfter = sim.cpuTime();
    QVERIFY(cpuAfter);

    const auto summary = sim.stop();
    QVERIFY2(summary, qPrintable(sim.errorString()));
    QCOMPARE(summary->sha256Hex, sha256Hex(data));
    QVERIFY2(summary->seconds >= 0.9 * (size - 1) / rate,
             qPrintable(QString::number(summary->seconds)));
    QVERIFY(writerSeconds >= 0.9 * double(size - ptyBufferBound) / rate);
    // Evenly paced, not merely slow on average.
    const QList<qint64> times = sim.timesMicros();
    QCOMPARE(times.size(), size);
    for (qsizetype i = 0; i < times.size(); ++i)
        QVERIFY2(times[i] >= 0.9e6 * double(i + 1 - burst) / rate, qPrintable(QString::number(i)));
    // Waiting for tokens must sleep, not spin.
    const double cpuSeconds = std::chrono::duration<double>(*cpuAfter - *cpuBefore).count();
    QVERIFY2(cpuSeconds < 0.25 * wallSeconds, qPrintable(QString::number(cpuSeconds)));
}

void TestPocketSim::reopeningDoesNotDisturb()
{
    PocketSim sim;
    QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
    {
        Slave first(sim.linkPath());
        QVERIFY(first.write("first "));
    }
    QVERIFY(sim.waitForCount(6, kWait));
    // With every program fd closed, a master without its own slave fd would see a hang-up
    // on each poll and spin.
    const auto cpuBefore = sim.cpuTime();
    QTest::qWait(500);
    const auto cpuAfter = sim.cpuTime();
    QVERIFY(cpuBefore && cpuAfter);
    QVERIFY(*cpuAfter - *cpuBefore < 100ms);
    QVERIFY(sim.isRunning());

    Slave second(sim.linkPath());
    QVERIFY(second.write("second"));
    QVERIFY(sim.waitForCount(12, kWait));
    const auto summary = sim.stop();
    QVERIFY2(summary, qPrintable(sim.errorString()));
    QCOMPARE(summary->bytes, 12);
    QCOMPARE(sim.received(), QByteArray("first second"));
}

void TestPocketSim::sigtermDrainsPending()
{
    const QByteArray data = randomBytes(300);
    PocketSim sim;
    QVERIFY2(sim.start({}, {QStringLiteral("--rate"), QStringLiteral("100")}),
             qPrintable(sim.errorString()));
    Slave slave(sim.linkPath());
    QVERIFY(slave.write(data));
    QVERIFY(sim.waitForCount(1, kWait));

    const auto summary = sim.stop();
    QVERIFY2(summary, qPrintable(sim.errorString()));
    QCOMPARE(summary->bytes, data.size());
    QCOMPARE(summary->sha256Hex, sha256Hex(data));
    QCOMPARE(sim.received(), data);
    QCOMPARE(sim.timesMicros().size(), data.size());
}

void TestPocketSim::timesStampEachByte()
{
    PocketSim sim;
    QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
    Slave slave(sim.linkPath());
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            QTest::qSleep(100);
        QVERIFY(slave.write(QByteArray(1, char('a' + i))));
    }
    QVERIFY(sim.waitForCount(4, kWait));
    const QList<qint64> times = sim.timesMicros();
    QCOMPARE(times.size(), 4);
    for (qsizetype i = 1; i < times.size(); ++i)
        QVERIFY2(times[i] - times[i - 1] >= 50'000, qPrintable(QString::number(times[i])));
    const auto summary = sim.stop();
    QVERIFY(summary);
    QCOMPARE(summary->seconds, double(times.last()) / 1e6);
}

QTEST_GUILESS_MAIN(TestPocketSim)
#include "tst_pocketsim.moc"
