#pragma once

// The reader's record tables turned back into memory contents.
#include "programmers/TiTxtRecords.h"
#include "tests/support/TiTxtImage.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace titxt_test {

constexpr std::uint32_t Broken = 0xFFFFFFFF; // marks an odd or overlapping record

// Memory as the loader writes it. For the 16-bit table, records from
// firstHigh up to the empty marker go with memory offset 1.
template <class Record>
Memory Reassemble(std::span<const Record> table, std::int32_t last, std::int32_t firstHigh = -1) {
    constexpr std::size_t header = sizeof(Record) - programmers::TiTxtDataSize;
    Memory memory;
    bool afterMarker = false;
    for (std::int32_t i = 0; i <= last; ++i) {
        const Record& record = table[static_cast<std::size_t>(i)];
        if (programmers::IsEmptyRecord(record)) {
            afterMarker = true;
            continue;
        }
        std::uint32_t base = firstHigh >= 0 && i >= firstHigh && !afterMarker ? 0x10000 : 0;
        std::size_t count = record.Length - header;
        if (record.Length % 2 != 0 || record.Length <= header || count > sizeof record.Data) {
            memory[Broken] = 1;
            continue;
        }
        for (std::size_t k = 0; k < count; ++k) {
            if (!memory.emplace(base + record.Address + k, record.Data[k]).second) {
                memory[Broken] = 2;
            }
        }
    }
    return memory;
}

// The image exactly, plus at most padding bytes (0xFF, 0x00) right behind
// image bytes.
inline std::string Compare(const Memory& read, const Memory& image) {
    char why[64] = "";
    for (const auto& [address, value] : image) {
        auto it = read.find(address);
        if (it == read.end() || it->second != value) {
            std::snprintf(why, sizeof why, "0x%X missing or different", address);
            return why;
        }
    }
    for (const auto& [address, value] : read) {
        bool pad = (value == 0xFF || value == 0x00) && image.count(address - 1) != 0;
        if (image.count(address) == 0 && (!pad || address == Broken)) {
            std::snprintf(why, sizeof why, "stray 0x%02X at 0x%X", value, address);
            return why;
        }
    }
    return why;
}

} // namespace titxt_test
