#include "tools/instrument-sim/RomBslConfig.h"

namespace sim::rombsl {
namespace {

bool ParseYesNo(std::string_view s, bool& out) {
    if (s == "yes" || s == "no") {
        out = s == "yes";
        return true;
    }
    return false;
}

// "1.10" -> 01 10: the boot ROM keeps the version as two BCD bytes.
bool ParseVersion(std::string_view s, std::uint8_t& high, std::uint8_t& low) {
    if (s.size() != 4 || s[1] != '.')
        return false;
    for (std::size_t i : {0u, 2u, 3u}) {
        if (s[i] < '0' || s[i] > '9')
            return false;
    }
    high = static_cast<std::uint8_t>(s[0] - '0');
    low = static_cast<std::uint8_t>((s[2] - '0') << 4 | (s[3] - '0'));
    return true;
}

bool ParsePassword(std::string_view s, std::array<std::uint8_t, 32>& out) {
    std::string digits;
    for (char c : s) {
        if (c != ' ')
            digits.push_back(c);
    }
    if (digits.size() != 64)
        return false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::uint32_t b = 0;
        if (!ParseHex(std::string_view(digits).substr(2 * i, 2), 2, b))
            return false;
        out[i] = static_cast<std::uint8_t>(b);
    }
    return true;
}

bool ParseCounts(std::string_view s, std::set<unsigned>& out) {
    return ForEachItem(s, [&](std::string_view item) {
        unsigned n = 0;
        if (!ParseCount(item, n))
            return false;
        out.insert(n);
        return true;
    });
}

bool ParseFlips(std::string_view s, std::vector<BitFlip>& out) {
    return ForEachItem(s, [&](std::string_view item) {
        std::size_t colon = item.find(':');
        BitFlip f;
        std::uint32_t bit = 0;
        if (colon == std::string_view::npos || !ParseNumber(item.substr(0, colon), f.address) ||
            !ParseNumber(item.substr(colon + 1), bit) || bit > 7 || f.address > kTopAddress)
            return false;
        f.bit = bit;
        out.push_back(f);
        return true;
    });
}

// Returns an error text, empty when the key was taken.
std::string ApplyKey(std::string_view key, std::string_view v, RomBslConfig& c,
                     std::set<std::string>& explicitFlags) {
    std::uint32_t n = 0;
    bool flag = false;
    if (key == "version")
        return ParseVersion(v, c.versionHigh, c.versionLow) ? "" : "version must look like 1.60";
    if (key == "chip_id") {
        if (!ParseHex(v, 4, n))
            return "chip_id must be up to 4 hexadecimal digits";
        c.chipId = static_cast<std::uint16_t>(n);
        return "";
    }
    if (key == "password") {
        std::array<std::uint8_t, 32> p{};
        if (!ParsePassword(v, p))
            return "password must be 64 hexadecimal digits";
        c.password = p;
        return "";
    }
    if (key == "reset_vector") {
        if (!ParseHex(v, 4, n))
            return "reset_vector must be up to 4 hexadecimal digits";
        c.resetVector = static_cast<std::uint16_t>(n);
        return "";
    }
    if (key == "main_flash" || key == "info_flash" || key == "ram") {
        Range& r = key == "main_flash" ? c.mainFlash : key == "info_flash" ? c.infoFlash : c.ram;
        return ParseRange(v, r) ? "" : "range must be FIRST-LAST within 0xFFFFF";
    }
    if (key == "tx_version" || key == "change_baud" || key == "memory_offset" || key == "patch" ||
        key == "verify_write") {
        if (!ParseYesNo(v, flag))
            return "value must be yes or no";
        bool& target = key == "tx_version"      ? c.txVersion
                       : key == "change_baud"   ? c.changeBaud
                       : key == "memory_offset" ? c.memoryOffset
                       : key == "patch"         ? c.needsPatch
                                                : c.verifyWrite;
        target = flag;
        explicitFlags.insert(std::string(key));
        return "";
    }
    if (key == "baud_clock") {
        if (v.size() != 4 || !ParseHex(v, 4, n))
            return "baud_clock must be 4 hexadecimal digits (AL AH as sent)";
        c.baudClock = static_cast<std::uint16_t>((n >> 8) | (n & 0xFF) << 8);
        return "";
    }
    if (key == "fault.refuse" || key == "fault.silent" || key == "fault.corrupt" ||
        key == "fault.hangup") {
        std::set<unsigned>& s = key == "fault.refuse"   ? c.refuseFrames
                                : key == "fault.silent" ? c.silentFrames
                                : key == "fault.hangup" ? c.hangupFrames
                                                        : c.corruptReplies;
        return ParseCounts(v, s) ? "" : "fault needs frame numbers from 1, comma-separated";
    }
    if (key == "fault.flip")
        return ParseFlips(v, c.flips) ? "" : "fault.flip needs ADDRESS:BIT (bit 0..7) items";
    return "unknown key";
}

} // namespace

RomBslConfigResult ParseRomBslConfig(const Profile& profile) {
    RomBslConfigResult result;
    RomBslConfig& c = result.config;
    std::set<std::string> explicitFlags;
    result.error = ForEachLoaderKey(profile, [&](std::string_view key, std::string_view v) {
        return ApplyKey(key, v, c, explicitFlags);
    });
    if (!result.error.empty())
        return result;
    // What the loader offers follows from its version unless the profile says otherwise.
    unsigned version = c.VersionNumber();
    auto derive = [&](const char* key, bool& flag, bool value) {
        if (!explicitFlags.contains(key))
            flag = value;
    };
    derive("tx_version", c.txVersion, version >= 0x0150);
    derive("change_baud", c.changeBaud, version >= 0x0160);
    derive("patch", c.needsPatch, version == 0x0110);
    derive("memory_offset", c.memoryOffset, c.mainFlash.last > 0xFFFF);
    // The firmware's password answer is the reset vector the flash holds.
    std::uint32_t vector = 0;
    if (!c.resetVector && ParseHex(profile.password, 4, vector))
        c.resetVector = static_cast<std::uint16_t>(vector);
    result.ok = true;
    return result;
}

} // namespace sim::rombsl
