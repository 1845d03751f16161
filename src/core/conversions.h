#pragma once

#include <QString>
#include <QtGlobal>

namespace kibro {

// Text to a 16-bit signed integer the way the stored "Port" is read: surrounding blanks
// ignored, a fraction rounded half to even. Throws KibroError (type mismatch or overflow).
[[nodiscard]] qint16 toInt16(const QString& text);

// Text to a single-precision number; nullopt-free variant that throws KibroError.
[[nodiscard]] float toSingle(const QString& text);

// A single-precision number as stored text: shortest decimal form, no blanks.
[[nodiscard]] QString singleToText(float value);

} // namespace kibro
