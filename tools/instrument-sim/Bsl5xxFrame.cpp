#include "tools/instrument-sim/Bsl5xxFrame.h"

namespace sim::bsl5xx {

std::uint16_t Crc16(std::string_view bytes) {
    std::uint16_t crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::string WrapCore(std::string_view core) {
    std::string f;
    f.reserve(core.size() + 5);
    f.push_back(static_cast<char>(kHeader));
    f.push_back(static_cast<char>(core.size() & 0xFF));
    f.push_back(static_cast<char>(core.size() >> 8));
    f.append(core);
    std::uint16_t crc = Crc16(core);
    f.push_back(static_cast<char>(crc & 0xFF));
    f.push_back(static_cast<char>(crc >> 8));
    return f;
}

} // namespace sim::bsl5xx
