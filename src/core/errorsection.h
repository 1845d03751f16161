#pragma once

#include "errors.h"

#include <exception>
#include <utility>

namespace kibro {

// A stretch of a handler in which a failing statement is skipped whole and the next one runs.
// Creating the section clears the number; a failure sets it; a later success leaves it, so a
// test after the last statement also sees a failure of an earlier one.
class ErrorSection
{
public:
    ErrorSection() = default;

    // Runs one statement. Returns true when it succeeded.
    template <typename Statement> bool operator()(Statement&& statement) noexcept
    {
        try {
            std::forward<Statement>(statement)();
            return true;
        } catch (const KibroError& e) {
            m_lastError = e.code();
        } catch (const std::exception&) {
            m_lastError = static_cast<int>(ErrorNumber::InvalidPropertyValue);
        }
        return false;
    }

    [[nodiscard]] int lastError() const noexcept { return m_lastError; }

private:
    int m_lastError = 0;
};

} // namespace kibro
