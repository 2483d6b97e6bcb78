#pragma once

#include "tools/instrument-sim/Instrument.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

namespace sim::test {

// The lines every loader test profile shares; loaderLines picks the loader and its memory.
// The flash starts erased unless the lines ask for an old image.
inline Profile MakeLoaderProfile(const std::string& loaderLines, const std::string& keys,
                                 const std::string& extra) {
    const std::string lines = loaderLines + keys + extra;
    ProfileResult r = ParseProfile(
        "start_mode=0\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\nversion=1.23\nserial=3\n"
        "start=loader\n" +
        std::string(lines.find("old_image=") == std::string::npos ? "old_image=blank\n" : "") +
        lines);
    EXPECT_TRUE(r.ok) << r.error;
    return r.profile;
}

// For loaders that device commands start while the firmware runs: the
// firmware runs at first.
inline Profile MakeFirmwareProfile(const std::string& lines) {
    ProfileResult r = ParseProfile("start_mode=0\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\n"
                                   "serial=3\n" +
                                   lines);
    EXPECT_TRUE(r.ok) << r.error;
    return r.profile;
}

inline std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s.push_back(static_cast<char>(b));
    return s;
}

// Both loaders take the 32-byte vector table as the password; the tests leave only the
// reset vector programmed.
inline std::string VectorPassword(std::uint16_t resetVector) {
    return std::string(30, '\xFF') + static_cast<char>(resetVector & 0xFF) +
           static_cast<char>(resetVector >> 8);
}

// Drives a loader through the Instrument API at the line the test chooses.
class LoaderDriver {
public:
    explicit LoaderDriver(Profile profile) : inst(std::move(profile), nullptr, nullptr) {}

    std::string Say(const std::string& bytes, std::optional<LineSettings> line = {}) {
        LineSettings l = line.value_or(inst.ExpectedLine());
        inst.Receive(bytes, &l, 0);
        return inst.TakeDue(~0ull);
    }
    std::string Flash(std::uint32_t address, std::size_t n) {
        std::string out;
        inst.Memory().Read(address, n, out);
        return out;
    }

    Instrument inst;
};

} // namespace sim::test
