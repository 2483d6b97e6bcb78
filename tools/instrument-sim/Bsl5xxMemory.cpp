#include "tools/instrument-sim/Bsl5xxMemory.h"

#include <algorithm>

namespace sim::bsl5xx {

Bsl5xxMemory::Bsl5xxMemory(const Bsl5xxConfig& config)
    : config_(config), descriptor_(kDescriptorLast - kDescriptorFirst + 1, 0xFF),
      ram_(config.ram.last - config.ram.first + 1, 0) {
    // The descriptor holds the chip identifier low byte first, as the chip does.
    descriptor_[kChipIdAddress - kDescriptorFirst] = static_cast<std::uint8_t>(config.chipId);
    descriptor_[kChipIdAddress - kDescriptorFirst + 1] =
        static_cast<std::uint8_t>(config.chipId >> 8);
}

Bsl5xxMemory::Region Bsl5xxMemory::RegionOf(std::uint32_t a) const {
    if (config_.ram.Holds(a))
        return Region::Ram;
    if (a >= kDescriptorFirst && a <= kDescriptorLast)
        return Region::Descriptor;
    if (config_.bslFlash.Holds(a))
        return Region::Bsl;
    if (config_.infoFlash.Holds(a))
        return Region::Info;
    if (config_.mainFlash.Holds(a))
        return Region::Main;
    return Region::None;
}

std::uint8_t Bsl5xxMemory::ReadByte(std::uint32_t a, const FlashMemory& flash) const {
    switch (RegionOf(a)) {
    case Region::Ram:
        return ram_[a - config_.ram.first];
    case Region::Descriptor:
        return descriptor_[a - kDescriptorFirst];
    case Region::Main:
    case Region::Info:
    case Region::Bsl:
        return flash.At(a);
    case Region::None:
        break;
    }
    return a % 2 == 0 ? 0xFF : 0x3F;
}

std::string Bsl5xxMemory::Read(std::uint32_t address, std::size_t length,
                               const FlashMemory& flash) const {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i)
        out.push_back(static_cast<char>(ReadByte(address + static_cast<std::uint32_t>(i), flash)));
    return out;
}

bool Bsl5xxMemory::Writable(std::uint32_t a) const {
    switch (RegionOf(a)) {
    case Region::Main:
    case Region::Ram:
        return true;
    case Region::Info:
        return !(infoALocked_ && a > config_.infoFlash.last - kInfoASize);
    default:
        return false;
    }
}

bool Bsl5xxMemory::Write(std::uint32_t address, std::string_view data, FlashMemory& flash) {
    bool exact = true;
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::uint32_t a = address + static_cast<std::uint32_t>(i);
        auto b = static_cast<std::uint8_t>(data[i]);
        if (Writable(a)) {
            if (RegionOf(a) == Region::Ram)
                ram_[a - config_.ram.first] = b;
            else
                flash.Program(a, data.substr(i, 1));
        }
        exact = exact && ReadByte(a, flash) == b;
    }
    return exact;
}

Bsl5xxMemory::EraseResult Bsl5xxMemory::EraseSegment(std::uint32_t address, FlashMemory& flash) {
    const Range* area = nullptr;
    std::uint32_t size = 0;
    switch (RegionOf(address)) {
    case Region::Main:
        area = &config_.mainFlash;
        size = kMainSegment;
        break;
    case Region::Info:
        if (infoALocked_ && address > config_.infoFlash.last - kInfoASize)
            return EraseResult::Locked;
        area = &config_.infoFlash;
        size = kInfoSegment;
        break;
    default:
        return EraseResult::NotErasable;
    }
    std::uint32_t base = address & ~(size - 1);
    std::uint32_t first = std::max(base, area->first);
    std::uint32_t last = std::min(base + size - 1, area->last);
    flash.Erase(first, last - first + 1);
    return EraseResult::Ok;
}

void Bsl5xxMemory::MassErase(FlashMemory& flash) {
    flash.Erase(config_.mainFlash.first, config_.mainFlash.last - config_.mainFlash.first + 1);
}

} // namespace sim::bsl5xx
