#include "portmap.h"

#include "settingsstore.h"

namespace kibro {

QString PortMap::device(qint16 port) const
{
    const QString named =
        SettingsStore().read(u"Ports", QStringLiteral("COM%1").arg(port), {}).trimmed();
    if (named.isEmpty())
        return builtInDevice(port);
#if !defined(Q_OS_WIN)
    // A bare name is a device under /dev, as QSerialPort would take it anyway; made explicit
    // here so that every message names the path actually tried.
    if (!named.startsWith(u'/'))
        return QStringLiteral("/dev/") + named;
#endif
    return named;
}

QString PortMap::builtInDevice(qint16 port)
{
#if defined(Q_OS_WIN)
    return port > 0 ? QStringLiteral("COM%1").arg(port) : QString();
#elif defined(Q_OS_MACOS)
    switch (port) {
    case 1:
        return QStringLiteral("/dev/cu.usbserial");
    case 2:
        return QStringLiteral("/dev/cu.usbmodem");
    default:
        return {};
    }
#else
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
#endif
}

} // namespace kibro
