#include "programmers/TiTxtReader.h"

#include "tests/programmers/TiTxtTables.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace programmers;
using namespace titxt_test;

class ReadTiTxtTest : public ::testing::Test {
protected:
    TTiTxtResult Read(const std::string& text) {
        return ReadTiTxt(text.data(), text.size(), *table);
    }
    std::string Check(const std::vector<Section>& sections, const TTiTxtResult& result) {
        return Compare(Reassemble<TTiTxtRecord>(*table, result.LastRecord, result.FirstHighRecord),
                       MemoryOf(sections));
    }
    const TTiTxtRecord& At(int i) { return (*table)[static_cast<std::size_t>(i)]; }
    std::unique_ptr<TTiTxtTable> table = std::make_unique<TTiTxtTable>();
};

TEST_F(ReadTiTxtTest, RecordsHoldFifteenLinesAndGoOnAtTheNextAddress) {
    std::vector<Section> image{{0xC000, Counting(16 * 16)}};
    auto result = Read(TiTxt(image));
    ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
    EXPECT_EQ(result.LastRecord, 1);
    EXPECT_EQ(result.FirstHighRecord, -1);
    EXPECT_EQ(At(0).Address, 0xC000);
    EXPECT_EQ(At(0).Length, 4 + 240);
    EXPECT_EQ(At(1).Address, 0xC0F0);
    EXPECT_EQ(At(1).Length, 4 + 16);
    EXPECT_EQ(Check(image, result), "");
}

TEST_F(ReadTiTxtTest, OddRecordsArePaddedToEvenLengths) {
    // 0xFF at a new section and at the end; 0x00 when 15 lines end a section.
    auto result = Read(
        TiTxt({{0xC000, Counting(3)}, {0xD000, Counting(15 * 15)}, {0xE000, {7}}}, "\r\n", 15));
    ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
    ASSERT_EQ(result.LastRecord, 2);
    EXPECT_EQ(At(0).Length, 4 + 4);
    EXPECT_EQ(At(0).Data[3], 0xFF);
    EXPECT_EQ(At(1).Length, 4 + 226);
    EXPECT_EQ(At(1).Data[225], 0x00);
    EXPECT_EQ(At(2).Length, 4 + 2);
    EXPECT_EQ(At(2).Data[1], 0xFF);
}

TEST_F(ReadTiTxtTest, SectionsGoingOnPastAnOddRecordKeepEveryAddress) {
    for (std::size_t perLine : {15, 7, 40, 1}) {
        std::vector<Section> image{{0xC000, Counting(1000)}, {0xE001, Counting(333, 9)}};
        auto result = Read(TiTxt(image, "\r\n", perLine));
        ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
        EXPECT_EQ(Check(image, result), "") << perLine << " bytes per line";
    }
}

TEST_F(ReadTiTxtTest, LineEndsOfEveryKindReadAlike) {
    std::vector<Section> image{{0xC000, Counting(300)}, {0xFFE0, Counting(32)}};
    ASSERT_TRUE(Read(TiTxt(image, "\r\n")).Ok());
    auto expected = std::make_unique<TTiTxtTable>(*table);
    for (const char* eol : {"\n", "\r"}) {
        auto result = Read(TiTxt(image, eol));
        ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
        EXPECT_EQ(result.LastRecord, 2);
        EXPECT_EQ(std::memcmp(table->data(), expected->data(), sizeof(TTiTxtTable)), 0);
    }
}

TEST_F(ReadTiTxtTest, ReadingStopsAtQOrAtTheEnd) {
    auto result = Read("@C000\n01 02\n");
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.LastRecord, 0);
    result = Read("@C000\n01 02\nq\n@D000\n03 04\nrubbish");
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.LastRecord, 0);
    EXPECT_EQ(At(1).Length, 0);
}

TEST_F(ReadTiTxtTest, AddressLinesWithoutDataLeaveNoRecord) {
    std::vector<Section> image{{0xC000, Counting(240)}, {0xD000, Counting(2)}};
    auto result = Read("@B000\r\n@B100\r\n" + TiTxt(image));
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.LastRecord, 1);
    EXPECT_EQ(At(1).Address, 0xD000);
    EXPECT_TRUE(IsEmptyRecord(At(2)));
}

