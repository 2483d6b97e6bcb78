#pragma once

#include "serial/Comport.h"

#include <cstdint>

namespace programmers {

// Watches the device of a port lent to a run (an external tool, the updater
// library): a run stuck on a line whose device went away may never end by
// itself, so once the device is gone it gets a short grace to give up on its
// own and is ended after that.
class TDeviceWatch {
public:
    static constexpr std::uint32_t GraceMs = 1000;

    explicit TDeviceWatch(const serial::TComPort& port) : port_(port) {}

    // Looks at the device (a stat: cheap enough for every poll); true once
    // it has been gone for the grace time.
    bool GoneForGrace(std::uint32_t now) {
        if (!gone_ && port_.DeviceGone()) {
            gone_ = true;
            goneSince_ = now;
        }
        return gone_ && now - goneSince_ >= GraceMs;
    }

private:
    const serial::TComPort& port_;
    bool gone_ = false;
    std::uint32_t goneSince_ = 0;
};

} // namespace programmers
