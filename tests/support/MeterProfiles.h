#pragma once

// Profiles of the simulated instrument that several tests and benchmarks
// run against.

#include <string>

namespace testing_support {

// The demo meter (device 43110, version 1.23) with the MSP430 ROM loader 1.60
// at 4800 baud, which takes the demo's device entry and restarts after its
// update. The loader's password is the image's reset vector: C000 for the
// demo's DM10_V200.TXT.
inline std::string RomMeterProfile(const std::string& serial = "12345678",
                                   const std::string& password = "C000") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=" +
           serial + "\npassword=" + password +
           "\nloader=msp430-rom\nloader.version=1.60\nloader.chip_id=F149\n"
           "flash_start=0x1000\nflash_size=0xF000\non.restart=@300:I.30#\n";
}

} // namespace testing_support
