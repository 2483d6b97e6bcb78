#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Flash of the simulated processor: erased bytes read 0xFF and programming can only
// clear bits, so a loader that forgets to erase shows up in the dump. The TI-TXT
// dump holds the bytes a loader programmed, as they read now.
class FlashMemory {
public:
    static constexpr std::uint8_t kErased = 0xFF;

    FlashMemory(std::uint32_t start, std::uint32_t size);

    std::uint32_t Start() const { return start_; }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    bool Contains(std::uint32_t address, std::size_t length) const;

    // The old image an instrument leaves the factory with: every byte the
    // address modulo 251 (never 0xFF), none of it counted as programmed.
    void FillOld();
    static std::uint8_t OldByte(std::uint32_t address) {
        return static_cast<std::uint8_t>(address % 251);
    }
    // Old content in place (the old firmware's own bytes), not counted as
    // programmed; false when outside the flash.
    bool SetOld(std::uint32_t address, std::string_view data);
    bool Programmed(std::uint32_t address) const;

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
