#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

namespace kibro {

// A process that has a serial device open or locked.
struct PortHolder
{
    qint64 pid = 0;
    QString program;
};

// The process a lock file names, in each form serial programs write: the PID in ASCII (padded
// to ten characters by lockdev, minicom and picocom, minicom adding its name and user after
// it; alone on the first line of QLockFile's, the program on the next), or the PID as a
// native int (old UUCP). program is what the file itself says, if anything. Nothing for a
// file that is missing or names no PID; a PID no process can have (0, negative, above the
// system's largest) is given as read, and lockHolder takes its file for stale.
[[nodiscard]] std::optional<PortHolder> readLockFile(const QString& path);

// Who holds the device, as far as can be told cheaply: the UUCP-style lock file QSerialPort
// and other serial programs leave ("LCK..ttyUSB0", holding a PID), else a process with the
// device among its open files. Nothing when neither tells, or on a system without either.
[[nodiscard]] std::optional<PortHolder> findPortHolder(const QString& device);

// The live process whose lock file is on the device, before it is opened. Lock files of
// processes that have ended are stale and removed on the way, as the other programs do.
[[nodiscard]] std::optional<PortHolder> lockHolder(const QString& device);

// The lock file names a device may be locked under, in the directories serial programs use:
// those of KIBRO_LOCK_DIRS when it is set (a colon-separated list, for tests).
[[nodiscard]] QStringList lockFileCandidates(const QString& device);

} // namespace kibro
