#pragma once

#include <QString>

namespace kibro {

// Qt aborts the whole process when its platform plugin finds no display, so the program looks
// first. platform is what -platform or QT_QPA_PLATFORM names (empty: Qt's own choice), display
// what -display names (empty: $DISPLAY). Returns the display that was looked for, such as
// "DISPLAY=:99" or "DISPLAY not set", when no window can be shown there; otherwise, and when it
// cannot be told, an empty text and Qt has the last word.
[[nodiscard]] QString unreachableDisplay(const QString& platform, const QString& display);

} // namespace kibro
