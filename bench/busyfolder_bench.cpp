// The program showing a big folder that never rests: 20,000 files and one file created and
// deleted 20 times a second by another process. Measures the idle program's CPU share there
// (in the same folder at rest, and growing by 20 files a second), then a transfer behind the driver
// model (a 16550 at 9600 bit/s, 4 KiB) with the busy folder shown against a quiet one, in child
// processes that preload the model. Prints one line a figure.
#include "filechooser.h"
#include "mainwindow.h"
#include "pocketsim.h"
#include "sendwindow.h"
#include "testdata.h"
#include "teststore.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kBaud = 9600;
constexpr qsizetype kFileSize = 4096;

double cpuSeconds()
{
    return std::chrono::duration<double>(testdata::processCpu()).count();
}

// Runs the event loop until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || std::chrono::milliseconds(clock.elapsed()) > timeout)
            loop.quit();
    });
    poll.start(20ms);
    if (!condition())
        loop.exec();
    return condition();
}

void idle(std::chrono::milliseconds time)
{
    waitUntil([] { return false; }, time);
}

bool fillFolder(const QString& folder, int files)
{
    for (int i = 0; i < files; ++i) {
        QFile file(folder + QStringLiteral("/F%1.BAS").arg(i, 6, 10, QChar(u'0')));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    return true;
}

// The other process: a file created and deleted `rate` times a second, a new name each time,
// as a program writing temporary files does; or created and kept, as a download folder grows.
int churn(const QString& folder, int rate, bool keep)
{
    const QByteArray base = QFile::encodeName(folder) + "/churn-";
    QTimer tick;
    int made = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const QByteArray path = base + QByteArray::number(made++) + ".tmp";
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0)
            ::close(fd);
        if (!keep)
            ::unlink(path.constData());
    });
    tick.start(std::chrono::milliseconds(1000 / rate));
    return QCoreApplication::exec();
}

class Churn
{
public:
    Churn(const QString& folder, int rate, bool keep = false)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        QStringList args{QStringLiteral("--churn"), folder, QStringLiteral("--rate"),
                         QString::number(rate)};
        if (keep)
            args << QStringLiteral("--keep");
        m_process.start(QCoreApplication::applicationFilePath(), args);
        m_process.waitForStarted();
    }
    ~Churn()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    Churn(const Churn&) = delete;
    Churn& operator=(const Churn&) = delete;

private:
    QProcess m_process;
};

// The main window shown on one folder, with COM1 on a simulated pocket computer.
class Session
{
public:
    explicit Session(const QString& folder)
    {
        m_ok = m_sim.start(m_store.directory() + QStringLiteral("/COM1"));
        m_store.mapPortsAway();
        m_store.mapPort(1, m_sim.linkPath());
        qputenv("KIBRO_DRIVER_MODEL_DEVICE", m_sim.linkPath().toLocal8Bit());
        m_store.set(QStringLiteral("Startup/Port"), QStringLiteral("1"));
        m_store.set(QStringLiteral("Startup/Settings"), QStringLiteral("%1,N,8,1").arg(kBaud));
        m_window = std::make_unique<kibro::MainWindow>();
        m_window->setEndProgram([] {});
        m_window->startUp();
        m_window->show();
        m_ok =
            m_ok && m_window->serialPort().isOpen() && m_window->directoryList()->setPath(folder);
        QObject::connect(m_window->directoryList(), &kibro::DirectoryList::listed,
                         [this] { ++m_listings; });
    }

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] int listings() const { return m_listings; }

    // START on a file of the shown folder; the time until the pocket computer has all of it.
    std::optional<double> send(const QString& folder)
    {
        const QByteArray bytes(kFileSize, 'x');
        QFile file(folder + QStringLiteral("/BENCH.BIN"));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return std::nullopt;
        file.close();
        m_window->directoryList()->setPath(folder);
        if (!m_window->fileList()->selectFile(QStringLiteral("BENCH.BIN")))
            return std::nullopt;
        QPointer<kibro::SendWindow> window = m_window->sendWindow();
        idle(500ms);
        if (!window)
            return std::nullopt;
        QElapsedTimer wall;
        wall.start();
        window->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        if (!waitUntil([&] { return m_sim.receivedCount() >= bytes.size(); }, 120s))
            return std::nullopt;
        return wall.nsecsElapsed() / 1e9;
    }

private:
    TestStore m_store;
    PocketSim m_sim;
    std::unique_ptr<kibro::MainWindow> m_window;
    bool m_ok = false;
    int m_listings = 0;
};

int childTransfer(const QString& folder)
{
    Session session(folder);
    const auto seconds = session.ok() ? session.send(folder) : std::nullopt;
    if (!seconds)
        return 3;
    std::printf("RESULT %.6f\n", *seconds);
    return 0;
}

