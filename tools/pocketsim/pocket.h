#pragma once

#include "pseudoterminal.h"
#include "tokenbucket.h"
#include "uniquefd.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <chrono>
#include <csignal>
#include <optional>

struct PocketOptions
{
    QString linkPath;
    QString outPath;
    QString timesPath;
    qint64 rate = 0;
    std::optional<qint64> answerAfter;
    QByteArray answer;
    // How long the answer takes to come back once due: a slow peer, for tests that must
    // not depend on how fast this one is.
    std::chrono::milliseconds answerDelay{0};
    std::optional<qint64> closeAfter;
    std::optional<qint64> exitAfter;
    // A peer that never stops talking: bytes sent without pause, at most floodRate a second
    // (0: as fast as the line takes them), until floodBytes have gone when given.
    bool flood = false;
    qint64 floodRate = 0;
    std::optional<qint64> floodBytes;
    // A pocket computer saving to the line: these bytes, through the flood's pacing, once
    // SIGUSR2 comes when sendOnSignal, with a pause after every pauseEvery bytes.
    std::optional<QByteArray> send;
    bool sendOnSignal = false;
    qint64 pauseEvery = 0;
    std::chrono::milliseconds pause{0};
};

// Must be blocked in every thread before any thread starts, so that signalfd sees them.
// SIGUSR1 takes in what is pending and goes on; SIGUSR2 starts a send that waits for it; the
// others end the run.
[[nodiscard]] sigset_t terminationSignals();

// The simulated pocket computer: receives from the pseudo-terminal master until told to stop.
class Pocket
{
public:
    explicit Pocket(PocketOptions options);
    ~Pocket();
    Pocket(const Pocket&) = delete;
    Pocket& operator=(const Pocket&) = delete;

    // Returns the process exit code.
    [[nodiscard]] int run();

private:
    using Clock = std::chrono::steady_clock;
    enum class Step { Continue, Finished, Failed };

    [[nodiscard]] bool setUp();
    [[nodiscard]] bool createLink();
    void removeLink();
    [[nodiscard]] Step readMaster();
    void drainPending();
    [[nodiscard]] Step afterReceive();
    void record(const char* data, qsizetype size, Clock::time_point stamp);
    void answerDue(Clock::time_point now);
    void sendAnswer();
    [[nodiscard]] bool floodFinished() const;
    [[nodiscard]] bool floodWanted(Clock::time_point now);
    void sendFlood();
    void printSummary();
    [[nodiscard]] qint64 untilNextEvent() const;
    [[nodiscard]] qint64 untilStop() const;

    PocketOptions m_options;
    std::optional<PseudoTerminal> m_pty;
    UniqueFd m_signalFd;
    UniqueFd m_outFd;
    UniqueFd m_timesFd;
    bool m_linked = false;
    TokenBucket m_bucket;
    Clock::time_point m_hangUpUntil{};
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_total = 0;
    Clock::time_point m_first{};
    Clock::time_point m_last{};
    bool m_answered = false;
    std::optional<Clock::time_point> m_answerAt;
    TokenBucket m_floodBucket;
    qint64 m_flooded = 0;
    Clock::time_point m_pausedUntil{};
};
