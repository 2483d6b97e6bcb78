#pragma once

// CRC-16/XMODEM (polynomial 0x1021, start 0, most significant bit first, no
// final XOR), bit by bit: the tests' own, apart from the tool's and the
// simulated instrument's.
#include <cstdint>
#include <string_view>
#include <vector>

namespace testing_support {

inline std::uint16_t XmodemCrc(std::string_view bytes) {
    std::uint16_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(c) << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

inline std::uint16_t XmodemCrc(const std::vector<std::uint8_t>& bytes) {
    return XmodemCrc(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

} // namespace testing_support
