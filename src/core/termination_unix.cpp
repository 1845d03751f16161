#include "termination.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace kibro {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler, which may touch nothing else of ours.
std::atomic<int> g_writeEnd{-1};

void handleWith(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

extern "C" void onSignal(int number)
{
    const int savedErrno = errno;
    handleWith(SIG_DFL);
    const int fd = g_writeEnd.load();
    const auto byte = static_cast<unsigned char>(number);
    if (fd >= 0) [[maybe_unused]]
        const auto written = ::write(fd, &byte, 1);
    errno = savedErrno;
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
    handleWith(onSignal);
}

TerminationRequests::~TerminationRequests()
{
    if (m_writeEnd < 0)
        return;
    handleWith(SIG_DFL);
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
