// kibro-send as a terminal user runs it: no display, the window's store, and the simulated
// pocket computer on COM1. Exit statuses and messages in one table; then the line's own pace
// (behind the driver model, so nothing races the pseudo-terminal) for signals and pauses.
#include "programprocess.h"
#include "progressline.h"
#include "testdata.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 60000;

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class KibroSendTest : public QObject
{
    Q_OBJECT

private slots:
    void statusAndMessage_data();
    void statusAndMessage();
    void signalStopsBeforeTheNextByte_data();
    void signalStopsBeforeTheNextByte();
    void pausesOnceTheCalculatorAnswers_data();
    void pausesOnceTheCalculatorAnswers();
    void progressLine_data();
    void progressLine();

private:
    // Starts kibro-send in the program's work folder, behind the driver model when one is named
    // (16550 or usb). "<&-" among the arguments starts it with standard input closed.
    static void start(ProgramProcess& program, QStringList args, const QByteArray& driver);
    static Run finish(ProgramProcess& program);
};

void KibroSendTest::start(ProgramProcess& program, QStringList args, const QByteArray& driver)
{
    program.process().setProcessChannelMode(QProcess::SeparateChannels);
    if (args.removeAll(QStringLiteral("<&-")) > 0)
        program.process().setChildProcessModifier([] { ::close(STDIN_FILENO); });
    // The model stands behind kibro-send only: the simulator is already running.
    const QByteArray asanOptions = qgetenv("ASAN_OPTIONS");
    if (!driver.isEmpty()) {
        qputenv("LD_PRELOAD", KIBRO_DRIVERMODEL_LIBRARY);
        qputenv("KIBRO_DRIVER_MODEL", driver);
        // Under the sanitizers the preloaded model comes before their runtime, on purpose.
        qputenv("ASAN_OPTIONS",
                asanOptions + (asanOptions.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
        qputenv("KIBRO_DRIVER_MODEL_DEVICE", program.sim().linkPath().toLocal8Bit());
        qputenv("KIBRO_DRIVER_MODEL_LOG",
                QDir(program.configDir()).filePath(QStringLiteral("wire.txt")).toLocal8Bit());
    }
    const QString error =
        program.start(QStringLiteral(KIBRO_SEND_EXE), args, program.samplesDir(), {});
    for (const char* name : {"LD_PRELOAD", "KIBRO_DRIVER_MODEL", "KIBRO_DRIVER_MODEL_DEVICE",
                             "KIBRO_DRIVER_MODEL_LOG"})
        qunsetenv(name);
    if (asanOptions.isEmpty())
        qunsetenv("ASAN_OPTIONS");
    else
        qputenv("ASAN_OPTIONS", asanOptions);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

Run KibroSendTest::finish(ProgramProcess& program)
{
    QProcess& process = program.process();
    Run run;
    if (!process.waitForFinished(kWaitMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

void KibroSendTest::statusAndMessage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QByteArray>("driver");
    const QStringList none;
    // Unpaced, on the bare pseudo-terminal.
    const QByteArray pty;
    const QStringList lineGoes{QStringLiteral("--rate"), QStringLiteral("2000"),
                               QStringLiteral("--close-after"), QStringLiteral("100")};
    QTest::newRow("no FILE") << none << none << 1 << "no FILE" << pty;
    QTest::newRow("two FILEs") << QStringList{"A.BIN", "B.BIN"} << none << 1 << "one FILE at most"
                               << pty;
    QTest::newRow("unknown option") << QStringList{"--fast", "A.BIN"} << none << 1
                                    << "kibro-send: unknown option 'fast'; see kibro-send --help\n"
                                    << pty;
    QTest::newRow("rate not offered")
        << QStringList{"--baud", "300", "A.BIN"} << none << 1 << "not '300'" << pty;
    // Refused as an argument, before any port is touched.
    QTest::newRow("port neither COM nor device")
        << QStringList{"--port", "ttyS0", "A.BIN"} << none << 1 << "not 'ttyS0'" << pty;
    QTest::newRow("help, no display")
        << QStringList{"--help"} << none << 0 << "Usage: kibro-send" << pty;
    QTest::newRow("version") << QStringList{"-v"} << none << 0 << "kibro-send " KIBRO_VERSION "\n"
                             << pty;
    // Each failure says what failed: the file, the port or the line.
    QTest::newRow("file missing") << QStringList{"MISSING.BIN"} << none << 2
                                  << "the file MISSING.BIN: No such file or directory" << pty;
    QTest::newRow("a folder") << QStringList{"."} << none << 2 << "the file .: is a folder" << pty;
    QTest::newRow("COM2 leads nowhere")
        << QStringList{"--port", "COM2", "SMALL.BIN"} << none << 3
        << "kibro-send: cannot open |kibro-send: cannot use the port: " << pty;
    QTest::newRow("line lost") << QStringList{"LARGE.BIN"} << lineGoes << 4
                               << "was lost after |bytes: " << pty;
    QTest::newRow("sent, stored port")
        << QStringList{"SMALL.BIN"} << none << 0 << "sent 300 bytes of SMALL.BIN to " << pty;
    QTest::newRow("sent, standard input") << QStringList{"--quiet", "-"} << none << 0
                                          << "sent 300 bytes of standard input to " << pty;
    QTest::newRow("standard input closed")
        << QStringList{"-", "<&-"} << none << 2 << "kibro-send: standard input is closed\n"
        << pty;
    // The last byte is out before the port's old rate comes back.
    for (const char* driver : {"16550", "usb"})
        QTest::addRow("sent at 19200 behind %s: the last byte whole", driver)
            << QStringList{"--baud", "19200", "SMALL.BIN"} << none << 0
            << "sent 300 bytes of SMALL.BIN to " << QByteArray(driver);
}

void KibroSendTest::statusAndMessage()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, simArgs);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(QByteArray, driver);
    ProgramProcess program;
    RIG_OK(program.prepare(true, simArgs));
    const QByteArray small = testdata::randomBytes(300);
    RIG_OK(program.writeSample(QStringLiteral("SMALL.BIN"), small));
    // Far more than a pseudo-terminal holds, so the line is still busy when it goes.
    RIG_OK(program.writeSample(QStringLiteral("LARGE.BIN"), testdata::randomBytes(256 * 1024)));
    start(program, args, driver);
    if (args.contains(QStringLiteral("-")) && !args.contains(QStringLiteral("<&-"))) {
        program.process().write(small);
        program.process().closeWriteChannel();
    }
    const Run run = finish(program);
    QCOMPARE(run.status, status);
    // The model says so when the old rate came back with bytes still on the way.
    QVERIFY2(!run.err.contains("kibro-drivermodel:"), run.err.constData());
    const QByteArray said = status == 0 && run.err.isEmpty() ? run.out : run.err;
    for (const QString& part : says.split(u'|'))
        QVERIFY2(said.contains(part.toUtf8()), said.constData());
    if (says.startsWith(QStringLiteral("sent"))) {
        const auto received = program.sim().drain();
        QVERIFY(received);
        QCOMPARE(*received, small);
    }
}

void KibroSendTest::signalStopsBeforeTheNextByte_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("status");
    // The pocket computer takes nothing: the pty fills and the next byte waits in our buffer.
    QTest::addColumn<bool>("ptyFull");
    QTest::newRow("Ctrl-C") << int(SIGINT) << 130 << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143 << false;
    QTest::newRow("SIGTERM, a byte in our buffer") << int(SIGTERM) << 143 << true;
}

void KibroSendTest::signalStopsBeforeTheNextByte()
{
    QFETCH(int, signalNumber);
    QFETCH(int, status);
    QFETCH(bool, ptyFull);
    ProgramProcess program;
    RIG_OK(program.prepare());
    const qsizetype size = ptyFull ? 2 * testdata::ptyCapacity() : 3000;
    const QByteArray bytes = testdata::randomBytes(size);
    RIG_OK(program.writeSample(QStringLiteral("F.BIN"), bytes));
    // Opened before kibro-send takes the device: it says when the pty has no room left.
    const int slave = ptyFull ? ::open(QFile::encodeName(program.sim().devicePath()).constData(),
                                       O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)
                              : -1;
    const auto simPid = static_cast<pid_t>(program.sim().processId());
    const auto resume = qScopeGuard([&] {
        if (slave >= 0) {
            ::kill(simPid, SIGCONT);
            ::close(slave);
        }
    });
    if (ptyFull) {
        QVERIFY(slave >= 0);
        QCOMPARE(::kill(simPid, SIGSTOP), 0);
    }
    // 1200 bit/s behind the model: 120 bytes a second, so it is mid-file when the signal comes.
    // On the full pty, 38400: the next byte is tried a byte time (260 us) after the last fit.
    start(program,
          {QStringLiteral("--baud"), QString::fromLatin1(ptyFull ? "38400" : "1200"),
           QStringLiteral("F.BIN")},
          ptyFull ? QByteArray() : QByteArray("16550"));
    if (ptyFull) {
        // Full when it stays so from one look to the next: the kernel frees room on its own
        // for a moment after each write.
        pollfd room{slave, POLLOUT, 0};
        bool wasFull = false;
        QVERIFY(QTest::qWaitFor(
            [&] { return std::exchange(wasFull, ::poll(&room, 1, 0) == 0) && wasFull; }, kWaitMs));
    } else {
        QVERIFY(program.sim().waitForCount(20, std::chrono::milliseconds(kWaitMs)));
    }
    QCOMPARE(::kill(static_cast<pid_t>(program.process().processId()), signalNumber), 0);
    const Run run = finish(program);
    if (ptyFull)
        QCOMPARE(::kill(simPid, SIGCONT), 0);
    QCOMPARE(run.status, status);
    QVERIFY2(!run.err.contains("kibro-drivermodel:"), run.err.constData());
    const auto received = program.sim().drain();
    QVERIFY(received);
    QVERIFY(received->size() < bytes.size());
    QCOMPARE(*received, bytes.left(received->size()));
    // Every byte it counts went out, and not one after.
    const QByteArray said =
        QStringLiteral("stopped after %1 of %2 bytes").arg(received->size()).arg(size).toUtf8();
    QVERIFY2(run.err.contains(said), run.err.constData());
}

void KibroSendTest::pausesOnceTheCalculatorAnswers_data()
{
    QTest::addColumn<QByteArray>("driver");
    // Bytes written ahead of the line: the answer cannot stop those.
    QTest::addColumn<int>("ahead");
    QTest::newRow("16550") << QByteArray("16550") << 0;
    // A count of write buffers, not bytes, must not make the pauses shorter or skip them. The
    // adapter keeps a 50 ms cushion: six bytes at 1200 bit/s.
    QTest::newRow("USB modem class") << QByteArray("acm") << 6;
}

void KibroSendTest::pausesOnceTheCalculatorAnswers()
{
    QFETCH(QByteArray, driver);
    QFETCH(int, ahead);
    constexpr int kAnswerAfter = 30;
    constexpr int kLength = 50;
    ProgramProcess program;
    RIG_OK(program.prepare(true, {QStringLiteral("--answer-after"), QString::number(kAnswerAfter),
                                  QStringLiteral("--answer"), QStringLiteral("41")}));
    const QByteArray bytes = testdata::randomBytes(kLength);
    RIG_OK(program.writeSample(QStringLiteral("F.BIN"), bytes));
    start(program, {QStringLiteral("--baud"), QStringLiteral("1200"), QStringLiteral("F.BIN")},
          driver);
    const Run run = finish(program);
    QCOMPARE(run.status, 0);
    QFile wire(QDir(program.configDir()).filePath(QStringLiteral("wire.txt")));
    QVERIFY(wire.open(QIODevice::ReadOnly));
    QList<qint64> starts;
    for (const QByteArray& line : wire.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            starts << line.trimmed().toLongLong();
    }
    QCOMPARE(starts.size(), kLength);
    // The answer travels while bytes go out at the line's pace; once it is in, every later byte
    // waits its ten ticks. Only lower bounds: a slow machine makes pauses longer, not shorter.
    constexpr qint64 kPause = 90'000'000;
    qsizetype firstPaused = -1;
    int heldBefore = 0;
    for (qsizetype i = 1; i < starts.size(); ++i) {
        const bool paused = starts[i] - starts[i - 1] >= kPause;
        // Before the answer can have come, a long gap is a busy machine's stall: one or two,
        // where a pause would show on every byte.
        if (i < kAnswerAfter) {
            heldBefore += paused ? 1 : 0;
            continue;
        }
        if (firstPaused < 0 && paused)
            firstPaused = i;
        QVERIFY2(firstPaused < 0 || paused,
                 qPrintable(QStringLiteral("byte %1 not paused").arg(i + 1)));
    }
    QVERIFY2(heldBefore <= 2, qPrintable(QStringLiteral("%1 bytes held before").arg(heldBefore)));
    QVERIFY2(firstPaused >= kAnswerAfter && firstPaused <= kAnswerAfter + ahead + 10,
             qPrintable(QStringLiteral("first pause before byte %1").arg(firstPaused + 1)));
}

void KibroSendTest::progressLine_data()
{
    // Counts seen at redraws, the last one now.
    QTest::addColumn<QList<qint64>>("atMs");
    QTest::addColumn<QList<qint64>>("sent");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("dumb");
    // Characters of the line drawn before.
    QTest::addColumn<int>("shownBefore");
    QTest::addColumn<QString>("written");
    const QList<qint64> fiveSeconds{0, 5000};
    const QList<qint64> sentAt1900{0, 9500};
    QTest::newRow("fits at once") << fiveSeconds << sentAt1900 << qint64(48000) << false << 80
                                  << false << 0
                                  << "\r\033[K9500 of 48000 bytes (19%), 1900 B/s, 20 s left";
    const QList<qint64> far{0, 1234567};
    const QList<qint64> longAgo{0, 649772};
    QTest::newRow("80 columns, paused: the rate goes")
        << longAgo << far << qint64(2000000) << true << 80 << false << 0
        << "\r\033[K1234567 of 2000000 bytes (61%), 6 min 43 s left, paused by the pocket computer";
    QTest::newRow("40 columns, paused: the count and the note")
        << longAgo << far << qint64(2000000) << true << 40 << false << 0
        << "\r\033[K1234567 of 2000000 bytes (61%), paused";
    QTest::newRow("TERM=dumb: spaces over the longer line before")
        << QList<qint64>{0, 2000} << QList<qint64>{0, 3800} << qint64(48000) << false << 80 << true
        << 60 << "\r3800 of 48000 bytes (7%), 1900 B/s, 23 s left" + QString(15, u' ');
    // 10 s at 1900 B/s, then a byte every 100 ms once the pocket computer answers.
    QList<qint64> atMs{0};
    QList<qint64> sent{0};
    for (qint64 second = 1; second <= 20; ++second) {
        atMs << second * 1000;
        sent << (second <= 10 ? second * 1900 : 19000 + (second - 10) * 10);
    }
    QTest::newRow("paused for seconds: hours left, from the recent rate")
        << atMs << sent << qint64(120000) << true << 80 << false << 0
        << "\r\033[K19100 of 120000 bytes (15%), 2 h 48 min left, paused by the pocket computer";
}

void KibroSendTest::progressLine()
{
    QFETCH(QList<qint64>, atMs);
    QFETCH(QList<qint64>, sent);
    QFETCH(qint64, total);
    QFETCH(bool, paused);
    QFETCH(int, columns);
    QFETCH(bool, dumb);
    QFETCH(int, shownBefore);
    QFETCH(QString, written);
    kibro::RecentRate rate;
    for (qsizetype i = 0; i < atMs.size(); ++i)
        rate.add(std::chrono::milliseconds(atMs[i]), sent[i]);
    const QString text =
        kibro::progressText({sent.last(), total, rate.bytesPerSecond(), paused}, columns);
    QVERIFY2(text.size() < columns, qPrintable(text));
    QCOMPARE(kibro::redrawn(text, shownBefore, dumb), written);
}

QTEST_GUILESS_MAIN(KibroSendTest)
#include "tst_kibrosend.moc"
