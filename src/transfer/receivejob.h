#pragma once

#include "filenames.h"
#include "jobport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

namespace kibro {

class SerialPort;

namespace platform {
class SaveFile;
}

// One receive: every byte the port takes in, in order and unchanged, written as it comes to a
// new file that takes its name when the job ends, or to standard output. It ends on a silence
// once a byte has come, on a stop, or when the line goes; what came is kept each time. The
// receive window and kibro-receive start it, pass on a stop and show what it reports.
class ReceiveJob : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Ready, Opening, Waiting, Receiving, Done };
    Q_ENUM(Phase)
    enum class Ending { Silence, Stopped, LineLost, Failed };
    Q_ENUM(Ending)
    // Exists: the name is taken and the user has not said to replace it.
    enum class Failure { None, Port, File, Exists };
    Q_ENUM(Failure)

    struct Result
    {
        Ending ending = Ending::Failed;
        Failure failure = Failure::None;
        qint64 received = 0;
        // Whether what came is in the file under its name (or went to standard output).
        bool kept = false;
        QString reason; // the system's words, for stderr
    };

    static constexpr std::chrono::milliseconds kDefaultSilence{3000};

    ReceiveJob(SerialPort& serial, PortUse use, QObject* parent = nullptr);
    ~ReceiveJob() override;

    // Before start: how long the line stays quiet after a byte before the job ends.
    void setSilence(std::chrono::milliseconds silence) { m_silence = silence; }
    [[nodiscard]] std::chrono::milliseconds silence() const noexcept { return m_silence; }

    // Once: into a new file at path, replacing one there only with overwrite; an empty path
    // is standard output. Bytes that came before are not part of it.
    void start(const NativePath& path, bool overwrite);
    // What came so far is kept; nothing the port took in before this is lost.
    void stop();
    // The program ends: stop where it stands, keep nothing, report nothing.
    void abandon();

    [[nodiscard]] Phase phase() const noexcept { return m_phase; }
    [[nodiscard]] bool isBusy() const noexcept
    {
        return m_phase != Phase::Ready && m_phase != Phase::Done;
    }
    [[nodiscard]] qint64 received() const noexcept { return m_received; }
    // Since the first byte came; 0 before.
    [[nodiscard]] std::chrono::milliseconds sinceFirstByte() const;

signals:
    // A listener may stop or abandon the job from here.
    void phaseChanged(kibro::ReceiveJob::Phase phase);
    void receivedChanged(qint64 received);
    // Once, unless abandoned.
    void finished(kibro::ReceiveJob::Result result);

private:
    [[nodiscard]] bool enter(Phase phase);
    [[nodiscard]] bool openPort();
    void onActivity();
    // Whether the file took all that came.
    [[nodiscard]] bool take(bool fromDriver);
    void onSilenceTimeout();
    void finish(Ending ending);
    void fail(Failure failure, const QString& reason);
    void report(const Result& result);

    SerialPort& m_serial;
    PortUse m_use;
    std::unique_ptr<platform::SaveFile> m_file;
    std::chrono::milliseconds m_silence = kDefaultSilence;
    QTimer m_silenceTimer;
    QElapsedTimer m_firstByte;
    QElapsedTimer m_lastByte;
    Phase m_phase = Phase::Ready;
    qint64 m_received = 0;
};

} // namespace kibro
