#pragma once

// TI-TXT images for tests: written from sections, and read back into memory
// contents to compare an instrument's flash dump with the image.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace titxt_test {

struct Section {
    std::uint32_t Address;
    std::vector<std::uint8_t> Bytes;
};
using Memory = std::map<std::uint32_t, std::uint8_t>;

inline std::vector<std::uint8_t> Counting(std::size_t count, unsigned first = 1) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

// Bytes that differ from their neighbours, so that data written to the
// wrong place shows; seed tells sections apart.
inline std::vector<std::uint8_t> Pattern(std::size_t count, int seed) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37 + static_cast<std::size_t>(seed) * 11);
    }
    return bytes;
}

inline std::string TiTxt(const std::vector<Section>& sections, const std::string& eol = "\r\n",
                         std::size_t perLine = 16) {
    std::string text;
    char hex[16];
    for (const Section& section : sections) {
        std::snprintf(hex, sizeof hex, "@%04X", static_cast<unsigned>(section.Address));
        text += hex + eol;
        for (std::size_t i = 0; i < section.Bytes.size(); ++i) {
            std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(section.Bytes[i]));
            bool lineEnd = (i + 1) % perLine == 0 || i + 1 == section.Bytes.size();
            text += hex + (lineEnd ? eol : " ");
        }
    }
    return text + "q" + eol;
}

// Code at start with the version marker "VER:2.00" at its 17th byte, and a
// vector table that holds its reset vector (start) alone, the others erased:
// a waiting loader's password is then that vector alone.
inline std::string ResetVectorImage(std::uint32_t start, int seed = 3) {
    std::vector<std::uint8_t> code = Pattern(600, seed);
    const std::string marker = "VER:2.00";
    std::copy(marker.begin(), marker.end(), code.begin() + 16);
    std::vector<std::uint8_t> vectors(32, 0xFF);
    vectors[30] = static_cast<std::uint8_t>(start & 0xFF);
    vectors[31] = static_cast<std::uint8_t>(start >> 8);
    return TiTxt({{start, code}, {0xFFE0, vectors}});
}

// A lab instrument's 5xx image: code low and above 64 KB with the version
// marker, and the vector table with its reset vector 0x5C00. With
// infoMemory, 64 bytes of information memory at 0x1800 as well.
inline std::string LabImage(bool infoMemory = false) {
    std::vector<std::uint8_t> code = Pattern(700, 1);
    const std::string marker = "VER:2.00";
    std::copy(marker.begin(), marker.end(), code.begin() + 16);
    std::vector<std::uint8_t> vectors = Pattern(128, 9);
    vectors[126] = 0x00;
    vectors[127] = 0x5C;
    std::vector<Section> sections = {{0x5C00, code}, {0x10000, Pattern(600, 2)}, {0xFF80, vectors}};
    if (infoMemory) {
        sections.insert(sections.begin(), {0x1800, Pattern(64, 5)});
    }
    return TiTxt(sections);
}

inline Memory MemoryOf(const std::vector<Section>& sections) {
    Memory memory;
    for (const Section& section : sections) {
        for (std::size_t i = 0; i < section.Bytes.size(); ++i) {
            memory[section.Address + static_cast<std::uint32_t>(i)] = section.Bytes[i];
        }
    }
    return memory;
}

// Memory contents of a well-formed TI-TXT text; a later byte at the same
// address wins.
inline Memory MemoryOf(const std::string& text) {
    Memory memory;
    std::istringstream lines(text);
    std::string line;
    std::uint32_t address = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line == "q") {
            continue;
        }
        if (line[0] == '@') {
            address = static_cast<std::uint32_t>(std::stoul(line.substr(1), nullptr, 16));
            continue;
        }
        std::istringstream bytes(line);
        std::string pair;
        while (bytes >> pair) {
            memory[address++] = static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16));
        }
    }
    return memory;
}

} // namespace titxt_test