TEST_F(ReadTiTxtTest, VectorRecordsGoLastBehindTheMarker) {
    std::vector<Section> image{
        {0xC000, Counting(32)}, {0xFFE0, Counting(32)}, {0x10000, Counting(64)}};
    auto result = Read(TiTxt(image));
    ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
    EXPECT_EQ(result.LastRecord, 3);
    EXPECT_EQ(result.FirstHighRecord, 1);
    EXPECT_EQ(At(1).Address, 0x0000);
    EXPECT_TRUE(IsEmptyRecord(At(2)));
    EXPECT_EQ(At(3).Address, 0xFFE0);
    EXPECT_EQ(Check(image, result), "");
}

TEST_F(ReadTiTxtTest, HighRecordsWithoutVectorsEndInTheMarker) {
    auto result = Read(TiTxt({{0xC000, Counting(32)}, {0x10000, Counting(64)}}));
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.FirstHighRecord, 1);
    EXPECT_EQ(result.LastRecord, 2);
    EXPECT_TRUE(IsEmptyRecord(At(2)));

    result = Read("@10000\n@C000\n01 02\n@12000\nq\n");
    ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
    EXPECT_EQ(result.FirstHighRecord, -1);
    EXPECT_EQ(result.LastRecord, 0);

    result = Read(TiTxt({{0x10000, Counting(64)}}));
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.FirstHighRecord, 0);
    EXPECT_EQ(result.LastRecord, 0);
}

TEST_F(ReadTiTxtTest, DataCrossing0x10000IsSplitThere) {
    std::vector<Section> image{{0xFF00, Counting(512)}};
    auto result = Read(TiTxt(image));
    ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
    // FF00 and FFF0 move behind the two high records and the marker.
    EXPECT_EQ(result.FirstHighRecord, 0);
    EXPECT_EQ(result.LastRecord, 4);
    EXPECT_EQ(At(0).Address, 0x0000);
    EXPECT_TRUE(IsEmptyRecord(At(2)));
    EXPECT_EQ(At(4).Address, 0xFFF0);
    EXPECT_EQ(At(4).Length, 4 + 16);
    EXPECT_EQ(Check(image, result), "");
}

TEST_F(ReadTiTxtTest, TablesHoldTheirRecordsAndRefuseOneMore) {
    auto sections = [](int count, std::uint32_t base) {
        std::vector<Section> image;
        for (int i = 0; i < count; ++i) {
            image.push_back({base + 0x10u * static_cast<std::uint32_t>(i), {1, 2}});
        }
        return image;
    };
    auto patch = std::make_unique<TTiTxtPatchTable>();
    std::string text = TiTxt(sections(20, 0x0200));
    EXPECT_EQ(ReadTiTxt(text.data(), text.size(), *patch).LastRecord, 19);
    text = TiTxt(sections(21, 0x0200));
    auto result = ReadTiTxt(text.data(), text.size(), *patch);
    EXPECT_EQ(result.Error, TiTxtError::TableFull);
    EXPECT_EQ(result.Line, 41);
    EXPECT_TRUE(IsEmptyRecord((*patch)[0]));

    EXPECT_EQ(Read(TiTxt(sections(1280, 0x1000))).LastRecord, 1279);
    EXPECT_EQ(Read(TiTxt(sections(1281, 0x1000))).Error, TiTxtError::TableFull);
    // 1280 records with high ones leave no room for the marker.
    EXPECT_EQ(Read(TiTxt(sections(1280, 0xC000))).Error, TiTxtError::TableFull);
}

TEST_F(ReadTiTxtTest, AddressesTheLoaderCannotReachAreRefused) {
    EXPECT_EQ(Read("@20000\n01 02\nq\n").Error, TiTxtError::AddressRange);
    EXPECT_EQ(Read(TiTxt({{0x1FFF0, Counting(32)}})).Error, TiTxtError::AddressRange);
    EXPECT_EQ(Read(TiTxt({{0x10000, {1, 2}}, {0xFFE0, {3, 4}}})).Error, TiTxtError::LowAfterHigh);
    EXPECT_EQ(Read(TiTxt({{0xFFF1, Counting(20)}})).Error, TiTxtError::OddBoundary);
}

} // namespace
