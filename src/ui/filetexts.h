#pragma once

#include "fileread.h"

#include <QDateTime>
#include <QString>

namespace kibro {

// Why a file cannot be sent, as the message box says it; empty for a file that can.
[[nodiscard]] QString fileCheckText(FileCheck check);

// A time stamp as the send window shows it: unambiguous local date and time.
[[nodiscard]] QString dateTimeText(const QDateTime& stamp);

} // namespace kibro
