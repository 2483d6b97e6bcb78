#pragma once

// The firmware image and the simulated meter of a class-1 session with the
// MSP430 ROM loader, shared by the session and production-line benchmarks.

#include <cstdio>
#include <random>
#include <sstream>
#include <string>

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

// A meter with the ROM loader 1.60 that answers at 4800 baud and takes the
// demo's device entry.
inline constexpr const char* RomMeterProfile =
    "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
    "version=1.23\nserial=12345678\npassword=4000\nloader=msp430-rom\n"
    "loader.version=1.60\nloader.chip_id=F149\nflash_start=0x1000\n"
    "flash_size=0xF000\non.restart=@300:I.30#\n";

} // namespace bench
