#pragma once

#include <QObject>

#include <chrono>

namespace kibro {

class SerialPort;

// What the engine needs from the line. Each call is one question to the driver; a failing one
// throws KibroError.
class TransferLine : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Received bytes waiting.
    [[nodiscard]] virtual qint16 receivedCount() = 0;
    struct TransmitQueue
    {
        qint16 count = 0; // bytes not yet on the line, ours and the driver's
        qint64 held = 0;  // of those, still in our buffer because the driver was full
    };
    [[nodiscard]] virtual TransmitQueue transmitQueue() = 0;
    virtual void writeByte(char byte) = 0;
    // Empties both directions before a transfer.
    virtual void clear() = 0;
    // One byte's time on the line at the current settings.
    [[nodiscard]] virtual std::chrono::nanoseconds byteTime() const = 0;

signals:
    // Something moved: bytes left our buffer, bytes arrived, or the port went away.
    void activity();
};

// The line as the program's serial port gives it.
class SerialLine final : public TransferLine
{
    Q_OBJECT

public:
    explicit SerialLine(SerialPort& serial, QObject* parent = nullptr);

    [[nodiscard]] qint16 receivedCount() override;
    [[nodiscard]] TransmitQueue transmitQueue() override;
    void writeByte(char byte) override;
    void clear() override;
    [[nodiscard]] std::chrono::nanoseconds byteTime() const override;

private:
    SerialPort& m_serial;
    QByteArray m_oneByte{1, '\0'};
};

} // namespace kibro
