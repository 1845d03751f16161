#pragma once

#include <QString>

namespace kibro {

// The separator between a directory and a file name on this platform.
[[nodiscard]] QChar pathSeparator();

// A directory and a file name joined with exactly one separator: a directory that already
// ends in the separator (a drive root) gets none added.
[[nodiscard]] QString joinPath(const QString& directory, const QString& name,
                               QChar separator = pathSeparator());

} // namespace kibro
