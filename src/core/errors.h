#pragma once

#include <QString>
#include <stdexcept>

namespace kibro {

// Error numbers as the serial component and the runtime report them. The windows never show
// them; they only test for non-zero.
enum class ErrorNumber : int {
    None = 0,
    Overflow = 6,
    TypeMismatch = 13,
    InvalidPropertyValue = 380,
    InvalidPortNumber = 8002,
    PortAlreadyOpen = 8005,
    DeviceUnavailable = 8010,
    PortNotOpen = 8012,
    InvalidSettings = 8015,
    WriteFailed = 8017,
    StoreFailed = 8019,
};

// A failing operation: what an error-tolerant section skips and the default handler reports.
class KibroError : public std::runtime_error
{
public:
    KibroError(ErrorNumber number, const QString& what)
        : std::runtime_error(what.toStdString()), m_number(number)
    {
    }

    [[nodiscard]] ErrorNumber number() const noexcept { return m_number; }
    [[nodiscard]] int code() const noexcept { return static_cast<int>(m_number); }

private:
    ErrorNumber m_number = ErrorNumber::None;
};

// A wrong command line as both programs say it: "kibro: unknown option 'x'; see kibro --help".
[[nodiscard]] inline QString usageErrorText(const QString& program, QString what)
{
    // Qt's "Unknown option 'x'." becomes part of the line.
    if (what.endsWith(u'.'))
        what.chop(1);
    if (!what.isEmpty())
        what[0] = what[0].toLower();
    return QStringLiteral("%1: %2; see %1 --help\n").arg(program, what);
}

} // namespace kibro
