// Feeds arbitrary bytes to both TI-TXT readers, into the image table and
// the small patch table. Every accepted image must consist of records the
// loaders can send: even lengths within the record, the index inside the
// table.
#include "programmers/TiTxtReader.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

using namespace programmers;

template <class Record>
void CheckRecords(std::span<const Record> table, const TTiTxtResult& result) {
    constexpr std::size_t header = sizeof(Record) - TiTxtDataSize;
    if (!result.Ok()) {
        if (result.LastRecord != -1 || result.Detail.empty()) {
            std::abort();
        }
        return;
    }
    if (result.LastRecord < 0 || static_cast<std::size_t>(result.LastRecord) >= table.size()) {
        std::abort();
    }
    for (std::int32_t i = 0; i <= result.LastRecord; ++i) {
        const Record& record = table[static_cast<std::size_t>(i)];
        bool empty = IsEmptyRecord(record);
        if (!empty &&
            (record.Length % 2 != 0 || record.Length <= header || record.Length > sizeof(Record))) {
            std::abort();
        }
    }
}

auto image = std::make_unique<TTiTxtTable>();
auto patch = std::make_unique<TTiTxtPatchTable>();
auto wide = std::make_unique<TTiTxtWideTable>();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    CheckRecords<TTiTxtRecord>(*image, ReadTiTxt(text, size, *image));
    CheckRecords<TTiTxtRecord>(*patch, ReadTiTxt(text, size, *patch));
    CheckRecords<TTiTxtWideRecord>(*wide, ReadTiTxtWide(text, size, *wide));
    return 0;
}
