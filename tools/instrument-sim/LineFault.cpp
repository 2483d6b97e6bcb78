#include "tools/instrument-sim/LineFault.h"

#include <array>
#include <vector>

namespace sim {
namespace {

struct KindName {
    LineFaultKind kind;
    const char* name;
};
constexpr std::array<KindName, 7> kKinds = {{{LineFaultKind::Drop, "drop"},
                                             {LineFaultKind::Flip, "flip"},
                                             {LineFaultKind::Refuse, "refuse"},
                                             {LineFaultKind::Silent, "silent"},
                                             {LineFaultKind::Hangup, "hangup"},
                                             {LineFaultKind::WrongSpeed, "speed"},
                                             {LineFaultKind::Garbage, "garbage"}}};

} // namespace

bool ParseLineFaultKind(std::string_view text, LineFaultKind& kind) {
    for (const KindName& k : kKinds) {
        if (text == k.name) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

const char* LineFaultName(LineFaultKind kind) {
    for (const KindName& k : kKinds) {
        if (k.kind == kind)
            return k.name;
    }
    return "none";
}

std::string FlipOneBit(std::string bytes) {
    if (!bytes.empty())
        bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x01);
    return bytes;
}

std::string AsReadAtHalfSpeed(std::string_view bytes) {
    std::vector<bool> line; // one entry per sender bit; idle is 1
    for (char c : bytes) {
        line.push_back(false);
        for (int i = 0; i < 8; ++i)
            line.push_back((static_cast<unsigned char>(c) >> i) & 1);
        line.push_back(true);
    }
    auto level = [&](std::size_t at) { return at >= line.size() || line[at]; };
    std::string seen;
    std::size_t t = 0;
    while (t < line.size()) {
        if (level(t)) {
            ++t;
            continue;
        }
        // A start edge at t; the receiver samples the middle of each of its bits.
        unsigned value = 0;
        for (int i = 0; i < 8; ++i)
            value |= (level(t + 3 + 2 * static_cast<std::size_t>(i)) ? 1u : 0u) << i;
        const bool framed = level(t + 19);
        seen += static_cast<char>(framed ? value : 0);
        t += framed ? 20 : 19;
    }
    return seen;
}

std::string_view NoiseBytes() {
    return std::string_view("\xFE\x00\x7F\xA5\xF0\x3C", 6);
}

} // namespace sim