std::optional<double> modelledTransfer(const QString& folder)
{
    QTemporaryDir dir;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KIBRO_DRIVERMODEL_LIBRARY));
    env.insert(QStringLiteral("KIBRO_DRIVER_MODEL"), QStringLiteral("16550"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--transfer"), folder});
    if (!child.waitForFinished(300'000) || child.exitCode() != 0)
        return std::nullopt;
    const QStringList lines =
        QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    if (lines.isEmpty() || !lines.last().startsWith(QStringLiteral("RESULT ")))
        return std::nullopt;
    return lines.last().section(u' ', 1, 1).toDouble();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// The idle program's CPU share over the given time, and how often it listed the folder.
void measureIdle(const QString& folder, const char* label, std::chrono::seconds time)
{
    Session session(folder);
    if (!session.ok()) {
        std::printf("%s: the program did not start\n", label);
        return;
    }
    idle(2s);
    const int listingsBefore = session.listings();
    const double before = cpuSeconds();
    idle(time);
    const double share = (cpuSeconds() - before) / static_cast<double>(time.count());
    std::printf("idle, %s: CPU share %.3f, %d listings in %lld s\n", label, share,
                session.listings() - listingsBefore, static_cast<long long>(time.count()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    // Only the transfer child stands behind the model, never what it starts.
    qunsetenv("LD_PRELOAD");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption filesOption(QStringLiteral("files"),
                                   QStringLiteral("Files in the busy folder (20000)."),
                                   QStringLiteral("n"), QStringLiteral("20000"));
    QCommandLineOption rateOption(QStringLiteral("rate"),
                                  QStringLiteral("Files created and deleted a second (20)."),
                                  QStringLiteral("n"), QStringLiteral("20"));
    QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                     QStringLiteral("Idle time measured (20)."),
                                     QStringLiteral("s"), QStringLiteral("20"));
    QCommandLineOption repeatOption(QStringLiteral("repeat"),
                                    QStringLiteral("Transfers of each kind (3)."),
                                    QStringLiteral("n"), QStringLiteral("3"));
    QCommandLineOption churnOption(QStringLiteral("churn"), QStringLiteral("Internal."),
                                   QStringLiteral("folder"));
    QCommandLineOption keepOption(QStringLiteral("keep"), QStringLiteral("Internal."));
    QCommandLineOption transferOption(QStringLiteral("transfer"), QStringLiteral("Internal."),
                                      QStringLiteral("folder"));
    parser.addOptions({filesOption, rateOption, secondsOption, repeatOption, churnOption,
                       keepOption, transferOption});
    parser.process(app);
    const int rate = std::max(1, parser.value(rateOption).toInt());
    if (parser.isSet(churnOption))
        return churn(parser.value(churnOption), rate, parser.isSet(keepOption));
    if (parser.isSet(transferOption))
        return childTransfer(parser.value(transferOption));

    QTemporaryDir busy;
    QTemporaryDir quiet;
    if (!fillFolder(busy.path(), parser.value(filesOption).toInt())) {
        std::fprintf(stderr, "cannot fill %s\n", qPrintable(busy.path()));
        return 1;
    }
    const std::chrono::seconds seconds(std::max(1, parser.value(secondsOption).toInt()));
    measureIdle(busy.path(), "big folder at rest", seconds);
    std::vector<double> busyTimes;
    std::vector<double> quietTimes;
    {
        const Churn churning(busy.path(), rate);
        measureIdle(busy.path(), "big folder churning", seconds);
        for (int i = 0; i < parser.value(repeatOption).toInt(); ++i) {
            const auto busyTime = modelledTransfer(busy.path());
            const auto quietTime = modelledTransfer(quiet.path());
            if (!busyTime || !quietTime) {
                std::fprintf(stderr, "a transfer failed\n");
                return 1;
            }
            std::printf("transfer %d: busy %.2f s, quiet %.2f s\n", i + 1, *busyTime, *quietTime);
            std::fflush(stdout);
            busyTimes.push_back(*busyTime);
            quietTimes.push_back(*quietTime);
        }
    }
    {
        const Churn growing(busy.path(), rate, true);
        measureIdle(busy.path(), "big folder growing", seconds);
    }
    if (busyTimes.empty())
        return 0;
    const double busyMedian = median(busyTimes);
    const double quietMedian = median(quietTimes);
    std::printf("transfer, 4 KiB at %d bit/s behind a 16550 model: busy %.2f s, quiet %.2f s "
                "(medians), busy / quiet %.3f, slowest busy %.2f s\n",
                kBaud, busyMedian, quietMedian, busyMedian / quietMedian,
                *std::max_element(busyTimes.begin(), busyTimes.end()));
    return 0;
}
