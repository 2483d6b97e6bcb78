#pragma once

#include "tools/instrument-sim/Bsl5xxConfig.h"
#include "tools/instrument-sim/FlashMemory.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim::bsl5xx {

// The address space as the 5xx/6xx loader sees it. Main flash has 512-byte segments and
// information memory 128-byte ones; the loader's own flash and the device descriptor
// (chip identifier) can be read but never written or erased.
class Bsl5xxMemory {
public:
    enum class Region { None, Main, Info, Bsl, Descriptor, Ram };
    enum class EraseResult { Ok, Locked, NotErasable };

    static constexpr std::uint32_t kDescriptorFirst = 0x1A00;
    static constexpr std::uint32_t kDescriptorLast = 0x1AFF;
    static constexpr std::uint32_t kChipIdAddress = 0x1A04;
    static constexpr std::uint32_t kMainSegment = 512;
    static constexpr std::uint32_t kInfoSegment = 128;
    static constexpr std::uint32_t kInfoASize = 128; // the last information segment

    explicit Bsl5xxMemory(const Bsl5xxConfig& config);

    Region RegionOf(std::uint32_t address) const;

    // Unmapped addresses read as vacant memory does (the word 0x3FFF).
    std::string Read(std::uint32_t address, std::size_t length, const FlashMemory& flash) const;
    // False when the bytes do not read back: flash can only clear bits, and read-only or
    // unmapped memory keeps what it had.
    bool Write(std::uint32_t address, std::string_view data, FlashMemory& flash);
    EraseResult EraseSegment(std::uint32_t address, FlashMemory& flash);
    void MassErase(FlashMemory& flash);

    bool InfoALocked() const { return infoALocked_; }
    void ToggleInfoALock() { infoALocked_ = !infoALocked_; }
    // At every start of the loader: information segment A locked, as after a reset.
    void Reset() { infoALocked_ = true; }

private:
    std::uint8_t ReadByte(std::uint32_t a, const FlashMemory& flash) const;
    bool Writable(std::uint32_t a) const;

    const Bsl5xxConfig& config_;
    std::vector<std::uint8_t> descriptor_;
    std::vector<std::uint8_t> ram_;
    bool infoALocked_ = true;
};

} // namespace sim::bsl5xx
