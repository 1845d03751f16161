#pragma once

#include "linepacer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace kibro {

class TransferLine;
class WakeTimer;

// Sends a file's bytes one at a time: before each byte the cancel check, a pause of ten
// ticks whenever the pocket computer has sent something, and a wait for an empty transmit
// buffer. It runs on the event loop: every wait returns to it and resumes on a signal or a
// timer, so the window stays responsive and an idle wait costs no CPU. The wait for the line
// wakes at sub-millisecond moments, so a real UART or USB adapter never runs dry.
// It reports and never asks: each byte as it goes, and the outcome once it has stopped. What
// the user is shown is the window's business, decided after the engine is done.
class TransferEngine : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Ready, Running, Completed, Cancelled, Failed, Abandoned };
    Q_ENUM(Outcome)

    static constexpr std::chrono::milliseconds kTickInterval{10};
    static constexpr int kPauseTicks = 10;

    // The line and the wake outlive the engine: a SerialLine and a PreciseWakeTimer, or what
    // tests drive by hand.
    TransferEngine(TransferLine& line, WakeTimer& wake, QObject* parent = nullptr);

    // Starts sending; an engine sends once.
    void start(QByteArray bytes);
    // CANCEL, or the window closed: the flag is seen before the next byte. A wait in progress
    // ends early so the outcome comes at once.
    void requestCancel();
    // The program ends: stop where we stand, tell nobody.
    void abandon();

    [[nodiscard]] Outcome outcome() const noexcept { return m_outcome; }
    [[nodiscard]] bool isRunning() const noexcept { return m_outcome == Outcome::Running; }
    [[nodiscard]] qint16 cancelFlag() const noexcept { return m_cancelFlag; }
    [[nodiscard]] qint16 tickCount() const noexcept { return m_tickCount; }
    // In the ten-tick pause the pocket computer's bytes call for.
    [[nodiscard]] bool isPausing() const { return m_tickTimer.isActive(); }
    [[nodiscard]] qint64 bytesSent() const noexcept { return m_index; }
    // Why the line failed, in the system's words.
    [[nodiscard]] QString failureReason() const { return m_failureReason; }

signals:
    // Each byte handed to the line, with the count so far; the view shows them less often.
    // Heard in the middle of a pass: a listener must not run an event loop.
    void byteWritten(qint64 sent);
    // Once, after the engine has stopped for good (never for abandon).
    void finished(kibro::TransferEngine::Outcome outcome);

private:
    enum class Stage { Top, CheckReceived, CheckTransmit, Write };

    void run();
    void onTick();
    void onWake();
    void startPause(Stage resumeAt);
    void waitForLine(LinePacer::Clock::time_point lookAt);
    void onLineActivity();
    void stopWaiting();
    void yieldThenRun();
    void finish(Outcome outcome);

    TransferLine& m_line;
    WakeTimer& m_wake;
    LinePacer m_pacer;
    LinePacer::Clock::time_point m_lookAt{};
    LinePacer::Clock::time_point m_clearedAt{};
    QByteArray m_bytes;
    QString m_failureReason;
    QElapsedTimer m_slice;
    qint64 m_index = 0;
    Stage m_stage = Stage::Top;
    Stage m_afterPause = Stage::Top;
    Outcome m_outcome = Outcome::Ready;
    // The pass wrote a byte and has not looked at the line since.
    bool m_justWrote = false;
    // Bytes written since the last wait.
    int m_writtenThisPass = 0;
    qint16 m_cancelFlag = 0;
    qint16 m_tickCount = 0;
    // Runs only while a pause lasts; found by its name.
    QTimer m_tickTimer{this};
    QTimer m_yield;
};

} // namespace kibro
