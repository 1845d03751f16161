// kibro-send as a terminal user runs it: no display, the window's store, and the simulated
// pocket computer on COM1. Exit statuses and messages in one table; then the line's own pace
// (behind the driver model, so nothing races the pseudo-terminal) for signals and pauses.
#include "programprocess.h"
#include "testdata.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <csignal>

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

private:
    // Starts kibro-send in the program's work folder, behind the driver model when paced.
    static void start(ProgramProcess& program, const QStringList& args, bool paced);
    static Run finish(ProgramProcess& program);
};

void KibroSendTest::start(ProgramProcess& program, const QStringList& args, bool paced)
{
    program.process().setProcessChannelMode(QProcess::SeparateChannels);
    // The model stands behind kibro-send only: the simulator is already running.
    const QByteArray asanOptions = qgetenv("ASAN_OPTIONS");
    if (paced) {
        qputenv("LD_PRELOAD", KIBRO_DRIVERMODEL_LIBRARY);
        // Under the sanitizers the preloaded model comes before their runtime, on purpose.
        qputenv("ASAN_OPTIONS",
                asanOptions + (asanOptions.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
        qputenv("KIBRO_DRIVER_MODEL_DEVICE", program.sim().linkPath().toLocal8Bit());
        qputenv("KIBRO_DRIVER_MODEL_LOG",
                QDir(program.configDir()).filePath(QStringLiteral("wire.txt")).toLocal8Bit());
    }
    const QString error =
        program.start(QStringLiteral(KIBRO_SEND_EXE), args, program.samplesDir(), {});
    for (const char* name : {"LD_PRELOAD", "KIBRO_DRIVER_MODEL_DEVICE", "KIBRO_DRIVER_MODEL_LOG",
                             "KIBRO_DRIVER_MODEL"})
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
    const QStringList none;
    const QStringList lineGoes{QStringLiteral("--rate"), QStringLiteral("2000"),
                               QStringLiteral("--close-after"), QStringLiteral("100")};
    QTest::newRow("no FILE") << none << none << 1 << "no FILE";
    QTest::newRow("two FILEs") << QStringList{"A.BIN", "B.BIN"} << none << 1 << "one FILE at most";
    QTest::newRow("unknown option") << QStringList{"--fast", "A.BIN"} << none << 1 << "'fast'";
    QTest::newRow("rate not offered")
        << QStringList{"--baud", "300", "A.BIN"} << none << 1 << "not '300'";
    // Refused as an argument, before any port is touched.
    QTest::newRow("port neither COM nor device")
        << QStringList{"--port", "ttyS0", "A.BIN"} << none << 1 << "not 'ttyS0'";
    QTest::newRow("help, no display") << QStringList{"--help"} << none << 0 << "Usage: kibro-send";
    QTest::newRow("version") << QStringList{"-v"} << none << 0 << "kibro-send " KIBRO_VERSION "\n";
    QTest::newRow("file missing") << QStringList{"MISSING.BIN"} << none << 2
                                  << "MISSING.BIN: No such file or directory";
    QTest::newRow("a folder") << QStringList{"."} << none << 2 << ".: is a folder";
    QTest::newRow("COM2 leads nowhere")
        << QStringList{"--port", "COM2", "SMALL.BIN"} << none << 3 << "kibro-send: cannot open ";
    QTest::newRow("line lost") << QStringList{"LARGE.BIN"} << lineGoes << 4 << "was lost after ";
    QTest::newRow("sent, stored port")
        << QStringList{"SMALL.BIN"} << none << 0 << "sent 300 bytes of SMALL.BIN to ";
    QTest::newRow("sent, standard input")
        << QStringList{"--quiet", "-"} << none << 0 << "sent 300 bytes of standard input to ";
}

void KibroSendTest::statusAndMessage()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, simArgs);
    QFETCH(int, status);
    QFETCH(QString, says);
    ProgramProcess program;
    RIG_OK(program.prepare(true, simArgs));
    const QByteArray small = testdata::randomBytes(300);
    RIG_OK(program.writeSample(QStringLiteral("SMALL.BIN"), small));
    // Far more than a pseudo-terminal holds, so the line is still busy when it goes.
    RIG_OK(program.writeSample(QStringLiteral("LARGE.BIN"), testdata::randomBytes(256 * 1024)));
    start(program, args, false);
    if (args.contains(QStringLiteral("-"))) {
        program.process().write(small);
        program.process().closeWriteChannel();
    }
    const Run run = finish(program);
    QCOMPARE(run.status, status);
    const QByteArray said = status == 0 && run.err.isEmpty() ? run.out : run.err;
    QVERIFY2(said.contains(says.toUtf8()), said.constData());
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
    QTest::newRow("Ctrl-C") << int(SIGINT) << 130;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
}

