#include "pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>

namespace {

QString systemError(const char* what)
{
    return QString::fromUtf8(what) + QStringLiteral(": ") + QString::fromUtf8(std::strerror(errno));
}

} // namespace

std::optional<PseudoTerminal> openPseudoTerminal(QString* error)
{
    PseudoTerminal pty;
    pty.master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!pty.master.isValid()) {
        *error = systemError("posix_openpt");
        return std::nullopt;
    }
    const int master = pty.master.get();
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        *error = systemError("grantpt/unlockpt");
        return std::nullopt;
    }
    if (::fcntl(master, F_SETFD, FD_CLOEXEC) != 0 ||
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        *error = systemError("fcntl");
        return std::nullopt;
    }
    char name[128] = {};
    if (::ptsname_r(master, name, sizeof name) != 0) {
        *error = systemError("ptsname_r");
        return std::nullopt;
    }
    pty.slavePath = QByteArray(name);

    pty.slave = UniqueFd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pty.slave.isValid()) {
        *error = systemError("open slave");
        return std::nullopt;
    }
    termios tio{};
    if (::tcgetattr(pty.slave.get(), &tio) != 0) {
        *error = systemError("tcgetattr");
        return std::nullopt;
    }
    ::cfmakeraw(&tio);
    // cfmakeraw leaves these alone; any of them would alter or hold back the byte stream.
    tio.c_iflag &= ~tcflag_t(IXOFF | IXANY);
    tio.c_cflag &= ~tcflag_t(CRTSCTS | CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(pty.slave.get(), TCSANOW, &tio) != 0) {
        *error = systemError("tcsetattr");
        return std::nullopt;
    }
    return pty;
}
