#pragma once

#include <optional>

namespace kibro::drivermodel {

// Start bit, data bits, parity and stop bits of a termios c_cflag.
[[nodiscard]] int bitsPerByteOf(unsigned cflag);

// The rate a c_cflag asks for: its Bnnn code, or for BOTHER the termios2 c_ospeed when given.
// Nothing for B0 (a hang-up, no rate) or for BOTHER without a speed.
[[nodiscard]] std::optional<int> baudOf(unsigned cflag, std::optional<unsigned> ospeed = {});

} // namespace kibro::drivermodel
