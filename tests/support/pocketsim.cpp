#include "pocketsim.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto startTimeout = 10s;
constexpr auto stopTimeout = 10s;

[[nodiscard]] int toMsecs(std::chrono::milliseconds duration)
{
    return int(duration.count());
}

[[nodiscard]] QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A slowed peer for a whole run (CI's second pass), set in the environment: every
// simulator's receive rate, and its send rate when it sends, capped; every answer late. A
// test that holds the program where it needs it passes either way; one that races the peer
// fails here.
[[nodiscard]] QStringList slowedArguments(QStringList arguments)
{
    bool ok = false;
    const qint64 cap = qEnvironmentVariableIntValue("KIBRO_TEST_POCKET_RATE", &ok);
    const auto capRate = [&](const QString& rate) {
        const qsizetype at = arguments.indexOf(rate);
        const qint64 own = at >= 0 ? arguments.value(at + 1).toLongLong() : 0;
        const QString capped = QString::number(own > 0 ? std::min(own, cap) : cap);
        if (at >= 0)
            arguments[at + 1] = capped;
        else
            arguments << rate << capped;
    };
    if (ok && cap > 0) {
        capRate(QStringLiteral("--rate"));
        if (arguments.contains(QStringLiteral("--send")))
            capRate(QStringLiteral("--send-rate"));
    }
    const int delay = qEnvironmentVariableIntValue("KIBRO_TEST_POCKET_ANSWER_DELAY", &ok);
    if (ok && delay > 0 && !arguments.contains(QStringLiteral("--answer-delay")))
        arguments << QStringLiteral("--answer-delay") << QString::number(delay);
    return arguments;
}

} // namespace

QByteArray sha256Hex(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

PocketSim::PocketSim()
{
    m_process.setProgram(QStringLiteral(KIBRO_POCKET_EXE));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A crashed test must not leave the simulator running.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

PocketSim::~PocketSim()
{
    if (isRunning())
        stop();
}

bool PocketSim::start(const QString& linkPath, const QStringList& extraArgs)
{
    if (isRunning()) {
        m_error = QStringLiteral("already running");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory: ") + m_dir.errorString();
        return false;
    }
    QFile::remove(outPath());
    QFile::remove(timesPath());
    m_stdout.clear();
    m_devicePath.clear();
    m_linkPath = linkPath.isEmpty() ? m_dir.filePath(QStringLiteral("pocket")) : linkPath;
    m_process.setArguments(QStringList{QStringLiteral("--link"), m_linkPath,
                                       QStringLiteral("--out"), outPath(),
                                       QStringLiteral("--times"), timesPath()} +
                           slowedArguments(extraArgs));
    m_process.start(QIODevice::ReadOnly);

    const QDeadlineTimer deadline(startTimeout);
    while (!m_stdout.contains("\nready\n")) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            m_error = QStringLiteral("no 'ready' from kibro-pocket: ") + m_process.errorString() +
                      QStringLiteral("; output: ") + QString::fromUtf8(m_stdout);
            m_process.kill();
            m_process.waitForFinished();
            return false;
        }
        m_stdout += m_process.readAllStandardOutput();
    }
    for (const QByteArray& line : m_stdout.split('\n')) {
        if (line.startsWith("device "))
            m_devicePath = QString::fromUtf8(line.mid(7));
    }
    return true;
}

bool PocketSim::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

QByteArray PocketSim::received() const
{
    return readAll(outPath());
}

qint64 PocketSim::receivedCount() const
{
    return QFileInfo(outPath()).size();
}

bool PocketSim::waitForCount(qint64 n, std::chrono::milliseconds timeout)
{
    // Returns early once the simulator has exited, since nothing more can arrive.
    const bool settled = QTest::qWaitFor(
        [&] { return receivedCount() >= n || m_process.state() == QProcess::NotRunning; },
        toMsecs(timeout));
    return settled && receivedCount() >= n;
}

bool PocketSim::waitForOutput(const QByteArray& text, std::chrono::milliseconds timeout)
{
    const auto said = [&] {
        m_stdout += m_process.readAllStandardOutput();
        return m_stdout.startsWith(text) || m_stdout.contains('\n' + text);
    };
    return QTest::qWaitFor(said, toMsecs(timeout)) || said();
}

QList<qint64> PocketSim::timesMicros() const
{
    QList<qint64> times;
    for (const QByteArray& line : readAll(timesPath()).split('\n')) {
        if (!line.isEmpty())
            times.append(line.toLongLong());
    }
    return times;
}

