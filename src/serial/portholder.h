#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace kibro {

// A process that has a serial device open or locked.
struct PortHolder
{
    qint64 pid = 0;
    QString program;
};

// Who holds the device, as far as can be told cheaply: the UUCP-style lock file QSerialPort
// and other serial programs leave ("LCK..ttyUSB0", holding a PID), else a process with the
// device among its open files. Nothing when neither tells, or on a system without either.
[[nodiscard]] std::optional<PortHolder> findPortHolder(const QString& device);

// The lock file names a device is locked under, in the directories serial programs use.
[[nodiscard]] QStringList lockFileCandidates(const QString& device);

} // namespace kibro
