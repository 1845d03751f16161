#include "serialport.h"

#include "errors.h"
#include "portinfo.h"
#include "serial_platform.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace kibro {

namespace {

[[noreturn]] void refuse(ErrorNumber number, const QString& what)
{
    throw KibroError(number, what);
}

constexpr std::chrono::milliseconds kLineWatchInterval{500};

// Bytes on the way that the driver's count leaves out: a UART's FIFO and shift register, an
// adapter's own buffer. With them and a margin, the longest a live line can take to drain.
constexpr qint64 kUncountedBytes = 64;
constexpr std::chrono::milliseconds kDrainMargin{100};

qint16 clampCount(qint64 count)
{
    return static_cast<qint16>(std::clamp<qint64>(count, 0, std::numeric_limits<qint16>::max()));
}

} // namespace

QString settingsText(qint32 baud)
{
    return QString::number(baud) + QStringLiteral(",N,8,1");
}

LineSettings LineSettings::parse(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9]{1,7}),([NEOMSneoms]),([5-8]),(1|1\\.5|2)$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        refuse(ErrorNumber::InvalidSettings, QStringLiteral("Invalid settings \"%1\"").arg(text));

    LineSettings line;
    line.baudRate = match.captured(1).toInt();
    if (line.baudRate <= 0)
        refuse(ErrorNumber::InvalidSettings, QStringLiteral("Invalid baud rate \"%1\"").arg(text));
    // In the order of the letters "NEOMS", one of which the pattern let through.
    static constexpr std::array kParities = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                             QSerialPort::OddParity, QSerialPort::MarkParity,
                                             QSerialPort::SpaceParity};
    line.parity = kParities[QStringLiteral("NEOMS").indexOf(match.captured(2).toUpper())];
    line.dataBits = static_cast<QSerialPort::DataBits>(match.captured(3).toInt());
    const QString stop = match.captured(4);
    line.stopBits = stop == u"2"     ? QSerialPort::TwoStop
                    : stop == u"1.5" ? QSerialPort::OneAndHalfStop
                                     : QSerialPort::OneStop;
    return line;
}

int LineSettings::bitsPerByte() const
{
    const int parityBits = parity == QSerialPort::NoParity ? 0 : 1;
    const int stopBitCount = stopBits == QSerialPort::OneStop ? 1 : 2;
    return 1 + static_cast<int>(dataBits) + parityBits + stopBitCount;
}

SerialPort::SerialPort(QObject* parent) : QObject(parent)
{
    // With the bound reached QSerialPort turns its read notifier off until bytes are taken
    // out, so a flood neither grows memory nor wakes the event loop.
    m_port.setReadBufferSize(kReadBound);
    m_lineWatch.setInterval(kLineWatchInterval);
    connect(&m_lineWatch, &QTimer::timeout, this, &SerialPort::checkLine);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPort::onError);
    connect(&m_port, &QSerialPort::bytesWritten, this, &SerialPort::activity);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPort::activity);
}

void SerialPort::setPortNumber(qint16 port)
{
    if (isOpen())
        refuse(ErrorNumber::PortAlreadyOpen, QStringLiteral("Port already open"));
    m_portNumber = port;
}

void SerialPort::setSettings(const QString& text)
{
    const LineSettings line = LineSettings::parse(text);
    if (isOpen()) {
        // The bytes on the way would finish at the new rate: garbage to the other end.
        drainOutput();
        apply(line);
    }
    m_line = line;
    m_settings = text;
}

bool SerialPort::isOpen() const noexcept
{
    return m_port.isOpen() && !m_failed;
}

QString SerialPort::deviceName() const
{
    return m_namedDevice.isEmpty() ? m_portMap.device(m_portNumber) : m_namedDevice;
}

void SerialPort::setDevice(const QString& device)
{
    if (isOpen())
        refuse(ErrorNumber::PortAlreadyOpen, QStringLiteral("Port already open"));
    m_namedDevice = device;
}

void SerialPort::close()
{
    const bool wasOpen = m_port.isOpen();
    m_lineWatch.stop();
    // Qt puts the device's old settings back at once on close.
    drainOutput();
    m_port.close();
    m_failed = false;
    m_lost = false;
    if (wasOpen)
        emit activity();
}

void SerialPort::open()
{
    if (isOpen())
        refuse(ErrorNumber::PortAlreadyOpen, QStringLiteral("Port already open"));
    if (m_port.isOpen()) // failed earlier, close not yet done
        m_port.close();
    m_failed = false;

    const QString device = deviceName();
    if (device.isEmpty())
        refuse(ErrorNumber::InvalidPortNumber,
               QStringLiteral("COM%1 has no device").arg(m_portNumber));

    m_device = device;
    // Qt names its lock after the name it opens: the real one, so that every name of the
    // device (a link, /dev/serial/by-id) meets the one lock.
    const QString real = QFileInfo(device).canonicalFilePath();
    m_port.setPortName(real.isEmpty() ? device : real);
    m_port.setBaudRate(m_line.baudRate);
    m_port.setDataBits(m_line.dataBits);
    m_port.setParity(m_line.parity);
    m_port.setStopBits(m_line.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (const QString holder = platform::lockedBy(device); !holder.isEmpty())
        refuseOpen(device, holder);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString reason = openFailureReason(device);
        m_port.close();
        m_failed = false;
        refuseOpen(device, reason);
    }
    m_port.clearError();
    m_lost = false;
    m_unsent = false;
    m_lineWatch.start();
}

void SerialPort::refuseOpen(const QString& device, const QString& reason)
{
    qWarning("kibro: cannot open %s: %s", qUtf8Printable(device), qUtf8Printable(reason));
    refuse(ErrorNumber::DeviceUnavailable, QStringLiteral("%1: %2").arg(device, reason));
}

