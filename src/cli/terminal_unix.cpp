#include "terminal.h"

#include <QByteArray>
#include <QtGlobal>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kibro::terminal {

namespace {

constexpr int kDefaultColumns = 80;

} // namespace

bool takeClosedStandardInput()
{
    if (::fcntl(STDIN_FILENO, F_GETFD) != -1 || errno != EBADF)
        return false;
    // The lowest free number: 0.
    [[maybe_unused]] const int placeholder = ::open("/dev/null", O_RDONLY);
    return true;
}

bool takeClosedStandardOutput()
{
    if (::fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF)
        return false;
    const int placeholder = ::open("/dev/null", O_WRONLY);
    if (placeholder != STDOUT_FILENO && placeholder >= 0) {
        ::dup2(placeholder, STDOUT_FILENO);
        ::close(placeholder);
    }
    return true;
}

void keepOnBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

int errorColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool number = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &number);
    return number && columns > 0 ? columns : kDefaultColumns;
}

bool isDumb()
{
    const QByteArray term = qgetenv("TERM");
    return term.isEmpty() || term == "dumb";
}

} // namespace kibro::terminal
