#pragma once

#include "portmap.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>

namespace kibro {

// The rates the settings window offers and kibro-send takes, slowest first.
inline constexpr std::array<qint32, 6> kRates = {1200, 2400, 4800, 9600, 19200, 38400};
// The settings text for a rate: the line is always no parity, 8 data bits, 1 stop bit.
[[nodiscard]] QString settingsText(qint32 baud);

// The line settings of a settings text such as "9600,N,8,1".
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Throws KibroError for a text the port cannot take (a rate of 0 among them).
    [[nodiscard]] static LineSettings parse(const QString& text);
    // Bits on the line for one byte: start, data, parity, stop.
    [[nodiscard]] int bitsPerByte() const;
};

// The program's one serial port, with the properties the windows use. Every refused
// operation throws KibroError and changes nothing. Bytes pass unchanged: raw mode, no
// flow control.
class SerialPort : public QObject
{
    Q_OBJECT

public:
    // Received bytes the port holds at most. Past that it stops reading and the driver keeps
    // the rest, so a peer that never stops talking costs neither memory nor CPU.
    static constexpr qint64 kReadBound = 4096;
    // What a port is until told otherwise, and what an empty store means.
    static constexpr qint16 kDefaultPort = 1;
    static constexpr QStringView kDefaultSettings = u"9600,N,8,1";

    explicit SerialPort(QObject* parent = nullptr);

    [[nodiscard]] qint16 portNumber() const noexcept { return m_portNumber; }
    void setPortNumber(qint16 port);

    [[nodiscard]] QString settings() const { return m_settings; }
    void setSettings(const QString& text);

    [[nodiscard]] bool isOpen() const noexcept;
    // The line hung up or the device went, and nothing has opened or closed the port since.
    [[nodiscard]] bool wasLost() const noexcept { return m_lost && !isOpen(); }
    void open();
    // Closing a closed port is allowed and does nothing. Bytes written go out first, as they
    // do before a new rate: the wait is bounded by their time on the line.
    void close();

    // Received bytes waiting, ours plus the driver's; only 0 may be written, which empties
    // both.
    [[nodiscard]] qint16 inBufferCount() const;
    void setInBufferCount(qint16 count);

    // Bytes not yet on the line: ours plus the driver's; only 0 may be written.
    [[nodiscard]] qint16 outBufferCount() const;
    void setOutBufferCount(qint16 count);

    void write(const QByteArray& bytes);

    // What has arrived, in order: what we hold, and with fromDriver what the driver still
    // holds too, so that a receive that ends loses nothing that came before.
    [[nodiscard]] QByteArray takeReceived(bool fromDriver = false);

    // One job at a time on the line: a send or a receive holds the port while it runs. A job
    // that goes lets go of it by going.
    [[nodiscard]] bool reserve(QObject* job);
    void release(const QObject* job) noexcept;
    [[nodiscard]] bool isReserved() const noexcept { return !m_user.isNull(); }

    // Of those, the bytes still in our own buffer: the driver was full and takes them when it
    // has room, which bytesWritten (activity) reports.
    [[nodiscard]] qint64 heldOutgoingBytes() const noexcept { return m_port.bytesToWrite(); }

    // How long one byte takes on the line with the current settings. To the nanosecond: the
    // sender paces thousands of bytes by it, and a rounded time drifts from the line.
    [[nodiscard]] std::chrono::nanoseconds byteTime() const;

    // The device the current port number opens (empty when it has none).
    [[nodiscard]] QString deviceName() const;
    // A device opened whatever the port number, as a terminal user may name one; empty goes
    // back to the port number's device.
    void setDevice(const QString& device);

signals:
    // Something on the line moved: bytes left for the driver, bytes arrived, or the port
    // went away. Waiters re-check the counts when it fires.
    void activity();
    // The device vanished or failed while open; the port is closed now.
    void portLost();

private:
    void requireOpen() const;
    void onError(QSerialPort::SerialPortError error);
    void markLost(const QString& reason);
    void checkLine();
    void apply(const LineSettings& settings);
    // Waits (bounded) for the bytes written to leave the line, before a close or a new rate.
    void drainOutput();
    [[nodiscard]] QString openFailureReason(const QString& device) const;
    [[noreturn]] static void refuseOpen(const QString& device, const QString& reason);

    // A child, so what it holds can be looked at from outside without a door of its own.
    QSerialPort m_port{this};
    PortMap m_portMap;
    qint16 m_portNumber = kDefaultPort;
    QString m_settings = kDefaultSettings.toString();
    QString m_namedDevice;
    // The device last opened, for the messages about it.
    QString m_device;
    LineSettings m_line;
    bool m_failed = false;
    // Lost, not closed on purpose, since the last open that worked or the last close.
    bool m_lost = false;
    // Written to since the port opened or last drained.
    bool m_unsent = false;
    // While the read bound keeps the port from reading, nothing else would see the line hang
    // up: a look now and then does.
    QTimer m_lineWatch;
    QPointer<QObject> m_user;
};

} // namespace kibro
