#include "transferline.h"

#include "serialport.h"

namespace kibro {

SerialLine::SerialLine(SerialPort& serial, QObject* parent) : TransferLine(parent), m_serial(serial)
{
    connect(&m_serial, &SerialPort::activity, this, &TransferLine::activity);
}

qint16 SerialLine::receivedCount()
{
    return m_serial.inBufferCount();
}

TransferLine::TransmitQueue SerialLine::transmitQueue()
{
    const qint16 count = m_serial.outBufferCount();
    return {count, m_serial.heldOutgoingBytes()};
}

void SerialLine::writeByte(char byte)
{
    m_oneByte[0] = byte;
    m_serial.write(m_oneByte);
}

void SerialLine::clear()
{
    m_serial.setInBufferCount(0);
    m_serial.setOutBufferCount(0);
}

std::chrono::nanoseconds SerialLine::byteTime() const
{
    return m_serial.byteTime();
}

} // namespace kibro
