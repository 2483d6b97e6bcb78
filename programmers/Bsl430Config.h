#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace programmers {

// Bsl430.ini, next to the program: what the ROM bootstrap-loader programmer
// needs to know about the instruments that the instruments cannot tell it.
//
//   # comment
//   ResetVector1=0x1100      password word when nothing better is known
//   ResetVector2=0x3100      images above 0xFFFF, chips F237 and F26F, model 41245
//   ResetVector3=0xC000      chip F135
//   ChipImageVector1=F427    chips whose image, chosen by the chip identifier,
//                            take ResetVector1 (hexadecimal, separated by commas)
//
// Keys are compared without regard to case; numbers are hexadecimal with or
// without "0x". A missing file, key or unreadable value keeps the built-in
// value, and Note says so for the log.
struct TBsl430Config {
    std::array<std::uint16_t, 3> ResetVector{0x1100, 0x3100, 0xC000};
    std::vector<std::uint32_t> ChipImageVector1{0xF427};
    bool FromFile = false;
    std::string Note; // empty when every value came from the file
};

inline constexpr const char* Bsl430ConfigName = "Bsl430.ini";

TBsl430Config LoadBsl430Config(const std::string& path);
TBsl430Config ParseBsl430Config(const std::string& content);

} // namespace programmers
