#pragma once

#include "tools/instrument-sim/ConfigValues.h"
#include "tools/instrument-sim/Profile.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace sim::bsl5xx {

// The "loader.*" keys of the msp430-5xx loader (README, "MSP430 5xx/6xx bootstrap loader").
struct Bsl5xxConfig {
    std::uint16_t chipId = 0x5438;
    std::array<std::uint8_t, 4> version{0x00, 0x01, 0x01, 0x01};
    Range mainFlash{0x5C00, 0xFFFF}; // default: from 0x5C00 to the end of the profile's flash
    Range infoFlash{0x1800, 0x19FF};
    Range bslFlash{0x1000, 0x17FF};
    Range ram{0x1C00, 0x5BFF};

    // Faults, counted from 1 over the instrument's life: received frames, or sent
    // response frames for corruptResponses.
    std::set<unsigned> refuseFrames, silentFrames, hangupFrames, corruptResponses;
    std::map<unsigned, std::uint8_t> messageFrames; // frame number -> message code
};

struct Bsl5xxConfigResult {
    bool ok = false;
    std::string error; // names the key
    Bsl5xxConfig config;
};

Bsl5xxConfigResult ParseBsl5xxConfig(const Profile& profile);

} // namespace sim::bsl5xx
