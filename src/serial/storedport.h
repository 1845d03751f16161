#pragma once

namespace kibro {

class ErrorSection;
class SerialPort;

// The port number and line settings the store holds, each applied on its own: a refusal of
// one leaves the other applied, and is counted in section.
void applyStoredConfiguration(SerialPort& serial, ErrorSection& section);
// A port that was lost (hang-up, device gone) is opened again with the stored configuration;
// one closed on purpose is left as it is. A failure is on stderr, naming device and reason.
void reopenIfLost(SerialPort& serial);

} // namespace kibro
