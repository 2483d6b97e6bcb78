#pragma once

#include <array>
#include <string>
#include <vector>

namespace app {

// Line speeds the device search can try, by index from the Baud setting.
inline constexpr std::array<const char*, 6> BaudRateTexts = {"1200", "2400",  "4800",
                                                             "9600", "19200", "38400"};
inline constexpr std::size_t MaxBaudEntries = 17;
inline constexpr std::size_t IniValueWidth = 255;

// The tool's own settings from Update.ini.
struct Settings {
    int Language = 0; // 0 German, 1 English
    std::string VersionText;
    std::vector<int> BaudList;
    bool FixedPort = false;
    int FixedPortIndex = -1; // 0-based
    std::string ProgDeviceFile = "ProgDevice.ini";
    bool ProgErrorNewTry = false;
    bool DebugInfo = false;
    bool SWCheck = true;
    bool AutoStart = false;
    bool AutoStartActive = false;
};

inline const std::vector<int>& DefaultBaudList() {
    static const std::vector<int> list = {2, 3, 4, 1, 0};
    return list;
}

} // namespace app
