// Measures pacing against the simulated pocket computer draining at each line rate: the rate
// it sees, the program's CPU share, the engine's ceiling, cancel latency and the pause after a
// received byte; with `cat` to the device as the reference. Then the same program behind the
// driver model (a 16550 UART, a USB serial adapter, a USB modem-class adapter), in a child
// process that preloads it, against the classic busy loop (how busy the modelled wire can be)
// and a minimal sleeping sender (how little CPU it can cost). Prints tables and writes JSON.
#include "filechooser.h"
#include "linespeed.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "pocketsim.h"
#include "sendwindow.h"
#include "testdata.h"
#include "teststore.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto kPoll = 20ms;

double cpuSeconds()
{
    return std::chrono::duration<double>(testdata::processCpu()).count();
}

// Runs the event loop until the condition holds, checking it every few milliseconds.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || std::chrono::milliseconds(clock.elapsed()) > timeout)
            loop.quit();
    });
    poll.start(kPoll);
    loop.exec();
    return condition();
}

// Runs the event loop until object is gone: no poll of its own to wake the program measured.
bool waitUntilDestroyed(QObject* object, std::chrono::milliseconds timeout)
{
    const QPointer<QObject> watched(object);
    if (!watched)
        return true;
    QEventLoop loop;
    QObject::connect(watched, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    loop.exec();
    return watched.isNull();
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

struct RunResult
{
    qint64 bytes = 0;
    double simSeconds = 0;  // first to last byte, as the pocket computer saw it
    double wallSeconds = 0; // START to the last byte received
    double cpuSeconds = 0;  // the sender's user plus system time over that
    [[nodiscard]] double seenRate() const { return simSeconds > 0 ? (bytes - 1) / simSeconds : 0; }
};

// The real main window, a file folder, and COM1 on a simulated pocket computer.
class Session
{
public:
    Session(int baud, const QStringList& simArgs)
    {
        m_ok = m_sim.start(m_store.directory() + QStringLiteral("/COM1"), simArgs);
        m_store.mapPort(1, m_sim.linkPath());
        // In a child that preloads the driver model: this is the port it stands behind.
        qputenv("KIBRO_DRIVER_MODEL_DEVICE", m_sim.linkPath().toLocal8Bit());
        m_store.set(QStringLiteral("Startup/Settings"), QStringLiteral("%1,N,8,1").arg(baud));
        m_mainWindow = std::make_unique<kibro::MainWindow>();
        m_mainWindow->setEndProgram([] {});
        m_mainWindow->startUp();
        m_mainWindow->show();
        m_ok = m_ok && m_mainWindow->serialPort().isOpen();
    }

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] PocketSim& sim() { return m_sim; }
    [[nodiscard]] kibro::SerialPort& comm() { return m_mainWindow->serialPort(); }

    QPointer<kibro::SendWindow> open(const QByteArray& bytes)
    {
        const QString path = m_files.path() + QStringLiteral("/BENCH.BIN");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        file.close();
        // The file list follows the folder.
        m_mainWindow->directoryList()->setPath(m_files.path());
        if (!m_mainWindow->fileList()->selectFile(QStringLiteral("BENCH.BIN")))
            return {};
        return m_mainWindow->sendWindow();
    }

    static void press(kibro::SendWindow* window, const char* button)
    {
        window->findChild<QPushButton*>(QString::fromLatin1(button))->click();
    }

    // Sends the file and measures until the pocket computer has all of it.
    std::optional<RunResult> send(const QByteArray& bytes, std::chrono::milliseconds timeout)
    {
        QPointer<kibro::SendWindow> window = open(bytes);
        if (!window)
            return std::nullopt;
        // A user presses START on a window already drawn: its first paint is not the
        // transfer's.
        waitUntil(
            [&] { return window && window->windowHandle() && window->windowHandle()->isExposed(); },
            5s);
        waitUntil([] { return false; }, 300ms);
        if (!window)
            return std::nullopt;
        QElapsedTimer wall;
        const double cpuBefore = cpuSeconds();
        wall.start();
        press(window, "Command2");
        // The window goes once the last byte is written. Until then a poll every few
        // milliseconds would wake the program measured as often as its line does at 1200 bit/s.
        waitUntilDestroyed(window, timeout);
        if (!waitUntil([&] { return m_sim.receivedCount() >= bytes.size(); }, timeout))
            return std::nullopt;
        RunResult result;
        result.wallSeconds = wall.nsecsElapsed() / 1e9;
        result.cpuSeconds = cpuSeconds() - cpuBefore;
        waitUntil([&] { return window.isNull(); }, 5s);
        const auto summary = m_sim.stop();
        if (!summary || summary->sha256Hex != sha256Hex(bytes))
            return std::nullopt;
        result.bytes = summary->bytes;
        result.simSeconds = summary->seconds;
        return result;
    }

private:
    TestStore m_store;
    QTemporaryDir m_files;
    PocketSim m_sim;
    std::unique_ptr<kibro::MainWindow> m_mainWindow;
    bool m_ok = false;
};

// `cat FILE > device`: the line limit with no pacing at all.
std::optional<RunResult> catReference(const QByteArray& bytes, int bytesPerSecond)
{
    QTemporaryDir dir;
    PocketSim sim;
    if (!sim.start(dir.path() + QStringLiteral("/COM1"),
                   {QStringLiteral("--rate"), QString::number(bytesPerSecond)}))
        return std::nullopt;
    const QString path = dir.path() + QStringLiteral("/BENCH.BIN");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return std::nullopt;
    file.close();

    QProcess cat;
    QElapsedTimer wall;
    wall.start();
    // bash's `times` reports the children's user and system time: cat's alone.
    cat.start(QStringLiteral("bash"),
              {QStringLiteral("-c"), QStringLiteral("cat \"$1\" > \"$2\"; times"),
               QStringLiteral("_"), path, sim.linkPath()});
    if (!waitUntil([&] { return sim.receivedCount() >= bytes.size(); }, 600s))
        return std::nullopt;
    RunResult result;
    result.wallSeconds = wall.nsecsElapsed() / 1e9;
    cat.waitForFinished(10000);
    const QStringList lines =
        QString::fromLocal8Bit(cat.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    const auto parse = [](const QString& field) {
        // "0m0.004s"
        const qsizetype m = field.indexOf(u'm');
        return field.left(m).toDouble() * 60 + field.mid(m + 1).chopped(1).toDouble();
    };
    if (lines.size() >= 2) {
        const QStringList children = lines[1].split(u' ', Qt::SkipEmptyParts);
        if (children.size() == 2)
            result.cpuSeconds = parse(children[0]) + parse(children[1]);
    }
    const auto summary = sim.stop();
    if (!summary || summary->sha256Hex != sha256Hex(bytes))
        return std::nullopt;
    result.bytes = summary->bytes;
    result.simSeconds = summary->seconds;
    return result;
}

std::optional<double> engineCeiling(qsizetype size)
{
    Session session(38400, {});
    if (!session.ok())
        return std::nullopt;
    const auto result = session.send(randomBytes(size), 120s);
    if (!result || result->simSeconds <= 0)
        return std::nullopt;
    std::printf("(ceiling run: %.2f s wall, %.2f s cpu of the sender)\n", result->wallSeconds,
                result->cpuSeconds);
    return result->seenRate();
}

std::optional<double> cancelLatencyMs()
{
    Session session(1200, {QStringLiteral("--rate"), QStringLiteral("120")});
    if (!session.ok())
        return std::nullopt;
    QPointer<kibro::SendWindow> window = session.open(randomBytes(64 * 1024));
    if (!window)
        return std::nullopt;
    QElapsedTimer clock;
    std::optional<double> latency;
    kibro::setMessageHook([&](const QString&, const QString&) {
        if (!latency)
            latency = clock.nsecsElapsed() / 1e6;
    });
    Session::press(window, "Command2");
    // Long enough for the line's buffer to fill, so the engine is waiting on the line.
    waitUntil([] { return false; }, 1500ms);
    clock.start();
    Session::press(window, "Command1");
    waitUntil([&] { return latency.has_value() && window.isNull(); }, 10s);
    kibro::setMessageHook({});
    return latency;
}

std::optional<double> meanPauseMs()
{
    constexpr int kAnswerAfter = 20;
    Session session(9600, {QStringLiteral("--answer-after"), QString::number(kAnswerAfter),
                           QStringLiteral("--answer"), QStringLiteral("41")});
    if (!session.ok())
        return std::nullopt;
    const QByteArray bytes = randomBytes(kAnswerAfter + 40);
    QPointer<kibro::SendWindow> window = session.open(bytes);
    if (!window)
        return std::nullopt;
    // Hold the sender after byte 20 until the answer is in, so the pauses start at byte 21.
    kibro::SerialPort& comm = session.comm();
    QObject::connect(&window->engine(), &kibro::TransferEngine::byteWritten, [&comm](qint64 value) {
        QDeadlineTimer deadline(5s);
        while (value == kAnswerAfter && comm.inBufferCount() == 0 && !deadline.hasExpired())
            QThread::usleep(200);
    });
    Session::press(window, "Command2");
    if (!waitUntil([&] { return session.sim().receivedCount() >= bytes.size(); }, 60s))
        return std::nullopt;
    const QList<qint64> times = session.sim().timesMicros();
    if (times.size() != bytes.size())
        return std::nullopt;
    const double total = static_cast<double>(times.last() - times[kAnswerAfter - 1]);
    return total / static_cast<double>(times.size() - kAnswerAfter) / 1000.0;
}

// What a child run reports on its last line of output.
void printResult(double cpu, double wall)
{
    std::printf("RESULT %.6f %.6f\n", cpu, wall);
    std::fflush(stdout);
}

// The program itself in a child process behind the driver model: START, until the pocket
// computer has every byte; then the port closes, which lets the model log the last starts.
int childTransfer(int baud, const QByteArray& bytes)
{
    std::optional<RunResult> result;
    {
        Session session(baud, {});
        if (!session.ok())
            return 2;
        result = session.send(bytes, 900s);
    }
    if (!result)
        return 3;
    printResult(result->cpuSeconds, result->wallSeconds);
    return 0;
}

// kibro-send, or the reference sender, in a child of its own behind the driver model, started
// from a child of the bench that has the simulator: until its exit, which comes once every byte
// is written.
int childProgramSend(bool reference, int baud, const QByteArray& bytes)
{
    QTemporaryDir dir;
    PocketSim sim;
    if (!sim.start(dir.filePath(QStringLiteral("COM1"))))
        return 2;
    QFile file(dir.filePath(QStringLiteral("F.BIN")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return 2;
    file.close();
    QProcess send;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KIBRO_DRIVERMODEL_LIBRARY));
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL_DEVICE"), sim.linkPath());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    send.setProcessEnvironment(env);
    send.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    send.setStandardErrorFile(QProcess::nullDevice());
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    QElapsedTimer wall;
    wall.start();
    if (reference)
        send.start(QStringLiteral(KIBRO_REFERENCE_SENDER_EXE),
                   {sim.linkPath(), QString::number(baud), file.fileName()});
    else
        send.start(QStringLiteral(KIBRO_SEND_EXE),
                   {QStringLiteral("--quiet"), QStringLiteral("--port"), sim.linkPath(),
                    QStringLiteral("--baud"), QString::number(baud), file.fileName()});
    if (!send.waitForFinished(900'000) || send.exitCode() != 0)
        return 3;
    const double wallSeconds = wall.nsecsElapsed() / 1e9;
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    const double cpu = seconds(after.ru_utime) + seconds(after.ru_stime) -
                       seconds(before.ru_utime) - seconds(before.ru_stime);
    if (!sim.waitForCount(bytes.size(), 60s))
        return 3;
    printResult(cpu, wallSeconds);
    return 0;
}

// The classic sender: write one byte, spin on the driver's count until it reads 0. The ceiling
// of the one-byte rule, at the price of a whole core.
int childBusyLoop(int baud, const QByteArray& bytes)
{
    QTemporaryDir dir;
    PocketSim sim;
    if (!sim.start(dir.path() + QStringLiteral("/COM1")))
        return 2;
    qputenv("KIBRO_DRIVER_MODEL_DEVICE", sim.linkPath().toLocal8Bit());
    const int fd = ::open(sim.linkPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return 2;
    setRawLine(fd, baud);

    QElapsedTimer wall;
    const double cpuBefore = cpuSeconds();
    wall.start();
    for (const char byte : bytes) {
        while (::write(fd, &byte, 1) != 1) {
        }
        int queued = 0;
        while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        }
    }
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.nsecsElapsed() / 1e9;
    ::close(fd);
    if (!sim.waitForCount(bytes.size(), 60s))
        return 3;
    const auto summary = sim.stop();
    if (!summary || summary->sha256Hex != sha256Hex(bytes))
        return 3;
    printResult(cpu, seconds);
    return 0;
}

// How late this machine wakes a sleeping thread, sampled beside a run: a sender that sleeps
// between looks can keep a line no busier than its wakes are punctual, and on a virtual machine
// that changes from minute to minute with the host's load.
class WakeProbe
{
public:
    struct Lateness
    {
        double p99Us = 0;
        double maxUs = 0;
    };

    WakeProbe() : m_thread([this] { sample(); }) {}
    ~WakeProbe() { finish(); }
    WakeProbe(const WakeProbe&) = delete;
    WakeProbe& operator=(const WakeProbe&) = delete;

    Lateness finish()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_late.empty())
            return {};
        std::sort(m_late.begin(), m_late.end());
        const auto at = [&](double q) {
            return m_late[static_cast<size_t>(q * static_cast<double>(m_late.size() - 1))] / 1e3;
        };
        return {at(0.99), at(1.0)};
    }

private:
    // Seldom enough to cost the run nothing worth counting.
    static constexpr std::chrono::nanoseconds kPeriod = 2ms;

    void sample()
    {
        // The steady clock is CLOCK_MONOTONIC here, as for the program's own wake.
        using Clock = std::chrono::steady_clock;
        const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        if (fd < 0)
            return;
        while (!m_stop) {
            const Clock::time_point deadline = Clock::now() + kPeriod;
            const auto since = deadline.time_since_epoch();
            const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
            itimerspec expiry{};
            expiry.it_value = {static_cast<time_t>(secs.count()),
                               static_cast<long>((since - secs).count())};
            ::timerfd_settime(fd, TFD_TIMER_ABSTIME, &expiry, nullptr);
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, -1) != 1)
                continue;
            m_late.push_back((Clock::now() - deadline).count());
            quint64 expiries = 0;
            [[maybe_unused]] const auto read = ::read(fd, &expiries, sizeof expiries);
        }
        ::close(fd);
    }

    std::atomic<bool> m_stop = false;
    std::vector<qint64> m_late;
    std::thread m_thread;
};

