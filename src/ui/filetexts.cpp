#include "filetexts.h"

namespace kibro {

QString fileCheckText(FileCheck check)
{
    switch (check) {
    case FileCheck::TooLarge:
        return QStringLiteral("ファイルが大きすぎます。");
    case FileCheck::Unreadable:
        return QStringLiteral("ファイルを読み込めません。");
    case FileCheck::Ok:
        break;
    }
    return {};
}

QString dateTimeText(const QDateTime& stamp)
{
    return stamp.toLocalTime().toString(QStringLiteral("yyyy/MM/dd H:mm:ss"));
}

} // namespace kibro
