#pragma once
// A whole file at once, as the loader reads it a slice at a time.

#include "fileread.h"

namespace kibro {

[[nodiscard]] inline FileRead readWholeFile(const NativePath& path)
{
    WholeFileReader reader(path);
    while (!reader.readOn(QDeadlineTimer::Forever)) {
    }
    return reader.take();
}

[[nodiscard]] inline FileRead readWholeFile(const QString& path)
{
    return readWholeFile(toNativePath(path));
}

} // namespace kibro
