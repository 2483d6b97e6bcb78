#include "programmers/TiTxtReader.h"

#include "kernel/Stringunit.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

namespace programmers {

namespace {

constexpr std::uint64_t HighBase = 0x10000;
constexpr std::uint64_t HighLimit = 0x1FFFF;    // last byte the 16-bit loader reaches with offset 1
constexpr std::uint64_t WideLimit = 0xFFFFFFFF; // last byte a 32-bit record address can name
constexpr std::uint32_t TopSegmentEnd = 0xFDFF; // a record ending above this reaches 0xFE00..0xFFFF
constexpr int LinesPerRecord = 15;
constexpr std::uint8_t PadAtSection = 0xFF;   // erased flash: writing it changes nothing
constexpr std::uint8_t PadAtLineLimit = 0x00; // what the 15-line close has always written

template <class Record> constexpr bool IsWide = std::is_same_v<Record, TTiTxtWideRecord>;

template <class Record> constexpr std::size_t HeaderSize() {
    return IsWide<Record> ? TiTxtWideHeaderSize : TiTxtHeaderSize;
}

// Reaches into the highest segment below 0x10000 (interrupt vectors and
// with them the loader password), so it must be written last.
template <class Record> bool CoversTopSegment(const Record& record) {
    return record.Address < HighBase &&
           record.Address + DataCount(record) > static_cast<std::size_t>(TopSegmentEnd);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Hex(std::uint64_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + text;
}

std::string Shown(char c) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
        return std::string("'") + c + "'";
    }
    std::string text = Hex(byte);
    return text.size() == 3 ? "0x0" + text.substr(2) : text;
}

// Fills the table record by record. A record closes at a new section, after
// 15 data lines, when its data area is full, and at 0x10000 for the 16-bit
// loader; its successor starts at the address of the next byte.
template <class Record> class RecordBuilder {
public:
    explicit RecordBuilder(std::span<Record> table) : table_(table) {}

    bool StartSection(std::uint64_t address) {
        if (!Close()) {
            return false;
        }
        if constexpr (!IsWide<Record>) {
            if (address > HighLimit) {
                return Fail(TiTxtError::AddressRange,
                            "address " + Hex(address) + " is beyond 0x1FFFF");
            }
            if (address < HighBase && firstHigh_ >= 0) {
                return Fail(TiTxtError::LowAfterHigh,
                            "section at " + Hex(address) + " follows data above 0xFFFF");
            }
        }
        return Begin(address, 0);
    }

    bool Append(std::uint8_t byte) {
        if (!open_) {
            return Fail(TiTxtError::DataBeforeAddress, "data before the first \"@\" line");
        }
        if (next_ > Limit()) {
            return Fail(TiTxtError::AddressRange, "data runs past " + Hex(Limit()));
        }
        Record& record = table_[current_];
        if (!IsWide<Record> && start_ < HighBase && next_ == HighBase) {
            if (DataCount(record) % 2 != 0) {
                return OddBoundary();
            }
            if (!Close() || !Begin(HighBase, 0)) {
                return false;
            }
        } else if (lineLimit_ || DataCount(record) == TiTxtDataSize) {
            if (!Split()) {
                return false;
            }
        }
        // Only a record that holds data is high: an empty slot is reused.
        if (!IsWide<Record> && start_ >= HighBase && firstHigh_ < 0) {
            firstHigh_ = static_cast<std::int32_t>(current_);
        }
        Put(byte);
        return true;
    }

    void EndDataLine() {
        if (!open_) {
            return;
        }
        if (++lines_ == LinesPerRecord) {
            lineLimit_ = true;
            lines_ = 0;
        }
    }

    // Index of the last record, -1 when nothing holds data.
    bool Finish(std::int32_t& last) {
        if (!Close()) {
            return false;
        }
        last = static_cast<std::int32_t>(current_) - 1;
        return true;
    }

    std::int32_t FirstHighRecord() const { return firstHigh_; }
    std::int32_t FirstTopRecord() const { return firstTop_; }
    std::int32_t TopRecordCount() const { return topCount_; }
    TiTxtError Error() const { return error_; }
    const std::string& Detail() const { return detail_; }

private:
    static constexpr std::uint64_t Limit() { return IsWide<Record> ? WideLimit : HighLimit; }

    bool Fail(TiTxtError error, std::string detail) {
        error_ = error;
        detail_ = std::move(detail);
        return false;
    }

    bool OddBoundary() {
        return Fail(TiTxtError::OddBoundary,
                    "odd number of bytes up to 0xFFFF in the record at " + Hex(start_));
    }

    bool Begin(std::uint64_t address, int lines) {
        if (current_ >= table_.size()) {
            return Fail(TiTxtError::TableFull,
                        "more than " + std::to_string(table_.size()) + " records");
        }
        Record& record = table_[current_];
        if constexpr (IsWide<Record>) {
            record.Address = static_cast<std::uint32_t>(address);
        } else {
            record.Address = static_cast<std::uint16_t>(address & 0xFFFF);
        }
        record.Length = HeaderSize<Record>();
        start_ = address;
        next_ = address;
        open_ = true;
        lineLimit_ = false;
        lines_ = lines;
        return true;
    }

    void Put(std::uint8_t byte) {
        Record& record = table_[current_];
        record.Data[DataCount(record)] = byte;
        ++record.Length;
        ++next_;
    }

    // Ends the open record: padded to an even length, or given back when it
    // holds nothing, so that no record without data is left in the table.
    bool Close() {
        if (!open_) {
            return true;
        }
        open_ = false;
        Record& record = table_[current_];
        if (DataCount(record) == 0) {
            std::memset(&record, 0, sizeof record);
            return true;
        }
        if (DataCount(record) % 2 != 0) {
            if (!IsWide<Record> && start_ < HighBase && next_ == HighBase) {
                return OddBoundary();
            }
            if (next_ > Limit()) {
                return Fail(TiTxtError::AddressRange, "data runs past " + Hex(Limit()));
            }
            Put(lineLimit_ ? PadAtLineLimit : PadAtSection);
        }
        if constexpr (IsWide<Record>) {
            if (CoversTopSegment(record)) {
                if (firstTop_ < 0) {
                    firstTop_ = static_cast<std::int32_t>(current_);
                }
                ++topCount_;
            }
        }
        ++current_;
        return true;
    }

    // The section goes on in a new record. An odd last byte moves along
    // instead of being padded, so that every later byte keeps its address.
    bool Split() {
        Record& record = table_[current_];
        const int lines = lineLimit_ ? lines_ : 0;
        std::size_t count = DataCount(record);
        const bool carry = count % 2 != 0;
        std::uint8_t carried = 0;
        if (carry) {
            carried = record.Data[count - 1];
            record.Data[count - 1] = 0;
            --record.Length;
            --next_;
        }
        lineLimit_ = false;
        if (!Close() || !Begin(next_, lines)) {
            return false;
        }
        if (carry) {
            Put(carried);
        }
        return true;
    }

    std::span<Record> table_;
    std::size_t current_ = 0;
    bool open_ = false;
    bool lineLimit_ = false; // 15 lines read: the next byte starts a new record
    int lines_ = 0;
    std::uint64_t start_ = 0; // full address of the open record
    std::uint64_t next_ = 0;  // full address of the next byte
    std::int32_t firstHigh_ = -1;
    std::int32_t firstTop_ = -1;
    std::int32_t topCount_ = 0;
    TiTxtError error_ = TiTxtError::None;
    std::string detail_;
};

struct LineFault {
    TiTxtError Error = TiTxtError::None;
    std::string Detail;
};

bool ParseAddress(std::string_view text, std::uint64_t& address, LineFault& fault) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) {
        ++pos;
    }
    std::size_t digits = 0;
    address = 0;
    for (; pos < text.size() && !IsBlank(text[pos]); ++pos, ++digits) {
        int value = kernel::HexDigitValue(text[pos]);
        if (value < 0) {
            fault = {TiTxtError::BadAddress, "address contains " + Shown(text[pos])};
            return false;
        }
        address = address * 16 + static_cast<unsigned>(value);
        if (address > WideLimit) {
            fault = {TiTxtError::BadAddress, "address has more than 32 bits"};
            return false;
        }
    }
    while (pos < text.size() && IsBlank(text[pos])) {
        ++pos;
    }
    if (digits == 0 || pos != text.size()) {
        fault = {TiTxtError::BadAddress, "\"@\" is not followed by one hexadecimal address"};
        return false;
    }
    return true;
}

