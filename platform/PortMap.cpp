#include "platform/PortMap.h"

#include "platform/PortDetails.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace platform {

namespace {

struct DeviceBlock {
    const char* prefix;
    int count;
};

constexpr DeviceBlock DefaultBlocks[] = {
    {"/dev/ttyS", 32},
    {"/dev/ttyUSB", 64},
    {"/dev/ttyACM", 64},
    {"/dev/ttyAMA", 16},
};

std::mutex mapMutex;
std::string mapDirectory;
// Devices named on the command line that the map does not number.
std::map<int, std::string> assigned;
int onlyIndex = -1;

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string DefaultPath(int index) {
    int first = 0;
    for (const DeviceBlock& block : DefaultBlocks) {
        if (index < first + block.count) {
            std::string path = block.prefix + std::to_string(index - first);
            return Exists(path) ? path : std::string();
        }
        first += block.count;
    }
    return {};
}

} // namespace

void SetPortMapDirectory(const std::string& directory) {
    std::lock_guard lock(mapMutex);
    mapDirectory = directory;
}

std::string PortMapDirectory() {
    {
        std::lock_guard lock(mapMutex);
        if (!mapDirectory.empty()) {
            return mapDirectory;
        }
    }
    const char* fromEnvironment = std::getenv(PortMapEnvironment);
    return fromEnvironment != nullptr ? fromEnvironment : "";
}

std::string PortDevicePath(int index) {
    if (index < 0 || index >= MaxPorts) {
        return {};
    }
    {
        std::lock_guard lock(mapMutex);
        if (onlyIndex >= 0 && index != onlyIndex) {
            return {};
        }
        if (auto found = assigned.find(index); found != assigned.end()) {
            return found->second;
        }
    }
    std::string directory = PortMapDirectory();
    if (directory.empty()) {
        return DefaultPath(index);
    }
    std::string link = directory + "/COM" + std::to_string(index + 1);
    return Exists(link) ? link : std::string();
}

int ComNameIndex(const std::string& text) {
    if (text.size() < 4 || std::toupper(static_cast<unsigned char>(text[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(text[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(text[2])) != 'M') {
        return -1;
    }
    int number = 0;
    const char* end = text.data() + text.size();
    auto [stop, result] = std::from_chars(text.data() + 3, end, number);
    return result == std::errc() && stop == end && number >= 1 && number <= MaxPorts ? number - 1
                                                                                     : -1;
}

namespace {

// The device behind a path with its links resolved; the path itself when it
// does not exist.
std::string DeviceBehind(const std::string& path) {
    std::error_code error;
    std::filesystem::path real = std::filesystem::canonical(path, error);
    return error ? path : real.string();
}

} // namespace

int AssignPort(const std::string& nameOrPath, std::string& error) {
    if (nameOrPath.find('/') == std::string::npos) {
        const int index = ComNameIndex(nameOrPath);
        if (index < 0) {
            error = "\"" + nameOrPath + "\" is neither a COM name (COM1..COM" +
                    std::to_string(MaxPorts) + ") nor a device path";
        }
        return index;
    }
    const std::string device = DeviceBehind(nameOrPath);
    int highest = -1;
    for (int index = 0; index < MaxPorts; ++index) {
        std::string path = PortDevicePath(index);
        if (path.empty()) {
            continue;
        }
        if (DeviceBehind(path) == device) {
            return index;
        }
        highest = index;
    }
    // Numbers above the mapped ones first, so that a map that grows later
    // keeps its own numbers; then any gap.
    for (int pass = 0; pass < 2; ++pass) {
        for (int index = pass == 0 ? highest + 1 : 0; index < MaxPorts; ++index) {
            if (PortDevicePath(index).empty()) {
                std::lock_guard lock(mapMutex);
                assigned[index] = nameOrPath;
                return index;
            }
        }
    }
    error = "no free COM number left for \"" + nameOrPath + "\"";
    return -1;
}

void LimitPortMapTo(int index) {
    std::lock_guard lock(mapMutex);
    onlyIndex = index;
}

void ClearAssignedPorts() {
    std::lock_guard lock(mapMutex);
    assigned.clear();
    onlyIndex = -1;
}

bool PortIsBusy(const std::string& path) {
    return ProbePortAccess(path) == PortAccess::Busy;
}

std::vector<PortMapEntry> ListPortMap() {
    std::vector<PortMapEntry> entries;
    for (int index = 0; index < MaxPorts; ++index) {
        std::string path = PortDevicePath(index);
        if (path.empty()) {
            continue;
        }
        entries.push_back({index, "COM" + std::to_string(index + 1), path, PortIsBusy(path)});
    }
    return entries;
}

} // namespace platform