struct WireResult
{
    double share = 0;    // bytes x byte time / first start to last end
    double maxGapMs = 0; // longest idle stretch of the wire between two bytes
    double cpuShare = 0; // the sender's CPU over its wall time
    double wallSeconds = 0;
    WakeProbe::Lateness wakes; // this machine's wakes meanwhile
};

// Runs one child behind the driver model and reads the wire from the model's log.
std::optional<WireResult> modelledRun(const QString& mode, const QString& driver,
                                      const QString& platform, int baud, qsizetype size)
{
    QTemporaryDir dir;
    const QString log = dir.path() + QStringLiteral("/starts.txt");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KIBRO_DRIVERMODEL_LIBRARY));
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL"), driver);
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL_USB_LATENCY_US"), QStringLiteral("500"));
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL_USB_CHIP_BUFFER"), QStringLiteral("256"));
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL_LOG"), log);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    if (!env.contains(QStringLiteral("XDG_RUNTIME_DIR")))
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    WakeProbe probe;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), mode, QStringLiteral("--child-baud"),
                 QString::number(baud), QStringLiteral("--size"), QString::number(size)});
    const bool finished = child.waitForFinished(900'000);
    const WakeProbe::Lateness wakes = probe.finish();
    if (!finished || child.exitCode() != 0)
        return std::nullopt;
    const QStringList out =
        QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    if (out.isEmpty() || !out.last().startsWith(QStringLiteral("RESULT ")))
        return std::nullopt;
    const QStringList fields = out.last().split(u' ');
    WireResult result;
    result.wakes = wakes;
    const double cpu = fields.value(1).toDouble();
    result.wallSeconds = fields.value(2).toDouble();
    result.cpuShare = result.wallSeconds > 0 ? cpu / result.wallSeconds : 0;

    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QList<qint64> starts;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            starts.append(line.toLongLong());
    if (starts.size() != size)
        return std::nullopt;
    const double byteNs = 10e9 / baud;
    const double span = static_cast<double>(starts.last() - starts.first()) + byteNs;
    result.share = size * byteNs / span;
    for (qsizetype i = 1; i < starts.size(); ++i)
        result.maxGapMs = std::max(result.maxGapMs, (starts[i] - starts[i - 1] - byteNs) / 1e6);
    return result;
}

