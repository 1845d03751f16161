#pragma once

#include "fileread.h"
#include "jobport.h"
#include "transferengine.h"
#include "transferline.h"
#include "waketimer.h"

#include <memory>

namespace kibro {

class SerialPort;

// One send: the port first, so that one that cannot be had is said before any read; then the
// file, a slice a turn of the event loop so that CANCEL is heard; then the engine; then one
// result. The send window and kibro-send start it, pass on a cancel and show what it reports.
class SendJob : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Ready, Opening, Reading, Sending, Done };
    Q_ENUM(Phase)
    enum class Failure { None, Port, File, FileTooLarge, Line };
    Q_ENUM(Failure)
    using PortUse = kibro::PortUse;

    struct Result
    {
        TransferEngine::Outcome outcome = TransferEngine::Outcome::Failed;
        Failure failure = Failure::None;
        qint64 sent = 0;
        QString reason; // the system's words, for stderr
    };

    SendJob(SerialPort& serial, PortUse use, QObject* parent = nullptr);

    // Once: the file as it is on disk when the port is open, or bytes in hand.
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
    // Known from Sending on.
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
    void readOn();
    void send(QByteArray bytes);
    void stopReading();
    void finish(const Result& result);

    SerialPort& m_serial;
    PortUse m_use;
    SerialLine m_line;
    PreciseWakeTimer m_wake;
    TransferEngine m_engine{m_line, m_wake, this};
    std::unique_ptr<WholeFileReader> m_reader;
    QTimer m_nextSlice;
    Phase m_phase = Phase::Ready;
    qint64 m_total = 0;
};

} // namespace kibro
