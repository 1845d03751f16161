#pragma once

// What the serial layer asks of the system beyond QSerialPort, a few files a platform. A
// handle is the port's own, as QSerialPort::handle() gives it.

#include <QByteArray>
#include <QSerialPort>
#include <QString>

#include <chrono>

namespace kibro::platform {

// Why a device refused with a permission error when permissions are not the reason: who holds
// it, or that something does. Empty when nothing more is known.
[[nodiscard]] QString busyReason(const QString& device);

// Who holds the device by a lock file of a live process, said as the reason an open is
// refused; empty when nobody does. Checked before opening, since QSerialPort takes a lock
// file it does not understand (minicom's, lockdev's) for stale and overwrites it.
[[nodiscard]] QString lockedBy(const QString& device);

// Bytes handed straight to the driver: how many it took (0 when it is full), or -1 with
// failure saying why the line is lost.
[[nodiscard]] qint64 writeToDriver(qintptr handle, const QByteArray& bytes, QString& failure);

// Appends what the driver has received and nobody has read yet, without waiting.
void readFromDriver(qintptr handle, QByteArray& into);

// Whether the line has hung up, asked without reading from it.
[[nodiscard]] bool lineHungUp(qintptr handle);

// Waits until the driver says the last byte written has left the line (tcdrain), for at most
// bound, so that a line that never drains cannot hold the program. Whether it drained.
bool drainOutput(qintptr handle, std::chrono::nanoseconds bound);

// The bytes the driver itself holds on one side: still to send, or received.
[[nodiscard]] qint64 driverQueue(qintptr handle, QSerialPort::Direction direction);

// The device a name from the store stands for, as the messages should name it.
[[nodiscard]] QString storedDevice(const QString& named);

} // namespace kibro::platform
