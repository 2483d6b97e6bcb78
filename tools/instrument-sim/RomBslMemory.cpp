#include "tools/instrument-sim/RomBslMemory.h"

#include <algorithm>

namespace sim::rombsl {

RomBslMemory::RomBslMemory(const RomBslConfig& config)
    : config_(config), bootRom_(kBootRomLast - kBootRomFirst + 1, 0),
      ram_(config.ram.last - config.ram.first + 1, 0),
      ramWritten_(config.ram.last - config.ram.first + 1, false) {
    // The top of the boot ROM identifies the chip and the loader, high byte first.
    bootRom_[kChipIdAddress - kBootRomFirst] = static_cast<std::uint8_t>(config.chipId >> 8);
    bootRom_[kChipIdAddress - kBootRomFirst + 1] = static_cast<std::uint8_t>(config.chipId);
    bootRom_[kVersionAddress - kBootRomFirst] = config.versionHigh;
    bootRom_[kVersionAddress - kBootRomFirst + 1] = config.versionLow;
}

RomBslMemory::Region RomBslMemory::RegionOf(std::uint32_t a) const {
    if (config_.ram.Holds(a))
        return Region::Ram;
    if (a >= kBootRomFirst && a <= kBootRomLast)
        return Region::BootRom;
    if (config_.infoFlash.Holds(a) || config_.mainFlash.Holds(a))
        return Region::Flash;
    return Region::None;
}

bool RomBslMemory::Mapped(std::uint32_t address, std::size_t length, const FlashMemory& flash,
                          bool writable) const {
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t a = address + static_cast<std::uint32_t>(i);
        Region r = RegionOf(a);
        if (r == Region::None || (writable && r == Region::BootRom) ||
            (r == Region::Flash && !flash.Contains(a, 1)))
            return false;
    }
    return true;
}

std::uint8_t RomBslMemory::ReadByte(std::uint32_t a, const FlashMemory& flash, bool swap) const {
    switch (RegionOf(a)) {
    case Region::Ram:
        return ram_[a - config_.ram.first];
    case Region::BootRom:
        return bootRom_[a - kBootRomFirst];
    case Region::Flash:
        return flash.At(swap ? a ^ 1 : a);
    case Region::None:
        break;
    }
    return FlashMemory::kErased;
}

bool RomBslMemory::Read(std::uint32_t address, std::size_t length, const FlashMemory& flash,
                        bool swapFlashBytes, std::string& out) const {
    if (!Mapped(address, length, flash, false))
        return false;
    out.clear();
    for (std::size_t i = 0; i < length; ++i)
        out.push_back(static_cast<char>(
            ReadByte(address + static_cast<std::uint32_t>(i), flash, swapFlashBytes)));
    return true;
}

RomBslMemory::WriteResult RomBslMemory::Write(std::uint32_t address, std::string_view data,
                                              FlashMemory& flash) {
    if (!Mapped(address, data.size(), flash, true))
        return WriteResult::Refused;
    bool exact = true;
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::uint32_t a = address + static_cast<std::uint32_t>(i);
        auto b = static_cast<std::uint8_t>(data[i]);
        if (RegionOf(a) == Region::Ram) {
            ram_[a - config_.ram.first] = b;
            ramWritten_[a - config_.ram.first] = true;
        } else {
            flash.Program(a, data.substr(i, 1));
        }
    }
    ApplyFlips(address, data.size(), flash);
    for (std::size_t i = 0; i < data.size() && exact; ++i)
        exact = ReadByte(address + static_cast<std::uint32_t>(i), flash, false) ==
                static_cast<std::uint8_t>(data[i]);
    return exact ? WriteResult::Ok : WriteResult::ReadsBackWrong;
}

void RomBslMemory::ApplyFlips(std::uint32_t address, std::size_t length, FlashMemory& flash) const {
    for (const BitFlip& f : config_.flips) {
        if (f.address < address || f.address - address >= length ||
            RegionOf(f.address) != Region::Flash)
            continue;
        // Flash can only clear bits, so a flip that sets one needs the cell erased first.
        auto b = static_cast<char>(flash.At(f.address) ^ (1u << f.bit));
        flash.Erase(f.address, 1);
        flash.Program(f.address, std::string_view(&b, 1));
    }
}

bool RomBslMemory::EraseSegment(std::uint32_t address, FlashMemory& flash) {
    Range seg;
    if (config_.infoFlash.Holds(address)) {
        std::uint32_t base = address & ~(kInfoSegment - 1);
        seg.first = std::max(base, config_.infoFlash.first);
        seg.last = std::min(base + kInfoSegment - 1, config_.infoFlash.last);
    } else if (config_.mainFlash.Holds(address)) {
        // A main memory that starts inside a segment has a short first segment.
        std::uint32_t base = address & ~(kMainSegment - 1);
        seg.first = std::max(base, config_.mainFlash.first);
        seg.last = std::min(base + kMainSegment - 1, config_.mainFlash.last);
    } else {
        return false;
    }
    return flash.Erase(seg.first, seg.last - seg.first + 1);
}

bool RomBslMemory::MassErase(bool withInfo, FlashMemory& flash) {
    const Range& m = config_.mainFlash;
    bool ok = flash.Erase(m.first, m.last - m.first + 1);
    if (withInfo) {
        const Range& i = config_.infoFlash;
        ok = flash.Erase(i.first, i.last - i.first + 1) && ok;
    }
    return ok;
}

bool RomBslMemory::RamWritten(std::uint32_t address, std::size_t length) const {
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t a = address + static_cast<std::uint32_t>(i);
        if (!config_.ram.Holds(a) || !ramWritten_[a - config_.ram.first])
            return false;
    }
    return true;
}

void RomBslMemory::ForgetRam() {
    std::fill(ramWritten_.begin(), ramWritten_.end(), false);
}

} // namespace sim::rombsl
