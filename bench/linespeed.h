#pragma once

#include <termios.h>

// The line as the senders the bench runs beside the program set it (the plain reference
// sender among them): raw, 8N1, at one of the program's six rates (38400 for any other).
inline speed_t speedOf(long baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    default:
        return B38400;
    }
}

inline void setRawLine(int fd, long baud)
{
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, speedOf(baud));
    ::tcsetattr(fd, TCSANOW, &tio);
}
