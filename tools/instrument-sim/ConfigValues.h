#pragma once

#include "tools/instrument-sim/Profile.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace sim {

constexpr std::uint32_t kTopAddress = 0xFFFFF; // 20-bit address space

struct Range {
    std::uint32_t first = 0, last = 0; // inclusive

    bool Holds(std::uint32_t a) const { return a >= first && a <= last; }
};

// The value of a hexadecimal digit (either case), -1 for any other character.
int HexDigit(char c);
// An optional 0x, then 1 to maxDigits hexadecimal digits.
bool ParseHex(std::string_view s, std::size_t maxDigits, std::uint32_t& out);
// Decimal, or hexadecimal with 0x.
bool ParseNumber(std::string_view s, std::uint32_t& out);
// FIRST-LAST, within kTopAddress.
bool ParseRange(std::string_view s, Range& out);
// Fault counts start at 1.
bool ParseCount(std::string_view s, unsigned& out);

// Comma-separated items, none empty.
template <typename Fn> bool ForEachItem(std::string_view s, Fn parseItem) {
    if (s.empty())
        return false;
    while (true) {
        std::size_t comma = s.find(',');
        if (!parseItem(s.substr(0, comma)))
            return false;
        if (comma == std::string_view::npos)
            return true;
        s.remove_prefix(comma + 1);
    }
}

// Comma-separated fault counts, each new to the set.
inline bool ParseCountList(std::string_view s, std::set<unsigned>& out) {
    return ForEachItem(s, [&](std::string_view item) {
        unsigned count = 0;
        return ParseCount(item, count) && out.insert(count).second;
    });
}

// Hands each "loader.*" key, without its prefix, to apply(key, value), which returns an
// error text or nothing; the first error is returned with the full key in front.
template <typename Fn> std::string ForEachLoaderKey(const Profile& profile, Fn apply) {
    for (const auto& [fullKey, value] : profile.loaderKeys) {
        std::string_view key = std::string_view(fullKey).substr(fullKey.find('.') + 1);
        std::string error = apply(key, std::string_view(value));
        if (!error.empty())
            return fullKey + ": " + error;
    }
    return "";
}

} // namespace sim
