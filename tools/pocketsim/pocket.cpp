#include "pocket.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr qsizetype readChunk = 4096;
// A writer blocked on a full pty may add more once room is made; wait this long for it.
constexpr auto drainQuietPeriod = 50ms;
constexpr auto drainLimit = 2s;
constexpr auto hangUpBackoff = 100ms;

void warn(const char* what)
{
    std::fprintf(stderr, "kibro-pocket: %s: %s\n", what, std::strerror(errno));
}

[[nodiscard]] bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, 1000) > 0)
                    continue;
            }
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

[[nodiscard]] UniqueFd openOutput(const QString& path, int mode)
{
    if (path.isEmpty())
        return {};
    return UniqueFd(
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0644));
}

} // namespace

sigset_t terminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    return set;
}

Pocket::Pocket(PocketOptions options)
    : m_options(std::move(options)), m_bucket(m_options.rate), m_floodBucket(m_options.floodRate)
{
}

Pocket::~Pocket()
{
    removeLink();
}

int Pocket::run()
{
    if (!setUp())
        return 1;
    std::printf("device %s\n", m_pty->slavePath.constData());
    std::fflush(stdout);
    if (!createLink())
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    if (m_options.answerAfter == 0)
        answerDue(Clock::now());

    for (;;) {
        auto now = Clock::now();
        if (m_answerAt && now >= *m_answerAt) {
            sendAnswer();
            now = Clock::now();
        }
        bool watchMaster = true;
        std::optional<std::chrono::nanoseconds> timeout;
        if (now < m_hangUpUntil) {
            watchMaster = false;
            timeout = m_hangUpUntil - now;
        } else if (m_bucket.isStarted() && m_bucket.available(now) == 0) {
            // Not watching the master while out of tokens is what lets the pty fill up and
            // hold the writer back, and it keeps pending input from waking us in a loop.
            watchMaster = false;
            timeout = m_bucket.untilNextTokens();
        }
        const bool flooding = floodWanted(now);
        if (m_options.flood && !flooding && m_floodBucket.isStarted() && !floodFinished() &&
            (now < m_pausedUntil || m_floodBucket.isLimited())) {
            const std::chrono::nanoseconds wait =
                now < m_pausedUntil ? m_pausedUntil - now : m_floodBucket.untilNextTokens();
            timeout = timeout ? std::min(*timeout, wait) : wait;
        }
        if (m_answerAt) {
            const std::chrono::nanoseconds wait = *m_answerAt - now;
            timeout = timeout ? std::min(*timeout, wait) : wait;
        }
        // Watching for room only while there is something to send: a full pty then holds
        // the flood back without waking us.
        std::array<pollfd, 3> fds{{{m_signalFd.get(), POLLIN, 0},
                                   {watchMaster ? m_pty->master.get() : -1, POLLIN, 0},
                                   {flooding ? m_pty->master.get() : -1, POLLOUT, 0}}};
        timespec ts{};
        if (timeout) {
            ts.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(*timeout).count();
            ts.tv_nsec = (*timeout % 1s).count();
        }
        if (::ppoll(fds.data(), fds.size(), timeout ? &ts : nullptr, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            warn("ppoll");
            return 1;
        }
        if (fds[0].revents != 0) {
            signalfd_siginfo info{};
            if (::read(m_signalFd.get(), &info, sizeof info) < 0)
                warn("read signalfd");
            if (info.ssi_signo == SIGUSR2) {
                m_options.sendOnSignal = false;
                continue;
            }
            drainPending();
            if (info.ssi_signo == SIGUSR1) {
                // Everything the writer has handed over so far is in, whatever the rate: a
                // test can then tell what arrived without waiting for a slow peer.
                std::printf("drained %lld\n", static_cast<long long>(m_total));
                std::fflush(stdout);
                if (afterReceive() == Step::Finished)
                    return 0;
                continue;
            }
            printSummary();
            return 0;
        }
        if (fds[2].revents != 0)
            sendFlood();
        if (fds[1].revents != 0) {
            switch (readMaster()) {
            case Step::Continue:
                break;
            case Step::Finished:
                return 0;
            case Step::Failed:
                return 1;
            }
        }
    }
}

bool Pocket::setUp()
{
    QString error;
    m_pty = openPseudoTerminal(&error);
    if (!m_pty) {
        std::fprintf(stderr, "kibro-pocket: %s\n", qPrintable(error));
        return false;
    }
    const sigset_t blocked = terminationSignals();
    m_signalFd = UniqueFd(::signalfd(-1, &blocked, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!m_signalFd.isValid()) {
        warn("signalfd");
        return false;
    }
    m_outFd = openOutput(m_options.outPath, O_APPEND);
    m_timesFd = openOutput(m_options.timesPath, O_TRUNC);
    if ((!m_options.outPath.isEmpty() && !m_outFd.isValid()) ||
        (!m_options.timesPath.isEmpty() && !m_timesFd.isValid())) {
        warn("open output file");
        return false;
    }
    return true;
}

bool Pocket::createLink()
{
    if (m_options.linkPath.isEmpty())
        return true;
    // Renaming a fresh symlink over the path replaces whatever is there in one step.
    const QByteArray link = QFile::encodeName(m_options.linkPath);
    const QByteArray temp = link + ".tmp-" + QByteArray::number(::getpid());
    ::unlink(temp.constData());
    if (::symlink(m_pty->slavePath.constData(), temp.constData()) != 0 ||
        ::rename(temp.constData(), link.constData()) != 0) {
        warn("create link");
        ::unlink(temp.constData());
        return false;
    }
    m_linked = true;
    return true;
}

void Pocket::removeLink()
{
    if (!m_linked)
        return;
    m_linked = false;
    // Only our own link: another instance may have taken the path over meanwhile.
    const QByteArray link = QFile::encodeName(m_options.linkPath);
    std::array<char, 256> target{};
    const ssize_t n = ::readlink(link.constData(), target.data(), target.size() - 1);
    if (n > 0 && QByteArray(target.data(), n) == m_pty->slavePath)
        ::unlink(link.constData());
}

Pocket::Step Pocket::readMaster()
{
    const auto now = Clock::now();
    if (!m_bucket.isStarted())
        m_bucket.start(now);
    const qint64 allowed = std::min({m_bucket.available(now), qint64(readChunk), untilNextEvent()});
    if (allowed <= 0)
        return Step::Continue;

    std::array<char, readChunk> buffer{};
    const ssize_t n = ::read(m_pty->master.get(), buffer.data(), size_t(allowed));
    if (n > 0) {
        m_bucket.consume(n);
        record(buffer.data(), n, Clock::now());
        return afterReceive();
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return Step::Continue;
    // EIO or end of file means no slave fd is open, which our own slave fd rules out;
    // should it happen anyway, back off rather than spin on the hang-up.
    m_hangUpUntil = now + hangUpBackoff;
    return Step::Continue;
}

void Pocket::drainPending()
{
    if (!m_pty->master.isValid())
        return;
    const auto deadline = Clock::now() + drainLimit;
    std::array<char, readChunk> buffer{};
    while (Clock::now() < deadline) {
        const qint64 allowed = std::min(qint64(readChunk), untilStop());
        if (allowed <= 0)
            return;
        const ssize_t n = ::read(m_pty->master.get(), buffer.data(), size_t(allowed));
        if (n > 0) {
            record(buffer.data(), n, Clock::now());
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            return;
        pollfd p{m_pty->master.get(), POLLIN, 0};
        const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(drainQuietPeriod);
        if (::poll(&p, 1, int(quiet.count())) <= 0 || (p.revents & POLLIN) == 0)
            return;
    }
}

Pocket::Step Pocket::afterReceive()
{
    if (m_options.answerAfter && !m_answered && !m_answerAt && m_total >= *m_options.answerAfter)
        answerDue(Clock::now());
    if (m_options.closeAfter && m_total >= *m_options.closeAfter) {
        // An unplugged cable: the program's own slave fd is hung up from here on.
        m_pty->master.reset();
        m_pty->slave.reset();
        removeLink();
        printSummary();
        return Step::Finished;
    }
    if (m_options.exitAfter && m_total >= *m_options.exitAfter) {
        printSummary();
        return Step::Finished;
    }
    return Step::Continue;
}

void Pocket::record(const char* data, qsizetype size, Clock::time_point stamp)
{
    if (m_total == 0)
        m_first = stamp;
    m_last = stamp;
    m_total += size;
    m_hash.addData(QByteArrayView(data, size));
    if (m_outFd.isValid() && !writeAll(m_outFd.get(), data, size))
        warn("write --out");
    if (m_timesFd.isValid()) {
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(stamp - m_first);
        const QByteArray line = QByteArray::number(qint64(micros.count())) + '\n';
        const QByteArray lines = line.repeated(size);
        if (!writeAll(m_timesFd.get(), lines.constData(), lines.size()))
            warn("write --times");
    }
}

void Pocket::answerDue(Clock::time_point now)
{
    if (m_options.answerDelay.count() > 0)
        m_answerAt = now + m_options.answerDelay;
    else
        sendAnswer();
}

void Pocket::sendAnswer()
{
    m_answered = true;
    m_answerAt.reset();
    if (!m_options.answer.isEmpty() &&
        !writeAll(m_pty->master.get(), m_options.answer.constData(), m_options.answer.size()))
        warn("write answer");
}

bool Pocket::floodFinished() const
{
    return m_options.floodBytes && m_flooded >= *m_options.floodBytes;
}

bool Pocket::floodWanted(Clock::time_point now)
{
    if (!m_options.flood || m_options.sendOnSignal || floodFinished() || now < m_pausedUntil)
        return false;
    if (!m_floodBucket.isStarted() || m_pausedUntil != Clock::time_point{}) {
        // After a pause the line starts afresh, as after a start: no credit saved up.
        m_floodBucket.start(now);
        m_pausedUntil = {};
    }
    return m_floodBucket.available(now) > 0;
}

void Pocket::sendFlood()
{
    const qint64 left =
        m_options.floodBytes ? *m_options.floodBytes - m_flooded : TokenBucket::unlimited;
    const qint64 untilPause = m_options.pauseEvery > 0
                                  ? m_options.pauseEvery - m_flooded % m_options.pauseEvery
                                  : TokenBucket::unlimited;
    const qint64 allowed =
        std::min({m_floodBucket.available(Clock::now()), qint64(readChunk), left, untilPause});
    if (allowed <= 0)
        return;
    std::array<char, readChunk> chunk{};
    if (m_options.send)
        std::copy_n(m_options.send->constData() + m_flooded, allowed, chunk.data());
    else // A counting pattern, so that a byte dropped or repeated on the way would show.
        for (qint64 i = 0; i < allowed; ++i)
            chunk[size_t(i)] = char((m_flooded + i) & 0xff);
    const ssize_t n = ::write(m_pty->master.get(), chunk.data(), size_t(allowed));
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR)
            warn("write flood");
        return;
    }
    m_floodBucket.consume(n);
    m_flooded += n;
    if (floodFinished()) {
        std::printf("%s done %lld\n", m_options.send ? "send" : "flood",
                    static_cast<long long>(m_flooded));
        std::fflush(stdout);
    } else if (m_options.pauseEvery > 0 && m_flooded % m_options.pauseEvery == 0) {
        m_pausedUntil = Clock::now() + m_options.pause;
    }
}

void Pocket::printSummary()
{
    // From whole microseconds, so that it agrees exactly with the last line of --times.
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(m_last - m_first);
    const double seconds = m_total < 2 ? 0.0 : double(micros.count()) / 1e6;
    std::printf("bytes %lld\nsha256 %s\nseconds %.6f\n", static_cast<long long>(m_total),
                m_hash.result().toHex().constData(), seconds);
    if (m_options.flood)
        std::printf("flooded %lld\n", static_cast<long long>(m_flooded));
    std::fflush(stdout);
}

qint64 Pocket::untilNextEvent() const
{
    qint64 left = untilStop();
    if (m_options.answerAfter && !m_answered)
        left = std::min(left, *m_options.answerAfter - m_total);
    return left;
}

qint64 Pocket::untilStop() const
{
    qint64 left = TokenBucket::unlimited;
    if (m_options.closeAfter)
        left = std::min(left, *m_options.closeAfter - m_total);
    if (m_options.exitAfter)
        left = std::min(left, *m_options.exitAfter - m_total);
    return left;
}
