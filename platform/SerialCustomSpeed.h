#pragma once

// Baud rates outside the termios table (128000, 256000) through the
// kernel's termios2 interface. Plain types only: see the source file for why.

#include <cstdint>

namespace platform {

// Sets input and output speed of the open tty to baudRate; false with errno
// set when the driver refuses it.
bool SetCustomBaudRate(int fd, std::uint32_t baudRate);
// The line's current output speed in baud, whatever constant set it.
bool GetBaudRate(int fd, std::uint32_t& baudRate);

} // namespace platform
