#include "tools/instrument-sim/FlashMemory.h"

#include <cstdio>
#include <fstream>

namespace sim {

FlashMemory::FlashMemory(std::uint32_t start, std::uint32_t size)
    : start_(start), bytes_(size, kErased), programmed_(size, false) {}

bool FlashMemory::Contains(std::uint32_t address, std::size_t length) const {
    if (address < start_)
        return false;
    std::uint64_t offset = address - start_;
    return offset + length <= bytes_.size();
}

void FlashMemory::FillOld() {
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        bytes_[i] = OldByte(start_ + static_cast<std::uint32_t>(i));
        programmed_[i] = false;
    }
}

bool FlashMemory::SetOld(std::uint32_t address, std::string_view data) {
    if (!Contains(address, data.size()))
        return false;
    std::size_t offset = address - start_;
    for (std::size_t i = 0; i < data.size(); ++i) {
        bytes_[offset + i] = static_cast<std::uint8_t>(data[i]);
        programmed_[offset + i] = false;
    }
    return true;
}

bool FlashMemory::Programmed(std::uint32_t address) const {
    return Contains(address, 1) && programmed_[address - start_];
}

bool FlashMemory::Program(std::uint32_t address, std::string_view data) {
    if (!Contains(address, data.size()))
        return false;
    std::size_t offset = address - start_;
    for (std::size_t i = 0; i < data.size(); ++i) {
        bytes_[offset + i] &= static_cast<std::uint8_t>(data[i]);
        programmed_[offset + i] = true;
    }
    return true;
}

bool FlashMemory::Erase(std::uint32_t address, std::size_t length) {
    if (!Contains(address, length))
        return false;
    std::size_t offset = address - start_;
    for (std::size_t i = 0; i < length; ++i) {
        bytes_[offset + i] = kErased;
        programmed_[offset + i] = false;
    }
    return true;
}

bool FlashMemory::Read(std::uint32_t address, std::size_t length, std::string& out) const {
    if (!Contains(address, length))
        return false;
    std::size_t offset = address - start_;
    out.assign(reinterpret_cast<const char*>(bytes_.data() + offset), length);
    return true;
}

std::uint8_t FlashMemory::At(std::uint32_t address) const {
    return Contains(address, 1) ? bytes_[address - start_] : kErased;
}

std::string FlashMemory::ToTiTxt() const {
    std::string out;
    char buf[16];
    std::size_t i = 0;
    while (i < bytes_.size()) {
        if (!programmed_[i]) {
            ++i;
            continue;
        }
        std::snprintf(buf, sizeof buf, "@%04X\n", static_cast<unsigned>(start_ + i));
        out += buf;
        std::size_t inLine = 0;
        for (; i < bytes_.size() && programmed_[i]; ++i) {
            std::snprintf(buf, sizeof buf, "%02X", bytes_[i]);
            out += buf;
            out += ++inLine == 16 ? '\n' : ' ';
            if (inLine == 16)
                inLine = 0;
        }
        if (inLine != 0)
            out.back() = '\n';
    }
    out += "q\n";
    return out;
}

bool FlashMemory::Save(const std::string& path, std::string& error) const {
    std::string lower;
    for (char c : path.substr(path.size() >= 4 ? path.size() - 4 : 0))
        lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (lower == ".txt") {
        std::string text = ToTiTxt();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    } else {
        out.write(reinterpret_cast<const char*>(bytes_.data()),
                  static_cast<std::streamsize>(bytes_.size()));
    }
    out.close();
    if (!out) {
        error = "cannot write flash dump " + path;
        return false;
    }
    return true;
}

} // namespace sim
