#include "programmers/Crc16.h"

namespace programmers {

std::uint16_t Crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t initial) {
    std::uint16_t crc = initial;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t x = static_cast<std::uint16_t>((crc >> 8) ^ bytes[i]);
        x ^= x >> 4;
        crc = static_cast<std::uint16_t>((crc << 8) ^ (x << 12) ^ (x << 5) ^ x);
    }
    return crc;
}

} // namespace programmers
