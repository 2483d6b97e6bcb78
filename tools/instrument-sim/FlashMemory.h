#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Flash of the simulated processor: erased bytes read 0xFF and programming can only
// clear bits, so a loader that forgets to erase shows up in the dump.
class FlashMemory {
public:
    static constexpr std::uint8_t kErased = 0xFF;

    FlashMemory(std::uint32_t start, std::uint32_t size);

    std::uint32_t Start() const { return start_; }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    bool Contains(std::uint32_t address, std::size_t length) const;

    // False (and nothing changed) when any byte lies outside the flash.
    bool Program(std::uint32_t address, std::string_view data);
    bool Erase(std::uint32_t address, std::size_t length);
    bool Read(std::uint32_t address, std::size_t length, std::string& out) const;
    std::uint8_t At(std::uint32_t address) const;

    // TI-TXT of the programmed bytes (".txt" in any case), otherwise the raw image.
    bool Save(const std::string& path, std::string& error) const;
    std::string ToTiTxt() const;

private:
    std::uint32_t start_;
    std::vector<std::uint8_t> bytes_;
    std::vector<bool> programmed_;
};

} // namespace sim
