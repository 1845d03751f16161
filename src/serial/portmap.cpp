#include "portmap.h"

#include "serial_platform.h"
#include "settingsstore.h"

namespace kibro {

QString PortMap::device(qint16 port) const
{
    const QString named =
        SettingsStore().read(u"Ports", QStringLiteral("COM%1").arg(port), {}).trimmed();
    if (named.isEmpty())
        return builtInDevice(port);
    return platform::storedDevice(named);
}

} // namespace kibro
