#pragma once

#include <QString>

namespace kibro {

class ErrorSection;
class SerialPort;

// The port number and line settings the store holds, each applied on its own: a refusal of
// one leaves the other applied, and is counted in section.
void applyStoredConfiguration(SerialPort& serial, ErrorSection& section);

// "COM1" and what went wrong with it.
[[nodiscard]] QString openErrorText(qint16 port, const QString& what);

inline const QString kOpenErrorTitle = QStringLiteral("COM Open Error");

} // namespace kibro
