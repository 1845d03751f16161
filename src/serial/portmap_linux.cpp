#include "portmap.h"
#include "serial_platform.h"

namespace kibro {

QString platform::storedDevice(const QString& named)
{
    // A bare name is a device under /dev, as QSerialPort would take it anyway; made explicit
    // here so that every message names the path actually tried.
    if (!named.startsWith(u'/'))
        return QStringLiteral("/dev/") + named;
    return named;
}

QString PortMap::builtInDevice(qint16 port)
{
    switch (port) {
    case 0:
        return QStringLiteral("/dev/ttyS0");
    case 1:
        return QStringLiteral("/dev/ttyUSB0");
    case 2:
        return QStringLiteral("/dev/ttyUSB1");
    case 3:
        return QStringLiteral("/dev/ttyACM0");
    default:
        return {};
    }
}

} // namespace kibro
