#include "fileread.h"

#include <QFile>

#include <limits>

namespace kibro {

FileCheck checkSendable(const QFileInfo& info)
{
    if (!info.exists() || info.isDir() || !info.isReadable())
        return FileCheck::Unreadable;
    if (info.size() > std::numeric_limits<qint32>::max())
        return FileCheck::TooLarge;
    return FileCheck::Ok;
}

QString fileCheckText(FileCheck check)
{
    switch (check) {
    case FileCheck::TooLarge: return QStringLiteral("ファイルが大きすぎます。");
    case FileCheck::Unreadable: return QStringLiteral("ファイルを読み込めません。");
    case FileCheck::Ok: break;
    }
    return {};
}

FileRead readWholeFile(const QString& path)
{
    FileRead result;
    QFile file(path);
    const QFileInfo info(path);
    result.check = checkSendable(info);
    if (result.check != FileCheck::Ok)
        return result;
    if (!file.open(QIODevice::ReadOnly)) {
        result.check = FileCheck::Unreadable;
        return result;
    }
    // Read to the end rather than to the size seen a moment ago: the file may be changing.
    QByteArray bytes;
    for (;;) {
        const QByteArray chunk = file.read(1 << 20);
        if (chunk.isEmpty())
            break;
        bytes.append(chunk);
        if (bytes.size() > std::numeric_limits<qint32>::max()) {
            result.check = FileCheck::TooLarge;
            return result;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        result.check = FileCheck::Unreadable;
        return result;
    }
    result.bytes = std::move(bytes);
    return result;
}

QString dateTimeText(const QDateTime& stamp)
{
    return stamp.toLocalTime().toString(QStringLiteral("yyyy/MM/dd H:mm:ss"));
}

} // namespace kibro
