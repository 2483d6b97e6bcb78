#pragma once

#include "programmers/TiTxtRecords.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace programmers {

// Why a file was refused. Every refusal happens before the programmer has
// touched the instrument, so a bad file never costs an erased flash.
enum class TiTxtError {
    None,
    DataBeforeAddress, // data bytes before the first "@" line
    BadAddress,        // "@" without a hexadecimal number, or more than 32 bits
    BadHexDigit,       // a character in a data line that is no hex digit or blank
    DigitCount,        // a data byte not written as exactly two digits
    AddressRange,      // data beyond what the loader can address
    LowAfterHigh,      // a section below 0x10000 after one above (16-bit reader)
    OddBoundary,       // an odd byte count up to 0x10000 (16-bit reader)
    TableFull,         // more records than the table holds
    NoData,            // no data byte at all
};

struct TTiTxtResult {
    TiTxtError Error = TiTxtError::None;
    std::int32_t Line = 0; // 1-based line of the refused input; 0 for the whole file
    std::string Detail;    // short English text; the caller adds the file name
    std::int32_t LastRecord = -1;
    // ReadTiTxt: first record at or above 0x10000 after the reordering.
    std::int32_t FirstHighRecord = -1;
    // ReadTiTxtWide: first record (as read) that reaches into the highest
    // segment below 0x10000, and how many do.
    std::int32_t FirstTopRecord = -1;
    std::int32_t TopRecordCount = 0;

    bool Ok() const { return Error == TiTxtError::None; }
};

// The table is cleared first and again on refusal. With high records the
// result is one past the scan's last record: the empty marker stands there,
// or in front of the records of the highest segment that were moved last.
TTiTxtResult ReadTiTxt(const char* text, std::size_t size, std::span<TTiTxtRecord> table);
TTiTxtResult ReadTiTxtWide(const char* text, std::size_t size, std::span<TTiTxtWideRecord> table);

// The reset vector, the word at 0xFFFE, of an image the readers above
// filled: where the chip starts after a reset, so where the firmware is
// started. False when the image does not hold both of its bytes.
bool ImageResetVector(std::span<const TTiTxtRecord> table, const TTiTxtResult& result,
                      std::uint16_t& vector);
bool ImageResetVector(std::span<const TTiTxtWideRecord> table, const TTiTxtResult& result,
                      std::uint16_t& vector);

// "line 12: ..." or the detail alone when no line is concerned.
std::string TiTxtErrorText(const TTiTxtResult& result);

} // namespace programmers
