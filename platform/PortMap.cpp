#include "platform/PortMap.h"

#include "platform/PortDetails.h"

#include <cstdlib>
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
    std::string directory = PortMapDirectory();
    if (directory.empty()) {
        return DefaultPath(index);
    }
    std::string link = directory + "/COM" + std::to_string(index + 1);
    return Exists(link) ? link : std::string();
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
