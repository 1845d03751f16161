#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <optional>

[[nodiscard]] QByteArray sha256Hex(const QByteArray& data);

// Runs the kibro-pocket simulator for a test: a pseudo-terminal that records what it receives.
class PocketSim
{
public:
    struct Summary
    {
        qint64 bytes = 0;
        QByteArray sha256Hex;
        double seconds = 0.0;
        // Bytes sent by --flood; -1 without it.
        qint64 flooded = -1;
    };

    PocketSim();
    ~PocketSim();
    PocketSim(const PocketSim&) = delete;
    PocketSim& operator=(const PocketSim&) = delete;

    // An empty linkPath puts the link into the simulator's own temporary directory.
    [[nodiscard]] bool start(const QString& linkPath, const QStringList& extraArgs = {});
    [[nodiscard]] QString errorString() const { return m_error; }
    [[nodiscard]] bool isRunning() const;
    [[nodiscard]] qint64 processId() const { return m_process.processId(); }

    [[nodiscard]] QString linkPath() const { return m_linkPath; }
    [[nodiscard]] QString devicePath() const { return m_devicePath; }

    [[nodiscard]] QByteArray received() const;
    [[nodiscard]] qint64 receivedCount() const;
    // Keeps the Qt event loop running, so a program under test in this process goes on working.
    [[nodiscard]] bool waitForCount(qint64 n, std::chrono::milliseconds timeout);
    // Arrival time of each received byte, in microseconds since the first one.
    [[nodiscard]] QList<qint64> timesMicros() const;
    // Whether the simulator has printed a line starting with text; keeps the Qt event loop
    // running while it waits.
    [[nodiscard]] bool waitForOutput(const QByteArray& text, std::chrono::milliseconds timeout);
    // User plus system CPU time the simulator has used so far.
    [[nodiscard]] std::optional<std::chrono::milliseconds> cpuTime() const;

    // Has the simulator take in, at once and whatever its rate, all that is pending in the
    // pty; returns what it has received by then. Keeps the Qt event loop running meanwhile.
    [[nodiscard]] std::optional<QByteArray> drain();

    // Arguments for start(): the simulator holds bytes to send until startSending(), then
    // pauses for an hour after every holdAt of them (0: never). Empty when the file cannot be
    // written.
    [[nodiscard]] QStringList sendArgs(const QByteArray& bytes, qint64 holdAt = 0);
    // Starts a send the simulator holds with --send-on-signal.
    [[nodiscard]] bool startSending();

    // Terminates the simulator, which first takes in what is still pending in the pty.
    std::optional<Summary> stop();
    // For --close-after and --exit-after; keeps the Qt event loop running while waiting.
    [[nodiscard]] std::optional<Summary> waitForExit(std::chrono::milliseconds timeout);

private:
    [[nodiscard]] std::optional<Summary> finish();
    [[nodiscard]] QString outPath() const;
    [[nodiscard]] QString timesPath() const;

    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_stdout;
    QString m_linkPath;
    QString m_devicePath;
    QString m_error;
};

// The simulator's pty as a device the user may not open, while this lives: no mode bits,
// and under root a real user of nobody, whom access() asks about. Opening is not refused.
class RefusedAccess
{
public:
    explicit RefusedAccess(const QString& device);
    ~RefusedAccess();
    RefusedAccess(const RefusedAccess&) = delete;
    RefusedAccess& operator=(const RefusedAccess&) = delete;

private:
    QByteArray m_path;
    unsigned m_mode = 0600;
    bool m_asNobody = false;
};
