#pragma once

// The firmware image and the simulated meter of a class-1 session with the
// MSP430 ROM loader, shared by the session and production-line benchmarks.

#include "tests/support/MeterProfiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>

namespace bench {

inline void RandomLines(std::ostringstream& text, unsigned from, unsigned to,
                        std::mt19937& random) {
    for (unsigned address = from; address < to; address += 16) {
        for (int i = 0; i < 16; ++i) {
            unsigned byte = address == from + 0x10 && i < 10 ? "VER:2.00\0\0"[i] : random() & 0xFF;
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
            text << pair << (i < 15 ? " " : "\r\n");
        }
    }
}

// A TI-TXT image of 48 KB from 0x4000, or for the 5xx/6xx loader 41 KB from
// 0x5C00 (where its main flash starts) and 16 KB from 0x10000, with the
// vectors pointing at its start.
inline std::string Image(bool high) {
    std::mt19937 random(48);
    std::ostringstream text;
    text << (high ? "@5C00\r\n" : "@4000\r\n");
    RandomLines(text, high ? 0x5C00 : 0x4000, 0xFFE0, random);
    if (high) {
        text << "@10000\r\n";
        RandomLines(text, 0x10000, 0x14000, random);
    }
    text << "@FFE0\r\n";
    const char* vector = high ? "00 5C " : "00 40 ";
    for (int line = 0; line < 2; ++line) {
        for (int i = 0; i < 8; ++i) {
            text << vector;
        }
        text << "\r\n";
    }
    text << "q\r\n";
    return text.str();
}

// The meter with the ROM loader 1.60 for the image above (reset vector 0x4000).
inline std::string RomMeterProfile() {
    return testing_support::RomMeterProfile("12345678", "4000");
}

inline void EditDeviceEntry(const std::filesystem::path& file,
                            std::initializer_list<std::pair<std::string, std::string>> edits) {
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    for (auto [from, to] : edits) {
        const std::size_t at = text.find(from);
        if (at != std::string::npos) {
            text.replace(at, from.size(), to);
        }
    }
    std::ofstream(file, std::ios::binary) << text;
}

// The demo's entry erases from 0xC200 only, which suits the demo's image;
// the benches' images start lower, so the erase must take the whole image.
inline void EraseWholeImage(const std::filesystem::path& progDevice) {
    EditDeviceEntry(progDevice, {{"FlashErase1=0xC200", "FlashErase1="}});
}

} // namespace bench
