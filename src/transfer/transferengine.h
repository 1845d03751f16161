#pragma once

#include "linepacer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

namespace kibro {

class SerialPort;
class TransferLine;
class WakeTimer;

// What the engine needs from the window that shows a transfer.
class TransferView
{
public:
    virtual ~TransferView() = default;
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    // Shows the cancel acknowledgement and returns when the user has dismissed it.
    virtual void acknowledgeCancel() = 0;
    // Shows that the transfer failed and returns when the user has dismissed it.
    virtual void reportFailure() = 0;
    // The transfer is over, whatever the outcome: the window goes.
    virtual void unload() = 0;
};

// Sends a file's bytes one at a time: before each byte the cancel check, a pause of ten
// ticks whenever the pocket computer has sent something, and a wait for an empty transmit
// buffer. It runs on the event loop: every wait returns to it and resumes on a signal or a
// timer, so the window stays responsive and an idle wait costs no CPU. The wait for the line
// wakes at sub-millisecond moments, so a real UART or USB adapter never runs dry.
class TransferEngine : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Running, Completed, Cancelled, Failed, Abandoned };
    Q_ENUM(Outcome)

    static constexpr std::chrono::milliseconds kTickInterval{10};
    static constexpr int kPauseTicks = 10;

    TransferEngine(SerialPort& serial, TransferView& view, QObject* parent = nullptr);
    // Any line and any wake: what tests drive by hand.
    TransferEngine(TransferLine& line, WakeTimer& wake, TransferView& view,
                   QObject* parent = nullptr);
    ~TransferEngine() override;

    // Starts sending; the view hears of the end through unload().
    void start(QByteArray bytes);

    // CANCEL: the flag is seen before the next byte. A wait in progress ends early so the
    // acknowledgement comes at once.
    void requestCancel();
    // The window was closed: no further byte goes out, then the cancel is acknowledged.
    void windowClosed();
    // The program ends: stop where we stand, tell nobody.
    void abandon();

    [[nodiscard]] Outcome outcome() const noexcept { return m_outcome; }
    [[nodiscard]] bool isRunning() const noexcept { return m_outcome == Outcome::Running; }
    [[nodiscard]] qint16 cancelFlag() const noexcept { return m_cancelFlag; }
    [[nodiscard]] qint16 tickCount() const noexcept { return m_tickCount; }
    [[nodiscard]] qint64 bytesSent() const noexcept { return m_index; }
    [[nodiscard]] QTimer& tickTimer() noexcept { return m_tickTimer; }

    void onTick();

signals:
    void outcomeChanged(kibro::TransferEngine::Outcome outcome);
    // Each byte handed to the line, with the count so far; the view shows them less often.
    void byteWritten(qint64 sent);

private:
    enum class Stage { Top, CheckReceived, CheckTransmit, Write };

    void setUp();
    void run();
    void startPause(Stage resumeAt);
    void waitForLine(LinePacer::Clock::time_point lookAt);
    void onLineActivity();
    void stopWaiting();
    void yieldThenRun();
    void finish(Outcome outcome);

    std::unique_ptr<TransferLine> m_ownLine;
    std::unique_ptr<WakeTimer> m_ownWake;
    TransferLine& m_line;
    WakeTimer& m_wake;
    TransferView& m_view;
    LinePacer m_pacer;
    LinePacer::Clock::time_point m_lookAt{};
    LinePacer::Clock::time_point m_clearedAt{};
    QByteArray m_bytes;
    QElapsedTimer m_slice;
    qint64 m_index = 0;
    Stage m_stage = Stage::Top;
    Outcome m_outcome = Outcome::Running;
    bool m_started = false;
    bool m_running = false;
    bool m_waiting = false;
    bool m_pausing = false;
    bool m_windowClosed = false;
    // The pass wrote a byte and has not looked at the line since.
    bool m_justWrote = false;
    // Bytes written since the last wait.
    int m_writtenThisPass = 0;
    qint16 m_cancelFlag = 0;
    qint16 m_tickCount = 0;
    Stage m_afterPause = Stage::Top;
    QTimer m_tickTimer;
    QTimer m_yield;
};

} // namespace kibro