std::optional<std::chrono::milliseconds> PocketSim::cpuTime() const
{
    const qint64 pid = m_process.processId();
    if (pid <= 0)
        return std::nullopt;
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    // The command name may contain spaces; the fields after it do not.
    const qsizetype nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    constexpr qsizetype utimeIndex = 11; // field 14 of proc(5), counted from the state field
    if (fields.size() <= utimeIndex + 1)
        return std::nullopt;
    const qint64 ticks = fields[utimeIndex].toLongLong() + fields[utimeIndex + 1].toLongLong();
    return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

QStringList PocketSim::sendArgs(const QByteArray& bytes, qint64 holdAt)
{
    const QString path = m_dir.filePath(QStringLiteral("to-send.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    QStringList args{QStringLiteral("--send"), path, QStringLiteral("--send-on-signal")};
    if (holdAt > 0)
        args << QStringLiteral("--pause-every") << QString::number(holdAt)
             << QStringLiteral("--pause") << QStringLiteral("3600000");
    return args;
}

bool PocketSim::startSending()
{
    return isRunning() && ::kill(pid_t(m_process.processId()), SIGUSR2) == 0;
}

std::optional<QByteArray> PocketSim::drain()
{
    if (!isRunning())
        return received();
    m_stdout += m_process.readAllStandardOutput();
    const qsizetype before = m_stdout.count("drained ");
    ::kill(pid_t(m_process.processId()), SIGUSR1);
    const bool drained = QTest::qWaitFor(
        [&] {
            m_stdout += m_process.readAllStandardOutput();
            return m_stdout.count("drained ") > before || !isRunning();
        },
        toMsecs(stopTimeout));
    if (!drained) {
        m_error = QStringLiteral("kibro-pocket did not drain");
        return std::nullopt;
    }
    return received();
}

std::optional<PocketSim::Summary> PocketSim::stop()
{
    if (isRunning()) {
        m_process.terminate();
        if (!m_process.waitForFinished(toMsecs(stopTimeout))) {
            m_process.kill();
            m_process.waitForFinished();
            m_error = QStringLiteral("kibro-pocket ignored SIGTERM");
            return std::nullopt;
        }
    }
    return finish();
}

std::optional<PocketSim::Summary> PocketSim::waitForExit(std::chrono::milliseconds timeout)
{
    if (!QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; },
                         toMsecs(timeout))) {
        m_error = QStringLiteral("kibro-pocket still running");
        return std::nullopt;
    }
    return finish();
}

std::optional<PocketSim::Summary> PocketSim::finish()
{
    m_stdout += m_process.readAllStandardOutput();
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0) {
        m_error = QStringLiteral("kibro-pocket failed with exit code %1").arg(m_process.exitCode());
        return std::nullopt;
    }
    Summary summary{-1, {}, -1.0, -1};
    for (const QByteArray& line : m_stdout.split('\n')) {
        bool ok = true;
        if (line.startsWith("bytes "))
            summary.bytes = line.mid(6).toLongLong(&ok);
        else if (line.startsWith("sha256 "))
            summary.sha256Hex = line.mid(7);
        else if (line.startsWith("seconds "))
            summary.seconds = line.mid(8).toDouble(&ok);
        else if (line.startsWith("flooded "))
            summary.flooded = line.mid(8).toLongLong(&ok);
        if (!ok) {
            summary.bytes = -1;
            break;
        }
    }
    if (summary.bytes < 0 || summary.sha256Hex.size() != 64 || summary.seconds < 0) {
        m_error = QStringLiteral("no summary in: ") + QString::fromUtf8(m_stdout);
        return std::nullopt;
    }
    return summary;
}

QString PocketSim::outPath() const
{
    return m_dir.filePath(QStringLiteral("received.bin"));
}

QString PocketSim::timesPath() const
{
    return m_dir.filePath(QStringLiteral("times.txt"));
}

RefusedAccess::RefusedAccess(const QString& device) : m_path(QFile::encodeName(device))
{
    struct stat status
    {
    };
    if (::stat(m_path.constData(), &status) == 0)
        m_mode = status.st_mode & 07777;
    (void)::chmod(m_path.constData(), 0);
    // Root may read and write anything, but access() asks as the real user.
    if (::getuid() == 0)
        m_asNobody = ::setreuid(65534, static_cast<uid_t>(-1)) == 0;
}

RefusedAccess::~RefusedAccess()
{
    if (m_asNobody)
        (void)::setreuid(0, static_cast<uid_t>(-1));
    (void)::chmod(m_path.constData(), m_mode);
}
