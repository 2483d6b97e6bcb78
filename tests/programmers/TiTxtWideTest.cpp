#include "programmers/TiTxtReader.h"
#include "tests/programmers/TiTxtTables.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace programmers;
using namespace titxt_test;

class ReadTiTxtWideTest : public ::testing::Test {
protected:
    TTiTxtResult Read(const std::vector<Section>& image) {
        std::string text = TiTxt(image);
        auto result = ReadTiTxtWide(text.data(), text.size(), *table);
        if (result.Ok()) {
            EXPECT_EQ(
                Compare(Reassemble<TTiTxtWideRecord>(*table, result.LastRecord), MemoryOf(image)),
                "");
        }
        return result;
    }
    std::vector<std::uint32_t> Addresses(const TTiTxtResult& result) {
        std::vector<std::uint32_t> addresses;
        for (int i = 0; i <= result.LastRecord; ++i) {
            addresses.push_back((*table)[static_cast<std::size_t>(i)].Address);
        }
        return addresses;
    }
    std::unique_ptr<TTiTxtWideTable> table = std::make_unique<TTiTxtWideTable>();
};

TEST_F(ReadTiTxtWideTest, KeepsFullAddressesWithoutSplitting) {
    auto result = Read({{0xFF00, Counting(512)}, {0x24400, Counting(6)}});
    ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
    EXPECT_EQ(Addresses(result), (std::vector<std::uint32_t>{0xFF00, 0xFFF0, 0x100E0, 0x24400}));
    // Both records starting below 0x10000 reach the top segment, from record 0 on.
    EXPECT_EQ(result.FirstTopRecord, 0);
    EXPECT_EQ(result.TopRecordCount, 2);
    EXPECT_EQ((*table)[1].Length, 6 + 240);
}

TEST_F(ReadTiTxtWideTest, TopSegmentRecordsMoveBehindAllOthers) {
    auto result =
        Read({{0x4400, Counting(600)}, {0xFF80, Counting(128)}, {0x10000, Counting(300)}});
    ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
    EXPECT_EQ(result.FirstTopRecord, 3);
    EXPECT_EQ(result.TopRecordCount, 1);
    EXPECT_EQ(Addresses(result),
              (std::vector<std::uint32_t>{0x4400, 0x44F0, 0x45E0, 0x10000, 0x100F0, 0xFF80}));
}

TEST_F(ReadTiTxtWideTest, VectorsInRecordZeroKeepTheOrder) {
    auto result = Read({{0xFFE0, Counting(32)}, {0x4400, Counting(16)}, {0x10000, Counting(2)}});
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(Addresses(result), (std::vector<std::uint32_t>{0xFFE0, 0x4400, 0x10000}));
}

TEST_F(ReadTiTxtWideTest, VectorRecordAtTheEndStaysLast) {
    // The start address is taken from the last record; the top block read
    // last must keep the vectors there.
    auto result = Read({{0xC000, Counting(64)}, {0xFE00, Counting(512)}});
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.TopRecordCount, 3);
    EXPECT_EQ(Addresses(result), (std::vector<std::uint32_t>{0xC000, 0xFE00, 0xFEF0, 0xFFE0}));
}

TEST_F(ReadTiTxtWideTest, RefusesAddressesBeyond32BitsAndAFullTable) {
    EXPECT_EQ(Read({{0xFFFFFFF0, Counting(32)}}).Error, TiTxtError::AddressRange);
    std::string text = "@100000000\n01 02\n";
    EXPECT_EQ(ReadTiTxtWide(text.data(), text.size(), *table).Error, TiTxtError::BadAddress);
    std::vector<Section> many;
    for (std::uint32_t i = 0; i < 1281; ++i) {
        many.push_back({0x10000 + 0x100 * i, {1, 2}});
    }
    EXPECT_EQ(Read(many).Error, TiTxtError::TableFull);
    many.pop_back();
    EXPECT_EQ(Read(many).LastRecord, 1279);
}

} // namespace
