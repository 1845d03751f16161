#include "progressline.h"

#include <QStringList>

#include <algorithm>

namespace kibro {

namespace {

QString duration(double seconds)
{
    const auto whole = static_cast<qint64>(seconds + 0.5);
    if (whole < 60)
        return QStringLiteral("%1 s").arg(whole);
    if (whole < 3600)
        return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60);
    return QStringLiteral("%1 h %2 min").arg(whole / 3600).arg(whole % 3600 / 60);
}

} // namespace

QString progressText(const Progress& progress, int columns)
{
    const qint64 percent = progress.total > 0 ? progress.sent * 100 / progress.total : 100;
    const QString count =
        QStringLiteral("%1 of %2 bytes (%3%)").arg(progress.sent).arg(progress.total).arg(percent);
    const QString shortCount =
        QStringLiteral("%1/%2 (%3%)").arg(progress.sent).arg(progress.total).arg(percent);
    QString rate;
    QString left;
    if (progress.rate > 0) {
        rate = QStringLiteral(", %1 B/s").arg(qRound64(progress.rate));
        left = QStringLiteral(", %1 left")
                   .arg(duration((progress.total - progress.sent) / progress.rate));
    }
    const QString note =
        progress.paused ? QStringLiteral(", paused by the pocket computer") : QString();
    const QString shortNote = progress.paused ? QStringLiteral(", paused") : QString();
    // From the whole line down, each giving up what tells least.
    const QStringList choices = {count + rate + left + note, count + left + note,
                                 count + left + shortNote,   count + shortNote,
                                 shortCount + shortNote,     shortCount};
    const qsizetype room = std::max(0, columns - 1);
    for (const QString& line : choices) {
        if (line.size() <= room)
            return line;
    }
    return shortCount.left(room);
}

QString receiveProgressText(qint64 received, double rate, std::chrono::milliseconds since,
                            int columns)
{
    const qsizetype room = std::max(0, columns - 1);
    if (received == 0)
        return QStringLiteral("waiting for the pocket computer (Ctrl-C to stop)").left(room);
    QString line = QStringLiteral("received %1 bytes in %2")
                       .arg(received)
                       .arg(duration(since.count() / 1000.0));
    const QString withRate = line + QStringLiteral(", %1 B/s").arg(qRound64(rate));
    return (rate > 0 && withRate.size() <= room ? withRate : line).left(room);
}

QString redrawn(const QString& text, qsizetype shownBefore, bool dumb)
{
    if (!dumb)
        return QStringLiteral("\r\033[K") + text;
    QString line = u'\r' + text.leftJustified(shownBefore);
    // Cleared: back to the start, where the next line begins.
    if (text.isEmpty())
        line += u'\r';
    return line;
}

void RecentRate::add(std::chrono::milliseconds at, qint64 sent)
{
    m_samples.emplace_back(at, sent);
    // One sample at or before the span's start stays, so the span is whole.
    while (m_samples.size() > 2 && m_samples[1].first <= at - kSpan)
        m_samples.pop_front();
}

double RecentRate::bytesPerSecond() const
{
    if (m_samples.size() < 2)
        return 0.0;
    const double seconds = (m_samples.back().first - m_samples.front().first).count() / 1000.0;
    // Less than that says more about the timer than about the line.
    return seconds >= 0.2 ? (m_samples.back().second - m_samples.front().second) / seconds : 0.0;
}

} // namespace kibro
