#include "conversions.h"

#include "errors.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace kibro {

namespace {

double toNumber(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw KibroError(ErrorNumber::TypeMismatch,
                         QStringLiteral("Type mismatch: \"%1\"").arg(text));
    return value;
}

} // namespace

qint16 toInt16(const QString& text)
{
    const double rounded = std::nearbyint(toNumber(text)); // default mode rounds half to even
    if (rounded < std::numeric_limits<qint16>::min() ||
        rounded > std::numeric_limits<qint16>::max())
        throw KibroError(ErrorNumber::Overflow, QStringLiteral("Overflow: \"%1\"").arg(text));
    return static_cast<qint16>(rounded);
}

float toSingle(const QString& text)
{
    const double value = toNumber(text);
    if (std::fabs(value) > std::numeric_limits<float>::max())
        throw KibroError(ErrorNumber::Overflow, QStringLiteral("Overflow: \"%1\"").arg(text));
    return static_cast<float>(value);
}

QString singleToText(float value)
{
    // Shortest text that reads back as the same single-precision number.
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
}

} // namespace kibro
