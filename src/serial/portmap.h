#pragma once

#include <QString>
#include <QtGlobal>

namespace kibro {

// Which device a COM number opens: the store's "Ports" group first ("COM1=/dev/ttyUSB0"),
// then the platform's usual names. An empty result means the number has no device. A stored
// name without a leading slash ("ttyUSB0") is, on Linux, a device under /dev.
class PortMap
{
public:
    [[nodiscard]] QString device(qint16 port) const;
    [[nodiscard]] static QString builtInDevice(qint16 port);
};

} // namespace kibro
