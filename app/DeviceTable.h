#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app {

// Column capacities in bytes including the terminating zero of the stored
// record; a value is kept to capacity - 1 characters.
namespace ColumnWidth {
inline constexpr std::size_t DeviceNr = 12;
inline constexpr std::size_t DeviceName = 32;
inline constexpr std::size_t ProgFile1 = 32;
inline constexpr std::size_t ProgFileList = 512;
inline constexpr std::size_t SWKenn = 64;
inline constexpr std::size_t BootLoadKenn = 64;
inline constexpr std::size_t FlashErase = 12;
inline constexpr std::size_t ProgDefFile = 32;
} // namespace ColumnWidth

struct DeviceRow {
    std::string DeviceNrDef;
    std::string DeviceNr;
    std::string DeviceName;
    std::string ProgFile1;
    std::string ProgFile2;
    std::string ProgFile3;
    std::string SWKenn1;
    std::string SWKenn2;
    std::string SWKenn3;
    std::string BootLoadKenn;
    std::string FlashErase1;
    std::string FlashErase2;
    std::string FlashErase3;
    std::string ProgDefFile;
    std::uint32_t ProzTyp = 0;
};

inline constexpr std::size_t MaxDeviceRows = 255;

// Column rules: each returns the value as stored and tells whether it had to
// be cut to the column's width.
std::string DeviceNrColumn(const std::string& value, bool& cut);
std::string TextColumn(const std::string& value, std::size_t width, bool& cut);
std::string FileColumn(const std::string& value, std::size_t width, bool& cut);
std::string SWKennColumn(const std::string& value, bool& cut);
std::uint32_t ProzTypColumn(const std::string& value);

// Highest erase start an MSP430 loader can address (20 bits).
inline constexpr std::uint32_t MaxFlashErase = 0xFFFFF;
// A FlashErase value as a number: hexadecimal after "0x", otherwise the
// leading decimal digits; empty is 0 (the loader's default). False when it
// lies beyond MaxFlashErase.
bool FlashEraseAddress(const std::string& value, std::uint32_t& address);

// Program-file class of a name: .TXT 1, .EXE 2, .HEX 3, .BIN 4, combined by
// bitwise or. Start-up does not count .BIN.
int FileClassOf(const std::string& name, bool countBin);

} // namespace app
