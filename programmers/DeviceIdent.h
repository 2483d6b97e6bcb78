#pragma once

#include <cstdint>
#include <string>

namespace programmers {

// Text capacities in bytes, terminating zero included; values are cut to
// one less where they are filled.
namespace IdentWidth {
inline constexpr std::size_t PcbNr = 20;
inline constexpr std::size_t DeviceNr = 20;
inline constexpr std::size_t Version = 16;
inline constexpr std::size_t SerialNr = 32;
} // namespace IdentWidth

// Identity of the connected instrument and the versions found in the files.
struct TDeviceIdent {
    std::string PcbNr;
    std::string DeviceNr;
    std::string SwVersion;
    std::string FileSwVersion;
    std::string FileBootVersion;
    std::string SerialNr;
    std::int32_t DevSw = 0;
    std::int32_t FileSw = 0;
    std::int32_t DevBoot = 0;
    std::int32_t FileBoot = 0;
    std::int32_t DevExe = 0;
    std::int32_t FileExe = 0;
    std::int32_t ProgFileCount = 0;
};

} // namespace programmers
