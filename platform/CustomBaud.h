#pragma once

#include <cstdint>

namespace platform {

// Line speeds that have no Bxxx constant (128000, 256000) go through the
// kernel's termios2 call; see CustomBaud.cpp for why it lives apart.
// Both return false with errno set when the driver refuses.
bool SetCustomBaud(int fd, std::uint32_t baud);
// The output speed in baud as the driver holds it, custom or not.
bool GetActualBaud(int fd, std::uint32_t& baud);

} // namespace platform
