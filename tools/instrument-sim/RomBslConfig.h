#pragma once

#include "tools/instrument-sim/ConfigValues.h"
#include "tools/instrument-sim/Profile.h"

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim::rombsl {

struct BitFlip {
    std::uint32_t address = 0;
    unsigned bit = 0;
};

// The "loader.*" keys of the msp430-rom loader (README, "MSP430 ROM bootstrap loader").
struct RomBslConfig {
    std::uint8_t versionHigh = 0x01, versionLow = 0x60; // as the boot ROM holds it: 1.60
    std::uint16_t chipId = 0xF149;
    std::optional<std::array<std::uint8_t, 32>> password; // none: the flash's vector area
    std::optional<std::uint16_t> resetVector;             // programmed when the loader first runs
    Range mainFlash{0x1100, 0xFFFF};
    Range infoFlash{0x1000, 0x10FF};
    Range ram{0x0200, 0x09FF};
    bool txVersion = true;     // answers 0x1E (1.50 and later)
    bool changeBaud = true;    // answers 0x20 (1.60 and later)
    bool memoryOffset = false; // answers 0x21 (flash above 0xFFFF)
    bool needsPatch = false;   // 1.10: flash reads are wrong unless the RAM patch runs first
    bool verifyWrite = false;  // refuse a write whose bytes do not read back
    std::optional<std::uint16_t> baudClock; // AL AH that give the right speed for 0x20

    // Faults, counted from 1 over the instrument's life.
    std::set<unsigned> refuseFrames, silentFrames, corruptReplies, hangupFrames;
    std::vector<BitFlip> flips;

    unsigned VersionNumber() const { return versionHigh << 8 | versionLow; }
};

struct RomBslConfigResult {
    bool ok = false;
    std::string error; // names the key
    RomBslConfig config;
};

RomBslConfigResult ParseRomBslConfig(const Profile& profile);

} // namespace sim::rombsl
