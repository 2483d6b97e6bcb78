#include "programmers/Bsl_54xx_unit.h"

#include <gtest/gtest.h>

namespace programmers {
namespace {

using Plan = std::vector<std::uint32_t>;

TTiTxtWideRecord Record(std::uint32_t address, std::size_t count) {
    TTiTxtWideRecord record{};
    record.Address = address;
    record.Length = static_cast<std::uint16_t>(count + TiTxtWideHeaderSize);
    return record;
}

TEST(Bsl5xxErasePlan, CoversEverySegmentTheImageWritesAndNothingOfTheLoader) {
    // Code at 0x5C00 across a segment boundary, information memory in
    // segments D and B, the vectors (the highest segment, erased with its
    // records), and a record of the loader's own flash.
    const std::vector<TTiTxtWideRecord> image = {Record(0x1000, 16),  Record(0x1800, 200),
                                                 Record(0x1900, 10),  Record(0x5C00, 246),
                                                 Record(0x5CF6, 300), Record(0xFFE0, 32)};
    EXPECT_EQ(bsl54xx::ErasePlan(image, 0x6000),
              (Plan{0x6000, 0x5E00, 0x5C00, 0x1800, 0x1880, 0x1900}));
    // Started below the image's top: what lies above is erased after the walk.
    EXPECT_EQ(bsl54xx::ErasePlan(image, 0x5C00), (Plan{0x5C00, 0x5E00, 0x1800, 0x1880, 0x1900}));
}

TEST(Bsl5xxErasePlan, TheWalkStartsWhereItIsToldAndSkipsTheHighestSegmentBelow64K) {
    const std::vector<TTiTxtWideRecord> image = {Record(0xFA00, 10), Record(0x10000, 600)};
    // The first frame goes where the device entry says, even inside a segment.
    EXPECT_EQ(bsl54xx::ErasePlan(image, 0x10210), (Plan{0x10210, 0x10000, 0xFC00, 0xFA00}));
    EXPECT_TRUE(bsl54xx::ErasePlan({}, 0xFC00).empty());
}

} // namespace
} // namespace programmers
