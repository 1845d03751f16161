#pragma once

class QObject;

namespace kibro {

class SerialPort;

// How a job has its port. Kept: the program's port, held open by its owner; only a lost one is
// opened again. Opened: configured by the caller, opened here.
enum class PortUse { Kept, Opened };

// Takes the port for one job, a send or a receive: refused while another holds it; a lost
// port opened again as stored, as adapters are replugged all the time. Throws KibroError.
void takePort(SerialPort& serial, PortUse use, QObject* job);

} // namespace kibro
