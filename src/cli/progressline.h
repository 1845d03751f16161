#pragma once

#include <QString>

#include <chrono>
#include <deque>
#include <utility>

namespace kibro {

// What the progress line shows at one moment.
struct Progress
{
    qint64 sent = 0;
    qint64 total = 0;
    // Bytes a second of late; 0 while not yet known.
    double rate = 0.0;
    bool paused = false;
};

// The progress line for a terminal columns wide. At most columns - 1 characters, so the cursor
// never wraps to a new line; what tells least goes first: the rate, the long pause note, the
// time left, the words.
[[nodiscard]] QString progressText(const Progress& progress, int columns);

// The line while receiving: the count, the rate of late and the time since the first byte,
// shortened from the right for a narrow terminal; before the first byte, what it waits for.
[[nodiscard]] QString receiveProgressText(qint64 received, double rate,
                                          std::chrono::milliseconds since, int columns);

// What to write to show text in place of the shownBefore characters on the line: erased by
// escape, or on a dumb terminal overwritten with spaces. An empty text clears the line.
[[nodiscard]] QString redrawn(const QString& text, qsizetype shownBefore, bool dumb);

// The rate over the last few seconds, from the counts seen at each redraw: once the pocket
// computer holds every byte, the time left follows within seconds instead of creeping up.
class RecentRate
{
public:
    static constexpr std::chrono::milliseconds kSpan{5000};

    void add(std::chrono::milliseconds at, qint64 sent);
    [[nodiscard]] double bytesPerSecond() const;

private:
    std::deque<std::pair<std::chrono::milliseconds, qint64>> m_samples;
};

} // namespace kibro
