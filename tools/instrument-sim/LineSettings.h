#pragma once

namespace sim {

// What the instrument can see of the tool's line: a pty hides parity and data bits.
struct LineSettings {
    unsigned baud = 4800;
    int stopBits = 2;

    bool operator==(const LineSettings&) const = default;
};

} // namespace sim
