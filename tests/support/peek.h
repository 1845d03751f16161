#pragma once
// What the program's objects hold, looked at from outside through their object trees.

#include <QSerialPort>
#include <QTimer>

// The received bytes a SerialPort itself holds; -1 when it has no device object.
[[nodiscard]] inline qint64 heldReceivedBytes(const QObject& port)
{
    const auto* device = port.findChild<const QSerialPort*>();
    return device ? device->bytesAvailable() : -1;
}

// The timer whose ten ticks make a TransferEngine's pause.
[[nodiscard]] inline QTimer& tickTimer(QObject& engine)
{
    auto* timer = engine.findChild<QTimer*>(QStringLiteral("Timer1"), Qt::FindDirectChildrenOnly);
    Q_ASSERT(timer);
    return *timer;
}