template <class Record>
bool ParseDataLine(std::string_view text, RecordBuilder<Record>& builder, LineFault& fault) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (IsBlank(text[pos])) {
            ++pos;
            continue;
        }
        const std::size_t first = pos;
        int value = 0;
        for (; pos < text.size() && !IsBlank(text[pos]); ++pos) {
            int digit = kernel::HexDigitValue(text[pos]);
            if (digit < 0) {
                fault = {TiTxtError::BadHexDigit, Shown(text[pos]) + " is no hexadecimal digit"};
                return false;
            }
            value = (value << 4 | digit) & 0xFF;
        }
        if (pos - first != 2) {
            std::string_view token = text.substr(first, std::min<std::size_t>(pos - first, 8));
            fault = {TiTxtError::DigitCount, "data byte \"" + std::string(token) +
                                                 (pos - first > 8 ? "..." : "") +
                                                 "\" does not have two digits"};
            return false;
        }
        if (!builder.Append(static_cast<std::uint8_t>(value))) {
            fault = {builder.Error(), builder.Detail()};
            return false;
        }
    }
    builder.EndDataLine();
    return true;
}

// CR LF, LF alone and CR alone each end a line: files written on Linux
// are read like the ones from Windows.
std::size_t NextLineStart(const char* text, std::size_t size, std::size_t end) {
    if (end >= size) {
        return size;
    }
    if (text[end] == '\r' && end + 1 < size && text[end + 1] == '\n') {
        return end + 2;
    }
    return end + 1;
}

