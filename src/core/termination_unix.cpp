#include "termination.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace kibro {

namespace {

constexpr std::array kSignals = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler, which may touch nothing else of ours.
std::atomic<int> g_writeEnd{-1};
// What each signal did before we took it; only those we took are put back.
std::array<struct sigaction, kSignals.size()> g_previous{};
std::array<bool, kSignals.size()> g_taken{};

void putBack()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (g_taken[i])
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
}

extern "C" void onSignal(int number)
{
    const int savedErrno = errno;
    putBack();
    const int fd = g_writeEnd.load();
    const auto byte = static_cast<unsigned char>(number);
    if (fd >= 0) [[maybe_unused]]
        const auto written = ::write(fd, &byte, 1);
    errno = savedErrno;
}

void takeSignals()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        // One ignored when we started (nohup, a background job of a script) was meant to be.
        g_taken[i] = ::sigaction(kSignals[i], nullptr, &g_previous[i]) == 0 &&
                     g_previous[i].sa_handler != SIG_IGN;
        if (g_taken[i])
            ::sigaction(kSignals[i], &action, nullptr);
    }
}

} // namespace

TerminationRequests::TerminationRequests(QObject* parent) : QObject(parent)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("kibro: termination signals end the program at once: no pipe");
        return;
    }
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    g_writeEnd = m_writeEnd;
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationRequests::onReadable);
    takeSignals();
}

TerminationRequests::~TerminationRequests()
{
    if (m_writeEnd < 0)
        return;
    putBack();
    g_taken = {};
    g_writeEnd = -1;
    ::close(m_writeEnd);
    ::close(m_readEnd);
}

void TerminationRequests::onReadable()
{
    unsigned char byte = 0;
    while (::read(m_readEnd, &byte, 1) == 1)
        emit requested(byte);
}

} // namespace kibro
