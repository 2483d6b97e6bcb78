#pragma once

#include "tools/instrument-sim/FlashMemory.h"
#include "tools/instrument-sim/RomBslConfig.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim::rombsl {

// The address space as the ROM loader sees it: boot ROM, RAM and the flash of the instrument.
// Flash segments are 512 bytes in main memory and 128 bytes in information memory.
class RomBslMemory {
public:
    enum class Region { None, BootRom, Ram, Flash };
    enum class WriteResult { Ok, Refused, ReadsBackWrong };

    static constexpr std::uint32_t kBootRomFirst = 0x0C00;
    static constexpr std::uint32_t kBootRomLast = 0x0FFF;
    static constexpr std::uint32_t kChipIdAddress = 0x0FF0;
    static constexpr std::uint32_t kVersionAddress = 0x0FFA;
    static constexpr std::uint32_t kMainSegment = 512;
    static constexpr std::uint32_t kInfoSegment = 128;

    explicit RomBslMemory(const RomBslConfig& config);

    Region RegionOf(std::uint32_t address) const;

    // Nothing is read, written or erased when a byte lies outside the mapped regions.
    bool Read(std::uint32_t address, std::size_t length, const FlashMemory& flash,
              bool swapFlashBytes, std::string& out) const;
    WriteResult Write(std::uint32_t address, std::string_view data, FlashMemory& flash);
    bool EraseSegment(std::uint32_t address, FlashMemory& flash);
    bool MassErase(bool withInfo, FlashMemory& flash);

    // True when every byte of the range was written since the loader started.
    bool RamWritten(std::uint32_t address, std::size_t length) const;
    void ForgetRam();

private:
    bool Mapped(std::uint32_t address, std::size_t length, const FlashMemory& flash,
                bool writable) const;
    std::uint8_t ReadByte(std::uint32_t address, const FlashMemory& flash, bool swap) const;
    void ApplyFlips(std::uint32_t address, std::size_t length, FlashMemory& flash) const;

    const RomBslConfig& config_;
    std::vector<std::uint8_t> bootRom_;
    std::vector<std::uint8_t> ram_;
    std::vector<bool> ramWritten_;
};

} // namespace sim::rombsl
