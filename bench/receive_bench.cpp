// Measures receiving: every byte value at each rate, with the simulated pocket computer sending
// at the full line rate, through the pseudo-terminal and each driver model; a long capture's
// memory and CPU against a send's at the same rate; the silence end against the silence
// chosen; STOP's answer and what it keeps. kibro-receive runs as a child so that the driver
// model can stand behind it; the silence and STOP are timed on the job itself. Prints a table
// and writes JSON.
#include "pocketsim.h"
#include "receivejob.h"
#include "serialport.h"
#include "testdata.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

extern char** environ;

using namespace std::chrono_literals;

namespace {

struct ChildRun
{
    int status = -1;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    long peakKiB = 0;
    long idleKiB = 0;
};

long residentKiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

bool holds(pid_t pid, const QString& device)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == device)
            return true;
    return false;
}

// Runs program behind the driver model (none: the bare pty) and calls listening once it holds
// the device, after its resident size was taken: the idle it is measured against.
ChildRun runChild(const QString& program, const QStringList& args, const QString& driver,
                  PocketSim& sim, const std::function<void()>& listening)
{
    QList<QByteArray> env;
    for (char** entry = environ; *entry; ++entry)
        env.append(*entry);
    if (!driver.isEmpty())
        env << "LD_PRELOAD=" KIBRO_DRIVERMODEL_LIBRARY << "KIBRO_DRIVER_MODEL=" + driver.toLatin1()
            << "KIBRO_DRIVER_MODEL_DEVICE=" + sim.linkPath().toLocal8Bit()
            << "KIBRO_DRIVER_MODEL_USB_LATENCY_US=500"
            << "KIBRO_DRIVER_MODEL_USB_CHIP_BUFFER=256";
    std::vector<char*> envp;
    for (QByteArray& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    QList<QByteArray> argv{QFile::encodeName(program)};
    for (const QString& arg : args)
        argv.append(arg.toLocal8Bit());
    std::vector<char*> argp;
    for (QByteArray& arg : argv)
        argp.push_back(arg.data());
    argp.push_back(nullptr);

    ChildRun run;
    QElapsedTimer wall;
    wall.start();
    pid_t pid = 0;
    // Its last line would break the table.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = ::posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    const QString device = QFileInfo(sim.linkPath()).canonicalFilePath();
    QElapsedTimer waited;
    waited.start();
    while (!holds(pid, device) && waited.elapsed() < 10000)
        QThread::msleep(5);
    QThread::msleep(200);
    run.idleKiB = residentKiB(pid);
    listening();
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.wallSeconds = wall.nsecsElapsed() / 1e9;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    return run;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// kibro-receive takes bytes the pocket computer sends at rate/10 bytes a second.
ChildRun receiveRun(const QByteArray& bytes, int baud, const QString& driver, bool* exact)
{
    QTemporaryDir dir;
    const QString source = writeFile(dir, QStringLiteral("sent"), bytes);
    PocketSim sim;
    if (!sim.start(
            {}, {"--send", source, "--send-rate", QString::number(baud / 10), "--send-on-signal"}))
        return {};
    const QString out = dir.filePath(QStringLiteral("OUT.BIN"));
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    const ChildRun run = runChild(QStringLiteral(KIBRO_RECEIVE_EXE),
                                  {"--port", sim.linkPath(), "--baud", QString::number(baud),
                                   "--silence", "0.5", "--quiet", out},
                                  driver, sim, [&] { (void)sim.startSending(); });
    *exact = run.status == 0 && readFile(out) == bytes;
    return run;
}

// kibro-send with the pocket computer taking rate/10 bytes a second.
ChildRun sendRun(const QByteArray& bytes, int baud, const QString& driver)
{
    QTemporaryDir dir;
    const QString source = writeFile(dir, QStringLiteral("F.BIN"), bytes);
    PocketSim sim;
    if (!sim.start({}, {"--rate", QString::number(baud / 10)}))
        return {};
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    return runChild(QStringLiteral(KIBRO_SEND_EXE),
                    {"--port", sim.linkPath(), "--baud", QString::number(baud), "--quiet", source},
                    driver, sim, [] {});
}

// The job on the bare pty: from the last byte taken to the end, less the silence, in ms.
double silenceOverrun(std::chrono::milliseconds silence)
{
    QTemporaryDir dir;
    const QString source = writeFile(dir, QStringLiteral("sent"), testdata::randomBytes(1000));
    PocketSim sim;
    if (!sim.start({}, {"--send", source, "--send-rate", "960", "--send-on-signal"}))
        return -1;
    kibro::SerialPort serial;
    serial.setDevice(sim.linkPath());
    kibro::ReceiveJob job(serial, kibro::PortUse::Opened);
    job.setSilence(silence);
    QElapsedTimer clock;
    qint64 lastNs = 0;
    qint64 endNs = 0;
    QObject::connect(&job, &kibro::ReceiveJob::receivedChanged,
                     [&] { lastNs = clock.nsecsElapsed(); });
    QObject::connect(&job, &kibro::ReceiveJob::finished, [&] { endNs = clock.nsecsElapsed(); });
    clock.start();
    job.start(QFile::encodeName(dir.filePath(QStringLiteral("OUT"))), false);
    (void)sim.startSending();
    if (!QTest::qWaitFor([&] { return endNs > 0; }, 60000))
        return -1;
    return (endNs - lastNs) / 1e6 - double(silence.count());
}

struct StopResult
{
    double ms = -1;
    bool prefix = false;
    qint64 kept = 0;
};

// STOP mid-file: how long it takes, and whether the file is exactly what came before it.
StopResult stopRun()
{
    QTemporaryDir dir;
    const QByteArray bytes = testdata::randomBytes(64 * 1024);
    const QString source = writeFile(dir, QStringLiteral("sent"), bytes);
    PocketSim sim;
    if (!sim.start({}, {"--send", source, "--send-rate", "3840", "--send-on-signal"}))
        return {};
    kibro::SerialPort serial;
    serial.setDevice(sim.linkPath());
    kibro::ReceiveJob job(serial, kibro::PortUse::Opened);
    const QString out = dir.filePath(QStringLiteral("OUT"));
    job.start(QFile::encodeName(out), false);
    (void)sim.startSending();
    if (!QTest::qWaitFor([&] { return job.received() >= 4000; }, 60000))
        return {};
    QElapsedTimer clock;
    clock.start();
    job.stop();
    StopResult result;
    result.ms = clock.nsecsElapsed() / 1e6;
    const QByteArray saved = readFile(out);
    result.kept = saved.size();
    result.prefix = saved.size() == job.received() && saved == bytes.left(saved.size());
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"json", "Write the numbers to <file>.", "file"});
    parser.addOption({"capture-kib", "Size of the long capture (default 1024).", "KiB"});
    parser.addOption(
        {"drivers", "Models for the exactness rows (default pty,16550,usb,acm).", "list"});
    parser.process(app);
    const qsizetype captureSize = parser.value("capture-kib").toLongLong() > 0
                                      ? parser.value("capture-kib").toLongLong() * 1024
                                      : qsizetype(1) << 20;
    const QStringList drivers = parser.isSet("drivers") ? parser.value("drivers").split(u',')
                                                        : QStringList{"pty", "16550", "usb", "acm"};
    QJsonObject json;

    std::printf("Every byte value, the pocket computer sending at the full line rate\n");
    std::printf("%-8s %6s %7s %6s %8s\n", "driver", "rate", "bytes", "exact", "CPU");
    QJsonArray exactRows;
    for (const QString& driver : drivers) {
        for (const int baud : kibro::kRates) {
            // About a second and a half of the line, whole rounds of the 256 values.
            const QByteArray bytes =
                testdata::allByteValues().repeated(std::max(1, baud * 3 / 20 / 256));
            bool exact = false;
            const ChildRun run =
                receiveRun(bytes, baud, driver == u"pty" ? QString() : driver, &exact);
            const double cpu = run.wallSeconds > 0 ? run.cpuSeconds / run.wallSeconds : 0;
            std::printf("%-8s %6d %7lld %6s %8.3f\n", qPrintable(driver), baud,
                        static_cast<long long>(bytes.size()), exact ? "yes" : "NO", cpu);
            exactRows.append(QJsonObject{{"driver", driver},
                                         {"baud", baud},
                                         {"bytes", bytes.size()},
                                         {"exact", exact},
                                         {"cpuShare", cpu}});
        }
    }
    json["exact"] = exactRows;

    std::printf("\n%lld KiB at 38400 bit/s behind the 16550 model\n",
                static_cast<long long>(captureSize / 1024));
    bool exact = false;
    const ChildRun capture = receiveRun(testdata::randomBytes(captureSize), 38400, "16550", &exact);
    const ChildRun send = sendRun(testdata::randomBytes(64 * 1024), 38400, "16550");
    const double captureCpu = capture.cpuSeconds / std::max(1e-9, capture.wallSeconds);
    const double sendCpu = send.cpuSeconds / std::max(1e-9, send.wallSeconds);
    std::printf(
        "receive: exact %s, idle %ld KiB, peak %ld KiB (+%ld), CPU share %.3f over %.0f s\n",
        exact ? "yes" : "NO", capture.idleKiB, capture.peakKiB, capture.peakKiB - capture.idleKiB,
        captureCpu, capture.wallSeconds);
    std::printf("send (64 KiB, kibro-send): status %d, CPU share %.3f over %.0f s; receive/send "
                "%.2f\n",
                send.status, sendCpu, send.wallSeconds, captureCpu / std::max(1e-9, sendCpu));
    json["capture"] = QJsonObject{{"bytes", captureSize},
                                  {"exact", exact},
                                  {"idleKiB", qint64(capture.idleKiB)},
                                  {"peakKiB", qint64(capture.peakKiB)},
                                  {"cpuShare", captureCpu},
                                  {"sendCpuShare", sendCpu}};

    std::printf("\nThe silence end, from the last byte, less the silence (ms)\n");
    QJsonArray silenceRows;
    for (const auto silence : {1000ms, 3000ms}) {
        for (int run = 0; run < 3; ++run) {
            const double overrun = silenceOverrun(silence);
            std::printf("silence %5lld ms: %+.1f\n", static_cast<long long>(silence.count()),
                        overrun);
            silenceRows.append(
                QJsonObject{{"silenceMs", qint64(silence.count())}, {"overrunMs", overrun}});
        }
    }
    json["silence"] = silenceRows;

    std::printf("\nSTOP mid-file at 3840 bytes a second\n");
    QJsonArray stopRows;
    for (int run = 0; run < 5; ++run) {
        const StopResult stop = stopRun();
        std::printf("answered in %.2f ms, kept %lld bytes, exactly what came: %s\n", stop.ms,
                    static_cast<long long>(stop.kept), stop.prefix ? "yes" : "NO");
        stopRows.append(QJsonObject{{"ms", stop.ms}, {"kept", stop.kept}, {"exact", stop.prefix}});
    }
    json["stop"] = stopRows;

    if (parser.isSet("json")) {
        QFile file(parser.value("json"));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(json).toJson());
    }
    return 0;
}
