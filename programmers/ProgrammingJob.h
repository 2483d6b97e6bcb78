#pragma once

#include "programmers/DeviceIdent.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace programmers {

// The block of the main window that every programmer receives: what the
// session learned about the instrument and how the transfer is to run.
struct TProgJob {
    std::uint32_t ProzTyp = 0; // processor as a 16-bit chip code, e.g. 0xF26F
    TDeviceIdent Ident;
    std::string DeviceName;             // instrument name (searched for a model number)
    std::string ProgFile;               // the session's program file
    std::string BootFile;               // bootloader file of the device entry
    std::vector<std::string> ProgFiles; // further program files
    std::int32_t Variant = 0;           // row of the bootloader-entry command tables, 0..2
    std::uint8_t LoaderMode = 0;        // 1: the instrument already waits in its bootloader
    std::uint8_t SensorAbsent = 0;
    std::uint8_t PasswordKnown = 0;
    std::uint32_t ResetVector = 0;
    // The whole interrupt vector table a 5xx/6xx loader takes as password:
    // a wrong one erases the instrument, so a later run reuses all of it.
    std::array<std::uint32_t, 16> VectorTable{};
    std::uint8_t ImagePerChip = 0;
    std::array<std::uint8_t, 2> KeepBaud{};    // per image: do not raise the baud rate
    std::array<std::uint32_t, 2> EraseStart{}; // per image: highest segment, 0 = default
    std::uint8_t NoPortChange = 0;
    // The first character of reply 208; selects the Basic-Loader file.
    char MemoryVariant = 0;
    std::int32_t StartMode = 0; // of the device entry; 2: nudge the loader on time-outs
    // What a failed transfer left behind on the instrument, for its retry:
    // a lab file still open, or the file loader still at its transfer speed
    // (the speed to go back to; 0 when it is not).
    std::uint8_t LabFileLeftOpen = 0;
    std::uint32_t BlockSpeedLeftFrom = 0;
};

} // namespace programmers
