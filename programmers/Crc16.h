#pragma once

#include <cstddef>
#include <cstdint>

namespace programmers {

// CRC-16 with the polynomial 0x1021, most significant bit first, no final
// inversion. The MSP430 5xx loader starts it at 0xFFFF ("abc" gives 0x514A),
// XMODEM at 0 ("abc" gives 0x9DD6).
std::uint16_t Crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t initial);

inline constexpr std::uint16_t Crc16InitBsl5xx = 0xFFFF;
inline constexpr std::uint16_t Crc16InitXmodem = 0x0000;

} // namespace programmers
