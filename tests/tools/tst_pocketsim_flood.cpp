// kibro-pocket --flood: a peer that sends without pause, every byte in order, as many as
// asked for and then no more.
#include "pocketsim.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Reads what arrives on the program's end of the line within the wait, up to want bytes.
QByteArray readLine(const QString& path, qsizetype want, std::chrono::milliseconds wait)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray got;
    const QDeadlineTimer deadline(wait);
    while (got.size() < want && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<qint64>(deadline.remainingTime(), 1))) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, n);
    }
    ::close(fd);
    return got;
}

QByteArray countingPattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i & 0xff);
    return bytes;
}

} // namespace

class TestPocketSimFlood : public QObject
{
    Q_OBJECT

private slots:
    void sendsCountedBytes_data();
    void sendsCountedBytes();
    void refusesBadOptions_data();
    void refusesBadOptions();
};

void TestPocketSimFlood::sendsCountedBytes_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("rate");

    QTest::newRow("one byte") << qint64(1) << qint64(0);
    QTest::newRow("past a byte value wrap") << qint64(1000) << qint64(0);
    // Far more than the pty holds: the flood waits for room and goes on.
    QTest::newRow("more than the pty holds") << qint64(200000) << qint64(0);
    QTest::newRow("at a rate") << qint64(600) << qint64(3840);
}

void TestPocketSimFlood::sendsCountedBytes()
{
    QFETCH(qint64, total);
    QFETCH(qint64, rate);

    PocketSim sim;
    QStringList args{QStringLiteral("--flood"), QStringLiteral("--flood-bytes"),
                     QString::number(total)};
    if (rate > 0)
        args << QStringLiteral("--flood-rate") << QString::number(rate);
    QVERIFY2(sim.start({}, args), qPrintable(sim.errorString()));

    // One byte past what was asked for: none may come.
    const QByteArray got = readLine(sim.linkPath(), total + 1, 3s);
    QCOMPARE(got.size(), total);
    QCOMPARE(got, countingPattern(total));
    QVERIFY(sim.waitForOutput("flood done " + QByteArray::number(total), 10s));

    const auto summary = sim.stop();
    QVERIFY2(summary.has_value(), qPrintable(sim.errorString()));
    QCOMPARE(summary->flooded, total);
    QCOMPARE(summary->bytes, qint64(0));
}

void TestPocketSimFlood::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("args");

    QTest::newRow("rate without flood") << QStringList{"--flood-rate", "100"};
    QTest::newRow("count without flood") << QStringList{"--flood-bytes", "100"};
    QTest::newRow("count of zero") << QStringList{"--flood", "--flood-bytes", "0"};
    QTest::newRow("negative rate") << QStringList{"--flood", "--flood-rate", "-5"};
    QTest::newRow("rate not a number") << QStringList{"--flood", "--flood-rate", "fast"};
}

void TestPocketSimFlood::refusesBadOptions()
{
    QFETCH(QStringList, args);

    QProcess pocket;
    pocket.setProcessChannelMode(QProcess::MergedChannels);
    pocket.start(QStringLiteral(KIBRO_POCKET_EXE), args);
    QVERIFY(pocket.waitForFinished(10000));
    QCOMPARE(pocket.exitStatus(), QProcess::NormalExit);
    QCOMPARE(pocket.exitCode(), 2);
    QVERIFY(!pocket.readAll().contains("ready"));
}

QTEST_GUILESS_MAIN(TestPocketSimFlood)
#include "tst_pocketsim_flood.moc"
