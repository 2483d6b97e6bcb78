#include "tools/instrument-sim/LineFault.h"

#include <array>

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

std::string_view NoiseBytes() {
    return std::string_view("\xFE\x00\x7F\xA5\xF0\x3C", 6);
}

} // namespace sim
