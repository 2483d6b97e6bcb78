#include "tools/instrument-sim/Bsl5xxConfig.h"

#include <algorithm>
#include <utility>

namespace sim::bsl5xx {
namespace {

constexpr std::uint32_t kMainFlashStart = 0x5C00;

// Returns an error text, empty when the key was taken.
std::string ApplyKey(std::string_view key, std::string_view v, Bsl5xxConfig& c, bool& mainSet) {
    std::uint32_t n = 0;
    if (key == "chip_id") {
        if (!ParseHex(v, 4, n))
            return "chip_id must be up to 4 hexadecimal digits";
        c.chipId = static_cast<std::uint16_t>(n);
        return "";
    }
    if (key == "version") {
        if (v.size() != 8 || !ParseHex(v, 8, n))
            return "version must be 8 hexadecimal digits (the four version bytes)";
        for (std::size_t i = 0; i < 4; ++i)
            c.version[i] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
        return "";
    }
    if (key == "main_flash" || key == "info_flash" || key == "bsl_flash" || key == "ram") {
        Range& r = key == "main_flash"   ? c.mainFlash
                   : key == "info_flash" ? c.infoFlash
                   : key == "bsl_flash"  ? c.bslFlash
                                         : c.ram;
        mainSet = mainSet || key == "main_flash";
        return ParseRange(v, r) ? "" : "range must be FIRST-LAST within 0xFFFFF";
    }
    if (key == "fault.refuse" || key == "fault.silent" || key == "fault.hangup" ||
        key == "fault.corrupt") {
        std::set<unsigned>& s = key == "fault.refuse"   ? c.refuseFrames
                                : key == "fault.silent" ? c.silentFrames
                                : key == "fault.hangup" ? c.hangupFrames
                                                        : c.corruptResponses;
        return ParseCountList(v, s) ? "" : "fault needs frame numbers from 1, comma-separated";
    }
    if (key == "fault.message") {
        bool ok = ForEachItem(v, [&](std::string_view item) {
            std::size_t colon = item.find(':');
            unsigned count = 0;
            std::uint32_t code = 0;
            if (colon == std::string_view::npos || !ParseCount(item.substr(0, colon), count) ||
                !ParseNumber(item.substr(colon + 1), code) || code > 0xFF)
                return false;
            return c.messageFrames.emplace(count, static_cast<std::uint8_t>(code)).second;
        });
        return ok ? "" : "fault.message needs FRAME:CODE items (code 0..255)";
    }
    return "unknown key";
}

} // namespace

Bsl5xxConfigResult ParseBsl5xxConfig(const Profile& profile) {
    Bsl5xxConfigResult result;
    Bsl5xxConfig& c = result.config;
    std::uint64_t flashEnd = std::uint64_t{profile.flashStart} + profile.flashSize - 1;
    c.mainFlash = {kMainFlashStart,
                   static_cast<std::uint32_t>(std::min<std::uint64_t>(flashEnd, kTopAddress))};
    bool mainSet = false;
    result.error = ForEachLoaderKey(profile, [&](std::string_view key, std::string_view v) {
        return ApplyKey(key, v, c, mainSet);
    });
    if (!result.error.empty())
        return result;
    // The flash regions must exist in the instrument's flash, or nothing there could be kept.
    const std::pair<const char*, const Range*> regions[] = {{"loader.main_flash", &c.mainFlash},
                                                            {"loader.info_flash", &c.infoFlash},
                                                            {"loader.bsl_flash", &c.bslFlash}};
    for (const auto& [key, r] : regions) {
        if (r->first > r->last || r->first < profile.flashStart || r->last > flashEnd) {
            result.error = std::string(key) + ": outside flash_start/flash_size";
            if (!mainSet && r == &c.mainFlash)
                result.error += " (main memory starts at 0x5C00)";
            return result;
        }
    }
    result.ok = true;
    return result;
}

} // namespace sim::bsl5xx
