#pragma once

#include <QString>

namespace kibro::platform {

// The device a name from the store stands for, as the messages should name it.
[[nodiscard]] QString storedDevice(const QString& named);

} // namespace kibro::platform
