#pragma once

#include "fileread.h"
#include "transferengine.h"
#include "transferline.h"
#include "waketimer.h"

#include <QObject>
#include <QString>

namespace kibro {

class SerialPort;

// One send, port to last byte: the port first, so that one that cannot be had is said at once
// and no large read comes before it; then the file, then the engine; one result at the end.
// The send window and kibro-send only start it, pass on a cancel and show what it reports.
class SendJob : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Ready, Opening, Reading, Sending, Done };
    Q_ENUM(Phase)
    enum class Failure { None, Port, File, FileTooLarge, Line };
    Q_ENUM(Failure)
    // Kept: the program's port, held open by its owner; only a lost one is opened again.
    // Opened: configured by the caller and opened for this send.
    enum class PortUse { Kept, Opened };

    struct Result
    {
        TransferEngine::Outcome outcome = TransferEngine::Outcome::Failed;
        Failure failure = Failure::None;
        qint64 sent = 0;
        // The system's words, for stderr.
        QString reason;
    };

    SendJob(SerialPort& serial, PortUse use, QObject* parent = nullptr);

    // A job sends once: the file as it is on disk once the port is open, or bytes in hand.
    void start(const NativePath& path);
    void startBytes(QByteArray bytes);
    void cancel();
    // The program ends: stop where it stands, report nothing.
    void abandon();

    [[nodiscard]] Phase phase() const noexcept { return m_phase; }
    [[nodiscard]] bool isBusy() const noexcept
    {
        return m_phase != Phase::Ready && m_phase != Phase::Done;
    }
    // The bytes to send, known from Sending on.
    [[nodiscard]] qint64 total() const noexcept { return m_total; }
    [[nodiscard]] TransferEngine& engine() noexcept { return m_engine; }

signals:
    // A listener may cancel or abandon the job from here.
    void phaseChanged(kibro::SendJob::Phase phase);
    // Once, unless abandoned.
    void finished(kibro::SendJob::Result result);

private:
    [[nodiscard]] bool enter(Phase phase);
    [[nodiscard]] bool openPort();
    void onLoaded(FileRead read);
    void send(QByteArray bytes);
    void onEngineFinished(TransferEngine::Outcome outcome);
    void finish(const Result& result);

    SerialPort& m_serial;
    PortUse m_use;
    SerialLine m_line;
    PreciseWakeTimer m_wake;
    FileLoader m_loader{this};
    TransferEngine m_engine{m_line, m_wake, this};
    Phase m_phase = Phase::Ready;
    qint64 m_total = 0;
};

} // namespace kibro