QString SerialPort::openFailureReason(const QString& device) const
{
    if (m_port.error() != QSerialPort::PermissionError)
        return m_port.errorString();
    if (QString busy = platform::busyReason(device); !busy.isEmpty())
        return busy;
    if (!mayOpen(device))
        return m_port.errorString() + QStringLiteral("; ") + accessAdvice(device);
    return m_port.errorString();
}

void SerialPort::apply(const LineSettings& line)
{
    if (!m_port.setBaudRate(line.baudRate) || !m_port.setDataBits(line.dataBits) ||
        !m_port.setParity(line.parity) || !m_port.setStopBits(line.stopBits)) {
        const QString reason = m_port.errorString();
        // Put back what worked before; the refusal must have no effect.
        m_port.setBaudRate(m_line.baudRate);
        m_port.setDataBits(m_line.dataBits);
        m_port.setParity(m_line.parity);
        m_port.setStopBits(m_line.stopBits);
        m_port.clearError();
        refuse(ErrorNumber::InvalidSettings, reason);
    }
}

void SerialPort::drainOutput()
{
    if (!std::exchange(m_unsent, false) || !isOpen())
        return;
    const qint64 queued = platform::driverQueue(m_port.handle(), QSerialPort::Output);
    (void)platform::drainOutput(m_port.handle(), byteTime() * (queued + kUncountedBytes) +
                                                     std::chrono::nanoseconds(kDrainMargin));
}

void SerialPort::requireOpen() const
{
    if (!isOpen())
        refuse(ErrorNumber::PortNotOpen, QStringLiteral("Port not open"));
}

qint16 SerialPort::inBufferCount() const
{
    requireOpen();
    return clampCount(m_port.bytesAvailable() +
                      platform::driverQueue(m_port.handle(), QSerialPort::Input));
}

void SerialPort::setInBufferCount(qint16 count)
{
    requireOpen();
    if (count != 0)
        refuse(ErrorNumber::InvalidPropertyValue, QStringLiteral("Only 0 empties the buffer"));
    m_port.clear(QSerialPort::Input);
    // Taking out what we hold also turns reading back on, should the bound have stopped it.
    m_port.readAll();
}

qint16 SerialPort::outBufferCount() const
{
    requireOpen();
    return clampCount(m_port.bytesToWrite() +
                      platform::driverQueue(m_port.handle(), QSerialPort::Output));
}

void SerialPort::setOutBufferCount(qint16 count)
{
    requireOpen();
    if (count != 0)
        refuse(ErrorNumber::InvalidPropertyValue, QStringLiteral("Only 0 empties the buffer"));
    m_port.clear(QSerialPort::Output);
}

void SerialPort::write(const QByteArray& bytes)
{
    requireOpen();
    m_unsent = true;
    QByteArray rest = bytes;
    // Straight to the driver when nothing of ours waits: the byte is on its way at once and
    // the driver's own count, not a turn of the event loop, says when it has left. A driver
    // that is full takes the rest through the port's buffer.
    if (m_port.bytesToWrite() == 0) {
        QString failure;
        const qint64 written = platform::writeToDriver(m_port.handle(), bytes, failure);
        if (written == bytes.size())
            return;
        if (written < 0) {
            markLost(failure);
            refuse(ErrorNumber::WriteFailed, failure);
        }
        rest = bytes.sliced(written);
    }
    if (m_port.write(rest) != rest.size())
        refuse(ErrorNumber::WriteFailed, m_port.errorString());
}

QByteArray SerialPort::takeReceived(bool fromDriver)
{
    // A lost port still hands over what it had read, until its queued close has run.
    if (!m_port.isOpen())
        return {};
    QByteArray bytes = m_port.readAll();
    if (fromDriver && isOpen())
        platform::readFromDriver(m_port.handle(), bytes);
    return bytes;
}

bool SerialPort::reserve(QObject* job)
{
    if (m_user && m_user != job)
        return false;
    m_user = job;
    return true;
}

void SerialPort::release(const QObject* job) noexcept
{
    if (m_user == job)
        m_user = nullptr;
}

std::chrono::nanoseconds SerialPort::byteTime() const
{
    using namespace std::chrono;
    const auto nanos = duration_cast<nanoseconds>(seconds(1)).count() * m_line.bitsPerByte();
    // Rounded up: the estimate of when the line is free must not run ahead of it.
    const qint64 baud = std::max(1, m_line.baudRate);
    return nanoseconds(std::max<qint64>(1, (nanos + baud - 1) / baud));
}

void SerialPort::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::DeviceNotFoundError:
        break;
    default:
        return;
    }
    markLost(m_port.errorString());
}

void SerialPort::markLost(const QString& reason)
{
    if (!m_port.isOpen() || m_failed)
        return;
    qWarning("kibro: %s: %s", qUtf8Printable(m_device), qUtf8Printable(reason));
    // Closing inside the port's own error report is not safe; the flag refuses every
    // operation until the queued close has run.
    m_failed = true;
    m_lost = true;
    m_lineWatch.stop();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_failed) {
                m_port.close();
                m_failed = false;
            }
        },
        Qt::QueuedConnection);
    emit activity();
    emit portLost();
}

void SerialPort::checkLine()
{
    // Below the bound QSerialPort is reading and sees a hang-up itself.
    if (!isOpen() || m_port.bytesAvailable() < kReadBound)
        return;
    if (platform::lineHungUp(m_port.handle()))
        markLost(QStringLiteral("the line hung up"));
}

} // namespace kibro
