#include "platform/PortMap.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};

// (family rank, prefix, number) of a tty name; names without a number sort
// after numbered ones of the same prefix.
std::tuple<int, std::string, long> SortKey(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') {
        --digits;
    }
    std::string prefix = name.substr(0, digits);
    long number = -1;
    if (digits < name.size() && name.size() - digits <= 9) {
        number = std::strtol(name.c_str() + digits, nullptr, 10);
    } else if (digits < name.size()) {
        number = 999999999;
    }
    int rank = static_cast<int>(std::size(kFamilies));
    for (int i = 0; i < static_cast<int>(std::size(kFamilies)); ++i) {
        if (prefix == kFamilies[i]) {
            rank = i;
        }
    }
    return {rank, prefix, number < 0 ? 999999999 : number};
}

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A tty with a device behind it; 8250 ports report "type" 0 when the slot has
// no UART, and opening those fails with EIO, so they get no number.
bool IsRealPort(const fs::path& entry) {
    std::error_code error;
    if (!fs::exists(entry / "device", error)) {
        return false;
    }
    fs::path type = entry / "type";
    if (fs::exists(type, error) && ReadFirstLine(type) == "0") {
        return false;
    }
    return true;
}

} // namespace

std::vector<std::string> OrderTtyNames(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return SortKey(a) < SortKey(b);
    });
    return names;
}

PortMap PortMap::FromEnvironment() {
    const char* folder = std::getenv(EnvironmentVariable);
    if (folder != nullptr && *folder != '\0') {
        return FromLinkFolder(folder);
    }
    return FromSystem();
}

PortMap PortMap::FromLinkFolder(std::string folder) {
    PortMap map;
    map.linkFolder_ = std::move(folder);
    return map;
}

PortMap PortMap::FromSystem(std::string sysClassTty, std::string deviceFolder) {
    PortMap map;
    map.sysClassTty_ = std::move(sysClassTty);
    map.deviceFolder_ = std::move(deviceFolder);
    map.Rescan();
    return map;
}

void PortMap::Rescan() {
    if (UsesLinkFolder()) {
        return;
    }
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysClassTty_, error)) {
        if (IsRealPort(entry.path())) {
            names.push_back(entry.path().filename().string());
        }
    }
    names = OrderTtyNames(std::move(names));
    if (names.size() > static_cast<std::size_t>(MaxPorts)) {
        names.resize(MaxPorts);
    }
    devices_.clear();
    for (const std::string& name : names) {
        devices_.push_back((fs::path(deviceFolder_) / name).string());
    }
}

std::optional<std::string> PortMap::DevicePath(int index) const {
    if (index < 0 || index >= MaxPorts) {
        return std::nullopt;
    }
    if (UsesLinkFolder()) {
        fs::path link = fs::path(linkFolder_) / PortName(index);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(link, error))) {
            return std::nullopt;
        }
        return link.string();
    }
    if (static_cast<std::size_t>(index) >= devices_.size()) {
        return std::nullopt;
    }
    return devices_[index];
}

std::vector<std::pair<int, std::string>> PortMap::Entries() const {
    std::vector<std::pair<int, std::string>> entries;
    for (int index = 0; index < MaxPorts; ++index) {
        if (auto path = DevicePath(index)) {
            entries.emplace_back(index, *path);
        }
    }
    return entries;
}

std::string PortMap::PortName(int index) { return "COM" + std::to_string(index + 1); }

} // namespace platform
