#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// Faults of the line itself, whatever loader runs: they strike once, at the
// at-th byte the instrument receives after the transfer began.
enum class LineFaultKind { None, Drop, Flip, Refuse, Silent, Hangup, WrongSpeed, Garbage };

struct LineFaultPlan {
    LineFaultKind kind = LineFaultKind::None;
    std::uint64_t at = 1;
    unsigned count = 3;     // refusals in a row
    bool duringLab = false; // counted from the lab file transfer, not the loader
};

// Parses the value of line.fault; false for an unknown kind.
bool ParseLineFaultKind(std::string_view text, LineFaultKind& kind);
const char* LineFaultName(LineFaultKind kind);

// The reply with one bit inverted in its middle byte.
std::string FlipOneBit(std::string bytes);
// Line noise between two replies: no line end, no XON/XOFF.
std::string_view NoiseBytes();

} // namespace sim
