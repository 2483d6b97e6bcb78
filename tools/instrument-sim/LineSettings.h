#pragma once

#include <string>

namespace sim {

// What the instrument can see of the tool's line: a pty hides parity and data bits.
struct LineSettings {
    unsigned baud = 4800;
    int stopBits = 2;

    bool operator==(const LineSettings&) const = default;
};

// "4800 baud 2 stop", for the transcript.
inline std::string LineText(const LineSettings& line) {
    return std::to_string(line.baud) + " baud " + std::to_string(line.stopBits) + " stop";
}

// Bytes as they leave one end, at the line that end had when it sent them.
struct Reply {
    std::string bytes;
    LineSettings line;
};

} // namespace sim
