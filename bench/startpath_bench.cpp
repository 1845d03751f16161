// START on one large file, pressed as the user presses it: peak memory against the file's size,
// the longest the event loop stood still from START to the first byte and until the window has
// gone, and how long CANCEL takes to answer while the file is being read. One size a process,
// so that the peak belongs to this file alone:
//   kibro_startpath_bench [BYTES]   (default: the largest size a transfer can count)
// The file is sparse: the disk is not measured; the copying and the window's answers are.
#include "programrig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

constexpr auto kLongest = 600s;
// When CANCEL is pressed after START in the second run: well inside the read of a large file.
constexpr auto kCancelAfter = 30ms;

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The longest gap between turns of the event loop, seen by a timer that asks for every
// millisecond.
class StallWatch
{
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1ms);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_since.nsecsElapsed());
            m_since.start();
        });
        m_since.start();
        m_timer.start();
    }
    [[nodiscard]] double longestMs() const { return m_longest / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

bool waitFor(const std::function<bool()>& done)
{
    return QTest::qWaitFor(done, int(std::chrono::milliseconds(kLongest).count()));
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    const qint64 size =
        argc > 1 ? QByteArray(argv[1]).toLongLong() : std::numeric_limits<qint32>::max();

    ProgramRig rig;
    if (!rig.plugIn()) {
        std::fprintf(stderr, "no simulated pocket computer: %s\n", qPrintable(rig.sim().errorString()));
        return 1;
    }
    rig.startUp();
    const QString name = QStringLiteral("LARGE.BIN");
    {
        QFile file(rig.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || !file.resize(size)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }

    // START, and CANCEL once the first byte has gone out.
    const long before = peakResidentKiB();
    QPointer<kibro::SendWindow> window = rig.open(name);
    if (!window)
        return 1;
    QElapsedTimer firstByte;
    double firstByteSeconds = 0;
    double stallMs = 0;
    {
        StallWatch watch;
        QTimer::singleShot(0, window, [&] {
            firstByte.start();
            QTest::mouseClick(ProgramRig::startButton(window), Qt::LeftButton);
        });
        if (!waitFor([&] { return !window || window->engine().bytesSent() > 0; }) || !window) {
            std::fprintf(stderr, "the transfer did not start: %s\n",
                         qPrintable(rig.messages().describe()));
            return 1;
        }
        firstByteSeconds = firstByte.nsecsElapsed() / 1e9;
        QTest::mouseClick(ProgramRig::cancelButton(window), Qt::LeftButton);
        if (!waitFor([&] { return window.isNull(); }))
            return 1;
        stallMs = watch.longestMs();
    }
    const long peak = peakResidentKiB();

    // CANCEL pressed while the file is read: how long until the cancel box.
    window = rig.open(name);
    if (!window)
        return 1;
    const qsizetype messagesBefore = rig.messages().count();
    QElapsedTimer sinceStart;
    QTimer::singleShot(0, window, [&] {
        sinceStart.start();
        QTest::mouseClick(ProgramRig::startButton(window), Qt::LeftButton);
    });
    double answerMs = -1;
    qint64 sentBeforeCancel = -1;
    QTimer::singleShot(kCancelAfter, window, [&] {
        sentBeforeCancel = window->engine().bytesSent();
        QTest::mouseClick(ProgramRig::cancelButton(window), Qt::LeftButton);
    });
    rig.messages().onMessage([&](const MessageRecorder::Message&) {
        if (answerMs < 0)
            answerMs = sinceStart.nsecsElapsed() / 1e6 -
                       std::chrono::duration<double, std::milli>(kCancelAfter).count();
    });
    if (!waitFor([&] { return window.isNull(); }))
        return 1;
    const bool cancelBox = rig.messages().count() > messagesBefore &&
                           rig.messages().messages().at(messagesBefore).text == testdata::kCancelText;

    std::printf("bytes %lld\n", static_cast<long long>(size));
    std::printf("START to first byte %.3f s; longest event-loop stall %.1f ms\n", firstByteSeconds,
                stallMs);
    std::printf("peak resident %.0f MiB, of it for the send %.0f MiB: %.2f times the file\n",
                peak / 1024.0, (peak - before) / 1024.0, (peak - before) * 1024.0 / size);
    std::printf("CANCEL %lld ms after START (%s): the cancel box %.1f ms after the press%s\n",
                static_cast<long long>(std::chrono::milliseconds(kCancelAfter).count()),
                sentBeforeCancel > 0 ? "already sending" : "while reading", answerMs,
                cancelBox ? "" : " (no cancel box)");
    return 0;
}