QString ratio(double value)
{
    return QString::number(value, 'f', 3);
}

// Several runs of one row: each figure's median, and the worst of each.
struct RepeatedResult
{
    WireResult median;
    double lowestShare = 0;
    double highestCpuShare = 0;
    double longestWakeUs = 0;
    QList<double> shares;
};

std::optional<RepeatedResult> repeatedRun(const QString& mode, const QString& driver,
                                          const QString& platform, int baud, qsizetype size,
                                          int repeat)
{
    std::vector<WireResult> runs;
    for (int i = 0; i < repeat; ++i) {
        const auto run = modelledRun(mode, driver, platform, baud, size);
        if (!run)
            return std::nullopt;
        runs.push_back(*run);
    }
    const auto medianOf = [&](auto field) {
        std::vector<double> values;
        for (const WireResult& run : runs)
            values.push_back(field(run));
        std::sort(values.begin(), values.end());
        const size_t half = values.size() / 2;
        return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
    };
    RepeatedResult result;
    result.median.share = medianOf([](const WireResult& r) { return r.share; });
    result.median.cpuShare = medianOf([](const WireResult& r) { return r.cpuShare; });
    result.median.maxGapMs = medianOf([](const WireResult& r) { return r.maxGapMs; });
    result.median.wallSeconds = medianOf([](const WireResult& r) { return r.wallSeconds; });
    result.median.wakes.p99Us = medianOf([](const WireResult& r) { return r.wakes.p99Us; });
    result.median.wakes.maxUs = medianOf([](const WireResult& r) { return r.wakes.maxUs; });
    result.lowestShare = runs.front().share;
    for (const WireResult& run : runs) {
        result.lowestShare = std::min(result.lowestShare, run.share);
        result.highestCpuShare = std::max(result.highestCpuShare, run.cpuShare);
        result.longestWakeUs = std::max(result.longestWakeUs, run.wakes.maxUs);
        result.shares.append(run.share);
    }
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    // Only the child itself stands behind the model, never the simulator it starts.
    qunsetenv("LD_PRELOAD");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The event loop the program runs on (src/app/main.cpp).
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    kibro::setMessageHook([](const QString&, const QString&) {});

    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption jsonOption(QStringLiteral("json"),
                                  QStringLiteral("Write the numbers to <file>."),
                                  QStringLiteral("file"));
    QCommandLineOption quickOption(QStringLiteral("quick"),
                                   QStringLiteral("Small files: a smoke run, not a measurement."));
    QCommandLineOption ratesOption(QStringLiteral("rates"),
                                   QStringLiteral("Only these baud rates, comma-separated."),
                                   QStringLiteral("list"));
    QCommandLineOption sizeOption(QStringLiteral("size"),
                                  QStringLiteral("The same file size in bytes at every rate."),
                                  QStringLiteral("bytes"));
    QCommandLineOption driversOption(
        QStringLiteral("drivers"),
        QStringLiteral("Only these of pty, 16550, usb and acm, comma-separated."),
        QStringLiteral("list"), QStringLiteral("pty,16550,usb,acm"));
    QCommandLineOption childOption(QStringLiteral("child"),
                                   QStringLiteral("Internal: one run behind the driver model."),
                                   QStringLiteral("mode"));
    QCommandLineOption childBaudOption(QStringLiteral("child-baud"),
                                       QStringLiteral("Internal: the child's baud rate."),
                                       QStringLiteral("baud"));
    QCommandLineOption repeatOption(
        QStringLiteral("repeat"),
        QStringLiteral("Runs of the program on X per driver model row (3, 1 with --quick)."),
        QStringLiteral("runs"));
    parser.addOptions({jsonOption, quickOption, ratesOption, sizeOption, driversOption,
                       repeatOption, childOption, childBaudOption});
    parser.process(app);
    const bool quick = parser.isSet(quickOption);
    const int repeat = std::max(1, parser.isSet(repeatOption) ? parser.value(repeatOption).toInt()
                                   : quick                    ? 1
                                                              : 3);
    if (parser.isSet(childOption)) {
        const int baud = parser.value(childBaudOption).toInt();
        const QByteArray bytes = randomBytes(parser.value(sizeOption).toLongLong());
        const QString mode = parser.value(childOption);
        if (mode == u"busy")
            return childBusyLoop(baud, bytes);
        if (mode == u"send" || mode == u"reference")
            return childProgramSend(mode == u"reference", baud, bytes);
        return childTransfer(baud, bytes);
    }
    const QStringList drivers = parser.value(driversOption).split(u',');

    QList<int> bauds{1200, 2400, 4800, 9600, 19200, 38400};
    if (parser.isSet(ratesOption)) {
        bauds.clear();
        for (const QString& rate : parser.value(ratesOption).split(u','))
            bauds.append(rate.toInt());
    }
    const qsizetype fixedSize = parser.value(sizeOption).toLongLong();
    QJsonArray rows;
    bool complete = true;
    if (drivers.contains(QStringLiteral("pty")))
        std::printf("pseudo-terminal, simulated pocket computer draining at the line rate\n"
                    "%-7s %7s %8s | %-27s | %-27s\n",
                    "baud", "B/s", "bytes", "kibro: rate ratio  cpu share",
                    "cat:   rate ratio  cpu share");
    for (int baud : drivers.contains(QStringLiteral("pty")) ? bauds : QList<int>{}) {
        const int line = baud / 10;
        const qsizetype size = fixedSize > 0   ? fixedSize
                               : quick         ? 512
                               : baud <= 9600  ? 4 * 1024
                               : baud == 19200 ? 32 * 1024
                                               : 64 * 1024;
        const QByteArray bytes = randomBytes(size);
        std::optional<RunResult> ours;
        {
            Session session(baud, {QStringLiteral("--rate"), QString::number(line)});
            if (session.ok())
                ours = session.send(bytes, 600s);
        }
        const auto reference = catReference(bytes, line);
        QJsonObject row{{QStringLiteral("baud"), baud},
                        {QStringLiteral("line_bytes_per_second"), line},
                        {QStringLiteral("bytes"), size}};
        const auto describe = [&](const std::optional<RunResult>& run, const QString& key) {
            if (!run) {
                complete = false;
                return QStringLiteral("failed");
            }
            const double seen = run->seenRate() / line;
            const double cpu = run->cpuSeconds / run->wallSeconds;
            row.insert(key, QJsonObject{{QStringLiteral("rate_ratio"), seen},
                                        {QStringLiteral("cpu_share"), cpu},
                                        {QStringLiteral("wall_seconds"), run->wallSeconds},
                                        {QStringLiteral("cpu_seconds"), run->cpuSeconds}});
            return QStringLiteral("%1  %2").arg(ratio(seen), 17).arg(ratio(cpu), 9);
        };
        const QString oursText = describe(ours, QStringLiteral("kibro"));
        const QString catText = describe(reference, QStringLiteral("cat"));
        std::printf("%-7d %7d %8lld | %-27s | %-27s\n", baud, line, static_cast<long long>(size),
                    qPrintable(oursText), qPrintable(catText));
        std::fflush(stdout);
        rows.append(row);
    }

    // Behind the driver model: about four seconds of wire a row. The program on X runs several
    // times a row: a single run of a sleeping sender says as much of the host's load that
    // minute as of the sender.
    QJsonArray modelled;
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    const QStringList models{QStringLiteral("16550"), QStringLiteral("usb"), QStringLiteral("acm")};
    if (std::any_of(models.begin(), models.end(),
                    [&](const QString& model) { return drivers.contains(model); })) {
        std::printf("\ndriver model: wire share (busy time / first start to last end), CPU / "
                    "wall, longest wire gap ms%s\n",
                    display ? "" : " (no DISPLAY: no X rows)");
        if (repeat > 1)
            std::printf("on X the median of %d runs, the lowest share and highest CPU among "
                        "them, ",
                        repeat);
        else
            std::printf("on X one run, ");
        std::printf("and how late this machine woke a sleeping thread meanwhile (us)\n");
        std::printf("%-6s %6s %6s | %-11s | %-25s | %-11s | %-13s | %-21s\n", "driver", "baud",
                    "bytes", "busy loop", "kibro, X: share /busy cpu", "gap", "lowest, cpu",
                    "wakes p99 max");
    }
    for (const QString& driver : models) {
        if (!drivers.contains(driver))
            continue;
        for (int baud : bauds) {
            const qsizetype size = fixedSize > 0 ? fixedSize
                                   : quick       ? 256
                                                 : qsizetype(512) * (baud / 1200);
            const auto busy = modelledRun(QStringLiteral("busy"), driver,
                                          QStringLiteral("offscreen"), baud, size);
            const auto reference = modelledRun(QStringLiteral("reference"), driver,
                                               QStringLiteral("offscreen"), baud, size);
            const auto onX = display ? repeatedRun(QStringLiteral("transfer"), driver,
                                                   QStringLiteral("xcb"), baud, size, repeat)
                                     : std::nullopt;
            const auto offscreen = modelledRun(QStringLiteral("transfer"), driver,
                                               QStringLiteral("offscreen"), baud, size);
            const auto terminal = modelledRun(QStringLiteral("send"), driver,
                                              QStringLiteral("offscreen"), baud, size);
            QJsonObject row{{QStringLiteral("driver"), driver},
                            {QStringLiteral("baud"), baud},
                            {QStringLiteral("bytes"), size}};
            const auto figures = [](const WireResult& run) {
                return QJsonObject{{QStringLiteral("wire_share"), run.share},
                                   {QStringLiteral("max_gap_ms"), run.maxGapMs},
                                   {QStringLiteral("cpu_share"), run.cpuShare},
                                   {QStringLiteral("wall_seconds"), run.wallSeconds},
                                   {QStringLiteral("wake_late_p99_us"), run.wakes.p99Us},
                                   {QStringLiteral("wake_late_max_us"), run.wakes.maxUs}};
            };
            const auto cell = [](const std::optional<WireResult>& run) {
                return run ? QStringLiteral("%1 %2")
                                 .arg(ratio(run->share), 5)
                                 .arg(ratio(run->cpuShare), 5)
                           : QStringLiteral("failed");
            };
            if (busy)
                row.insert(QStringLiteral("busy_loop"), figures(*busy));
            if (reference)
                row.insert(QStringLiteral("reference"), figures(*reference));
            if (offscreen)
                row.insert(QStringLiteral("offscreen"), figures(*offscreen));
            if (terminal)
                row.insert(QStringLiteral("kibro_send"), figures(*terminal));
            complete = complete && busy && reference && offscreen && terminal && (onX || !display);

            QString xText = QStringLiteral("failed");
            QString gapText;
            QString worstText;
            QString wakeText;
            if (onX) {
                QJsonObject x = figures(onX->median);
                x.insert(QStringLiteral("runs"), repeat);
                x.insert(QStringLiteral("lowest_share"), onX->lowestShare);
                x.insert(QStringLiteral("highest_cpu_share"), onX->highestCpuShare);
                QJsonArray shares;
                for (const double share : onX->shares)
                    shares.append(share);
                x.insert(QStringLiteral("shares"), shares);
                row.insert(QStringLiteral("xcb"), x);
                const double perBusy = busy ? onX->median.share / busy->share : 0;
                xText = QStringLiteral("%1 %2 %3")
                            .arg(ratio(onX->median.share), 5)
                            .arg(busy ? ratio(perBusy) : QStringLiteral("-"), 5)
                            .arg(ratio(onX->median.cpuShare), 5);
                gapText = QString::number(onX->median.maxGapMs, 'f', 2);
                worstText = QStringLiteral("%1 %2")
                                .arg(ratio(onX->lowestShare), 5)
                                .arg(ratio(onX->highestCpuShare), 5);
                wakeText = QStringLiteral("%1 %2")
                               .arg(onX->median.wakes.p99Us, 5, 'f', 0)
                               .arg(onX->longestWakeUs, 6, 'f', 0);
            }
            std::printf("%-6s %6d %6lld | %-11s | %-25s | %-11s | %-13s | %-21s\n",
                        qPrintable(driver), baud, static_cast<long long>(size),
                        qPrintable(cell(busy)), qPrintable(xText), qPrintable(gapText),
                        qPrintable(worstText), qPrintable(wakeText));
            if (offscreen)
                std::printf("%-6s %6s %6s | %-11s | offscreen: %-14s | %-11s |\n", "", "", "", "",
                            qPrintable(cell(offscreen)),
                            qPrintable(QString::number(offscreen->maxGapMs, 'f', 2)));
            if (terminal)
                std::printf("%-6s %6s %6s | %-11s | kibro-send: %-13s| %-11s |\n", "", "", "", "",
                            qPrintable(cell(terminal)),
                            qPrintable(QString::number(terminal->maxGapMs, 'f', 2)));
            if (reference)
                std::printf("%-6s %6s %6s | %-11s | reference: %-14s| %-11s |\n", "", "", "", "",
                            qPrintable(cell(reference)),
                            qPrintable(QString::number(reference->maxGapMs, 'f', 2)));
            std::fflush(stdout);
            modelled.append(row);
        }
    }

    if (!drivers.contains(QStringLiteral("pty"))) {
        if (parser.isSet(jsonOption)) {
            QFile json(parser.value(jsonOption));
            if (json.open(QIODevice::WriteOnly))
                json.write(
                    QJsonDocument(QJsonObject{{QStringLiteral("modelled"), modelled}}).toJson());
        }
        return complete ? 0 : 1;
    }

    const auto ceiling = engineCeiling(quick ? 128 * 1024 : 256 * 1024);
    const auto cancel = cancelLatencyMs();
    const auto pause = meanPauseMs();
    const auto show = [](const std::optional<double>& value, int decimals) {
        return value ? QString::number(*value, 'f', decimals) : QStringLiteral("failed");
    };
    std::printf("\nengine ceiling (peer never holds back): %s bytes/s (%s x 3840)\n",
                qPrintable(show(ceiling, 0)),
                qPrintable(ceiling ? ratio(*ceiling / 3840.0) : QStringLiteral("-")));
    std::printf("cancel latency at 1200 bit/s:          %s ms\n", qPrintable(show(cancel, 1)));
    std::printf("mean pause after a received byte:      %s ms\n", qPrintable(show(pause, 1)));
    complete = complete && ceiling && cancel && pause;

    QJsonObject document{{QStringLiteral("rates"), rows}, {QStringLiteral("modelled"), modelled}};
    if (ceiling)
        document.insert(QStringLiteral("engine_ceiling_bytes_per_second"), *ceiling);
    if (cancel)
        document.insert(QStringLiteral("cancel_latency_ms"), *cancel);
    if (pause)
        document.insert(QStringLiteral("mean_pause_ms"), *pause);
    if (parser.isSet(jsonOption)) {
        QFile json(parser.value(jsonOption));
        if (json.open(QIODevice::WriteOnly))
            json.write(QJsonDocument(document).toJson());
    }
    return complete ? 0 : 1;
}