template <class Record>
bool Scan(const char* text, std::size_t size, RecordBuilder<Record>& builder,
          TTiTxtResult& result) {
    std::size_t pos = 0;
    std::int32_t line = 1;
    bool quit = false;
    LineFault fault;
    while (pos < size) {
        std::size_t end = pos;
        while (end < size && text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        std::string_view body(text + pos, end - pos);
        if (!body.empty() && body.front() == 'q') {
            quit = true;
            break;
        }
        bool ok = true;
        if (!body.empty() && body.front() == '@') {
            std::uint64_t address = 0;
            ok = ParseAddress(body.substr(1), address, fault);
            if (ok && !builder.StartSection(address)) {
                fault = {builder.Error(), builder.Detail()};
                ok = false;
            }
        } else {
            ok = ParseDataLine(body, builder, fault);
        }
        if (!ok) {
            result.Error = fault.Error;
            result.Detail = fault.Detail;
            result.Line = line;
            return false;
        }
        pos = NextLineStart(text, size, end);
        ++line;
    }
    std::int32_t last = -1;
    if (!builder.Finish(last)) {
        result.Error = builder.Error();
        result.Detail = builder.Detail();
        result.Line = quit ? line : std::max(line - 1, 1);
        return false;
    }
    if (last < 0) {
        result.Error = TiTxtError::NoData;
        result.Detail = "no data bytes";
        return false;
    }
    result.LastRecord = last;
    return true;
}

template <class Record> void Clear(std::span<Record> table) {
    std::memset(table.data(), 0, table.size_bytes());
}

// The highest-segment records below the first high record go behind
// everything, with the empty record (table[count]) in front of them.
bool MoveTopRecordsLast(std::span<TTiTxtRecord> table, TTiTxtResult& result) {
    const auto count = static_cast<std::size_t>(result.LastRecord) + 1;
    if (count >= table.size()) {
        result.Error = TiTxtError::TableFull;
        result.Detail =
            "no room for the marker record behind " + std::to_string(table.size() - 1) + " records";
        return false;
    }
    auto begin = table.begin();
    auto high = begin + result.FirstHighRecord;
    auto moved = std::stable_partition(
        begin, high, [](const TTiTxtRecord& record) { return !CoversTopSegment(record); });
    std::rotate(moved, high, begin + static_cast<std::ptrdiff_t>(count) + 1);
    result.FirstHighRecord -= static_cast<std::int32_t>(high - moved);
    result.LastRecord = static_cast<std::int32_t>(count);
    return true;
}

} // namespace