void KibroSendTest::signalStopsBeforeTheNextByte()
{
    QFETCH(int, signalNumber);
    QFETCH(int, status);
    ProgramProcess program;
    RIG_OK(program.prepare());
    const QByteArray bytes = testdata::randomBytes(3000);
    RIG_OK(program.writeSample(QStringLiteral("F.BIN"), bytes));
    // 1200 bit/s behind the model: 120 bytes a second, so it is mid-file when the signal comes.
    start(program, {QStringLiteral("--baud"), QStringLiteral("1200"), QStringLiteral("F.BIN")},
          true);
    QVERIFY(program.sim().waitForCount(20, std::chrono::milliseconds(kWaitMs)));
    QCOMPARE(::kill(static_cast<pid_t>(program.process().processId()), signalNumber), 0);
    const Run run = finish(program);
    QCOMPARE(run.status, status);
    const auto received = program.sim().drain();
    QVERIFY(received);
    QVERIFY(received->size() < bytes.size());
    QCOMPARE(*received, bytes.left(received->size()));
    // Every byte it counts went out, and not one after.
    const QByteArray said =
        QStringLiteral("stopped after %1 of 3000 bytes").arg(received->size()).toUtf8();
    QVERIFY2(run.err.contains(said), run.err.constData());
}

void KibroSendTest::pausesOnceTheCalculatorAnswers_data()
{
    QTest::addColumn<QByteArray>("driver");
    QTest::newRow("16550") << QByteArray("16550");
    // A count of write buffers, not bytes, must not make the pauses shorter or skip them.
    QTest::newRow("USB modem class") << QByteArray("acm");
}

void KibroSendTest::pausesOnceTheCalculatorAnswers()
{
    QFETCH(QByteArray, driver);
    constexpr int kAnswerAfter = 30;
    constexpr int kLength = 50;
    ProgramProcess program;
    RIG_OK(program.prepare(true, {QStringLiteral("--answer-after"), QString::number(kAnswerAfter),
                                  QStringLiteral("--answer"), QStringLiteral("41")}));
    const QByteArray bytes = testdata::randomBytes(kLength);
    RIG_OK(program.writeSample(QStringLiteral("F.BIN"), bytes));
    qputenv("KIBRO_DRIVER_MODEL", driver);
    start(program, {QStringLiteral("--baud"), QStringLiteral("1200"), QStringLiteral("F.BIN")},
          true);
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
    for (qsizetype i = 1; i < starts.size(); ++i) {
        const bool paused = starts[i] - starts[i - 1] >= kPause;
        if (firstPaused < 0 && paused)
            firstPaused = i;
        QVERIFY2(firstPaused < 0 || paused,
                 qPrintable(QStringLiteral("byte %1 not paused").arg(i + 1)));
    }
    QVERIFY2(firstPaused >= kAnswerAfter && firstPaused <= kAnswerAfter + 10,
             qPrintable(QStringLiteral("first pause before byte %1").arg(firstPaused + 1)));
}

QTEST_GUILESS_MAIN(KibroSendTest)
#include "tst_kibrosend.moc"
