#pragma once

#include <QString>

namespace kibro {

// What the system says of a port's device, found without opening it.
struct DeviceReport
{
    QString device;   // as the port map names it
    QString resolved; // the node it leads to, links followed; empty when there is none
    bool present = false;
    // The user may read and write it, as the system says without opening it.
    bool accessible = false;
    QString description;
    QString manufacturer;
    QString serialNumber;
};

// On Linux the device is looked up by its device number under sysfsRoot: the system's own
// port list opens every built-in UART to probe it, and one of them may be the console.
[[nodiscard]] DeviceReport describeDevice(const QString& device,
                                          const QString& sysfsRoot = QStringLiteral("/sys"));

// Whether the user may read and write the device, asked of the system without opening it.
[[nodiscard]] bool mayOpen(const QString& device);
// How the user could get the access the device refused, as a line on stderr says it.
[[nodiscard]] QString accessAdvice(const QString& device);

} // namespace kibro
