#include "lineframe.h"

#include <array>
#include <termios.h>
#include <utility>

namespace kibro::drivermodel {

namespace {

// Not in this C library's termios.h: the kernel's "rate in c_ospeed" code.
constexpr unsigned kBother = 0010000;

constexpr std::array kRates = {
    std::pair{B50, 50},           std::pair{B75, 75},           std::pair{B110, 110},
    std::pair{B134, 134},         std::pair{B150, 150},         std::pair{B200, 200},
    std::pair{B300, 300},         std::pair{B600, 600},         std::pair{B1200, 1200},
    std::pair{B1800, 1800},       std::pair{B2400, 2400},       std::pair{B4800, 4800},
    std::pair{B9600, 9600},       std::pair{B19200, 19200},     std::pair{B38400, 38400},
    std::pair{B57600, 57600},     std::pair{B115200, 115200},   std::pair{B230400, 230400},
    std::pair{B460800, 460800},   std::pair{B500000, 500000},   std::pair{B576000, 576000},
    std::pair{B921600, 921600},   std::pair{B1000000, 1000000}, std::pair{B1152000, 1152000},
    std::pair{B1500000, 1500000}, std::pair{B2000000, 2000000}, std::pair{B2500000, 2500000},
    std::pair{B3000000, 3000000}, std::pair{B3500000, 3500000}, std::pair{B4000000, 4000000},
};

} // namespace

int bitsPerByteOf(unsigned cflag)
{
    int data = 8;
    switch (cflag & CSIZE) {
    case CS5:
        data = 5;
        break;
    case CS6:
        data = 6;
        break;
    case CS7:
        data = 7;
        break;
    default:
        break;
    }
    return 1 + data + ((cflag & PARENB) ? 1 : 0) + ((cflag & CSTOPB) ? 2 : 1);
}

std::optional<int> baudOf(unsigned cflag, std::optional<unsigned> ospeed)
{
    const unsigned code = cflag & CBAUD;
    if (code == kBother) {
        if (ospeed && *ospeed > 0)
            return int(*ospeed);
        return std::nullopt;
    }
    for (const auto& [speed, rate] : kRates) {
        if (unsigned(speed) == code)
            return rate;
    }
    return std::nullopt;
}

} // namespace kibro::drivermodel
