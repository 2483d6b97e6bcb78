#include "tools/instrument-sim/RomBslFrame.h"

namespace sim::rombsl {

std::uint16_t Checksum(std::string_view bytes) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<std::uint8_t>(bytes[i]);
        sum ^= static_cast<std::uint16_t>(i % 2 == 0 ? b : b << 8);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::string DataFrame(std::string_view data) {
    std::string f;
    f.reserve(data.size() + 6);
    f.push_back(static_cast<char>(kSync));
    f.push_back(static_cast<char>(kReplyCmd));
    f.push_back(static_cast<char>(data.size()));
    f.push_back(static_cast<char>(data.size()));
    f.append(data);
    std::uint16_t ck = Checksum(f);
    f.push_back(static_cast<char>(ck & 0xFF));
    f.push_back(static_cast<char>(ck >> 8));
    return f;
}

bool ParseFrame(std::string_view bytes, Frame& out) {
    if (bytes.size() < kFrameHead + kMinL1 + 2)
        return false;
    std::string_view body = bytes.substr(0, bytes.size() - 2);
    auto ck = static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[bytes.size() - 2]) |
                                         static_cast<std::uint8_t>(bytes[bytes.size() - 1]) << 8);
    if (Checksum(body) != ck)
        return false;
    auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(body[i]); };
    out.cmd = at(1);
    out.address = static_cast<std::uint16_t>(at(4) | at(5) << 8);
    out.ll = at(6);
    out.lh = at(7);
    out.data = body.substr(8);
    return true;
}

} // namespace sim::rombsl
