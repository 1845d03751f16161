#include "jobport.h"

#include "errors.h"
#include "errorsection.h"
#include "serialport.h"
#include "storedport.h"

namespace kibro {

void takePort(SerialPort& serial, PortUse use, QObject* job)
{
    if (!serial.reserve(job))
        throw KibroError(
            ErrorNumber::PortAlreadyOpen,
            QStringLiteral("%1: another transfer is using the port").arg(serial.deviceName()));
    try {
        if (serial.isOpen())
            return;
        if (serial.wasLost()) {
            ErrorSection section;
            applyStoredConfiguration(serial, section);
        } else if (use == PortUse::Kept) {
            throw KibroError(ErrorNumber::PortNotOpen,
                             QStringLiteral("%1: not open").arg(serial.deviceName()));
        }
        serial.open();
    } catch (...) {
        serial.release(job);
        throw;
    }
}

} // namespace kibro