TTiTxtResult ReadTiTxt(const char* text, std::size_t size, std::span<TTiTxtRecord> table) {
    TTiTxtResult result;
    Clear(table);
    RecordBuilder<TTiTxtRecord> builder(table);
    bool ok = Scan(text, size, builder, result);
    if (ok) {
        result.FirstHighRecord = builder.FirstHighRecord();
        if (result.FirstHighRecord > 0) {
            ok = MoveTopRecordsLast(table, result);
        }
    }
    if (!ok) {
        Clear(table);
        result.LastRecord = -1;
        result.FirstHighRecord = -1;
    }
    return result;
}

TTiTxtResult ReadTiTxtWide(const char* text, std::size_t size, std::span<TTiTxtWideRecord> table) {
    TTiTxtResult result;
    Clear(table);
    RecordBuilder<TTiTxtWideRecord> builder(table);
    if (!Scan(text, size, builder, result)) {
        Clear(table);
        result.LastRecord = -1;
        return result;
    }
    result.FirstTopRecord = builder.FirstTopRecord();
    result.TopRecordCount = builder.TopRecordCount();
    if (result.TopRecordCount > 0 && result.FirstTopRecord != 0) {
        auto end = table.begin() + result.LastRecord + 1;
        std::stable_partition(table.begin(), end, [](const TTiTxtWideRecord& record) {
            return !CoversTopSegment(record);
        });
    }
    return result;
}

namespace {

constexpr std::uint32_t ResetVectorAddress = 0xFFFE;

// In the 16-bit table the records from FirstHighRecord to the empty marker
// count from 0x10000; the wide table holds full addresses.
template <class Record>
bool ResetVectorIn(std::span<const Record> table, const TTiTxtResult& result,
                   std::uint16_t& vector) {
    std::array<int, 2> bytes = {-1, -1};
    bool highZone = false;
    for (std::int32_t i = 0; i <= result.LastRecord && i < static_cast<std::int32_t>(table.size());
         ++i) {
        const Record& record = table[static_cast<std::size_t>(i)];
        if (!IsWide<Record> && i == result.FirstHighRecord) {
            highZone = true;
        }
        if (IsEmptyRecord(record)) {
            highZone = false;
            continue;
        }
        const auto base = static_cast<std::uint32_t>(highZone ? HighBase : 0);
        for (std::uint32_t k = 0; k < 2; ++k) {
            const std::uint32_t address = ResetVectorAddress + k;
            const std::uint32_t first = base + record.Address;
            if (address >= first && address < first + DataCount(record)) {
                bytes[k] = record.Data[address - first];
            }
        }
    }
    if (bytes[0] < 0 || bytes[1] < 0) {
        return false;
    }
    vector = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

} // namespace

bool ImageResetVector(std::span<const TTiTxtRecord> table, const TTiTxtResult& result,
                      std::uint16_t& vector) {
    return ResetVectorIn(table, result, vector);
}

bool ImageResetVector(std::span<const TTiTxtWideRecord> table, const TTiTxtResult& result,
                      std::uint16_t& vector) {
    return ResetVectorIn(table, result, vector);
}

std::string TiTxtErrorText(const TTiTxtResult& result) {
    if (result.Line > 0) {
        return "line " + std::to_string(result.Line) + ": " + result.Detail;
    }
    return result.Detail;
}

} // namespace programmers
