#include "storedport.h"

#include "conversions.h"
#include "errorsection.h"
#include "serialport.h"
#include "settingsstore.h"

namespace kibro {

void applyStoredConfiguration(SerialPort& serial, ErrorSection& section)
{
    SettingsStore store;
    section([&] {
        serial.setPortNumber(toInt16(store.read(SettingsStore::kStartup, QStringLiteral("Port"),
                                                QString::number(SerialPort::kDefaultPort))));
    });
    section([&] {
        serial.setSettings(store.read(SettingsStore::kStartup, QStringLiteral("Settings"),
                                      SerialPort::kDefaultSettings.toString()));
    });
}

void reopenIfLost(SerialPort& serial)
{
    if (!serial.wasLost())
        return;
    ErrorSection section;
    applyStoredConfiguration(serial, section);
    section([&] { serial.open(); });
}

} // namespace kibro
