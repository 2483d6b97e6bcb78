#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace programmers {

// The loaders take one record per write command; the layout is the one the
// MSP430 programmers have always kept in memory, so it is fixed here.
inline constexpr std::size_t TiTxtDataSize = 246;
inline constexpr std::size_t TiTxtHeaderSize = 4;
inline constexpr std::size_t TiTxtWideHeaderSize = 6;
inline constexpr std::size_t TiTxtTableRecords = 1280;
inline constexpr std::size_t TiTxtPatchRecords = 20;

// Length counts the header, so a record with data holds at least 5 bytes.
// Address 0 with Length 0 is the empty record (the marker in front of the
// highest-segment records).
struct TTiTxtRecord {
    std::uint16_t Address;
    std::uint16_t Length;
    std::uint8_t Data[TiTxtDataSize];
};

struct TTiTxtWideRecord {
    std::uint32_t Address;
    std::uint16_t Length;
    std::uint8_t Data[TiTxtDataSize];
};

static_assert(std::endian::native == std::endian::little, "records are stored low byte first");
static_assert(sizeof(TTiTxtRecord) == 250 && offsetof(TTiTxtRecord, Data) == TiTxtHeaderSize);
static_assert(sizeof(TTiTxtWideRecord) == 252 &&
              offsetof(TTiTxtWideRecord, Data) == TiTxtWideHeaderSize);

using TTiTxtTable = std::array<TTiTxtRecord, TiTxtTableRecords>;
using TTiTxtPatchTable = std::array<TTiTxtRecord, TiTxtPatchRecords>;
using TTiTxtWideTable = std::array<TTiTxtWideRecord, TiTxtTableRecords>;

inline bool IsEmptyRecord(const TTiTxtRecord& record) {
    return record.Address == 0 && record.Length == 0;
}
inline bool IsEmptyRecord(const TTiTxtWideRecord& record) {
    return record.Address == 0 && record.Length == 0;
}

// The data bytes of a record, without its header.
inline std::size_t DataCount(const TTiTxtRecord& record) {
    return record.Length > TiTxtHeaderSize ? record.Length - TiTxtHeaderSize : 0;
}
inline std::size_t DataCount(const TTiTxtWideRecord& record) {
    return record.Length > TiTxtWideHeaderSize ? record.Length - TiTxtWideHeaderSize : 0;
}

} // namespace programmers
