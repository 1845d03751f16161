#pragma once

#include "filenames.h"

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QString>

namespace kibro {

enum class FileCheck { Ok, Unreadable, TooLarge };

// Whether a file can be sent: a readable regular file whose size fits 32 bits.
[[nodiscard]] FileCheck checkSendable(const QFileInfo& info);

// What the send window shows of a file, found by its exact bytes.
struct FileFacts
{
    FileCheck check = FileCheck::Unreadable;
    qint64 size = 0;
    QDateTime modified;
    // Why it cannot be sent, as the system says it, for stderr.
    QString reason;
};

[[nodiscard]] FileFacts inspectFile(const NativePath& path);

struct FileRead
{
    FileCheck check = FileCheck::Unreadable;
    QByteArray bytes;
    QString reason;
};

// The whole file, as it is on disk at this moment, held once in memory.
[[nodiscard]] FileRead readWholeFile(const NativePath& path);
[[nodiscard]] FileRead readWholeFile(const QString& path);

} // namespace kibro
