#pragma once

#include <termios.h>

// The termios speed of one of the program's six rates (38400 for any other), for the senders
// the bench runs beside the program, the plain reference sender among them.
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
