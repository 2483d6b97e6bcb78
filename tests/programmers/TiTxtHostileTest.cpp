#include "programmers/TiTxtReader.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

using namespace programmers;

struct Refusal {
    const char* Text;
    TiTxtError Error;
    std::int32_t Line;
};

TEST(TiTxtRefusal, GarbageIsRefusedWithItsLine) {
    const Refusal cases[] = {
        {"@C000\r\n01 02\r\n03 G4\r\nq\r\n", TiTxtError::BadHexDigit, 3},
        {"@C000\n01 2 03\nq\n", TiTxtError::DigitCount, 2},
        {"@C000\n01 02 034\n", TiTxtError::DigitCount, 2},
        {"@C000\n0102\n", TiTxtError::DigitCount, 2},
        {"@C000\n\n\n01,02\n", TiTxtError::BadHexDigit, 4},
        {"@C0G0\n01 02\n", TiTxtError::BadAddress, 1},
        {"@C000\n01 02\n@\n03 04\n", TiTxtError::BadAddress, 3},
        {"@C0 00\n01 02\n", TiTxtError::BadAddress, 1},
        {"01 02\n@C000\n", TiTxtError::DataBeforeAddress, 1},
        {"@C000\r01 02\rQ\r", TiTxtError::BadHexDigit, 3},
        {"", TiTxtError::NoData, 0},
        {"q\n@C000\n01 02\n", TiTxtError::NoData, 0},
        {"@C000\n@D000\nq\n", TiTxtError::NoData, 0},
    };
    auto table = std::make_unique<TTiTxtTable>();
    auto wide = std::make_unique<TTiTxtWideTable>();
    for (const Refusal& refusal : cases) {
        std::string text = refusal.Text;
        for (const TTiTxtResult& result : {ReadTiTxt(text.data(), text.size(), *table),
                                           ReadTiTxtWide(text.data(), text.size(), *wide)}) {
            EXPECT_EQ(result.Error, refusal.Error) << text;
            EXPECT_EQ(result.Line, refusal.Line) << text;
            EXPECT_EQ(result.LastRecord, -1);
            EXPECT_FALSE(result.Detail.empty());
        }
    }
    EXPECT_EQ(TiTxtErrorText(ReadTiTxt("@C000\nZZ\n", 9, *table)),
              "line 2: 'Z' is no hexadecimal digit");
}

TEST(TiTxtHostile, HugeAndBinaryInputEndsInADefinedResult) {
    auto table = std::make_unique<TTiTxtTable>();
    auto wide = std::make_unique<TTiTxtWideTable>();
    auto both = [&](const std::string& text) {
        auto narrow = ReadTiTxt(text.data(), text.size(), *table);
        auto full = ReadTiTxtWide(text.data(), text.size(), *wide);
        EXPECT_EQ(narrow.Error, full.Error);
        return narrow;
    };
    std::string sections;
    char line[32];
    for (int i = 0; i < 2000; ++i) {
        std::snprintf(line, sizeof line, "@%X\n01 02\n", 0x1000 + 0x10 * i);
        sections += line;
    }
    EXPECT_EQ(both(sections).Error, TiTxtError::TableFull);

    std::string longLine = "@4400\n";
    for (int i = 0; i < 33333; ++i) {
        longLine += "A5 ";
    }
    auto result = both(longLine);
    EXPECT_TRUE(result.Ok());
    EXPECT_EQ(result.LastRecord, 33333 / 246);
    EXPECT_EQ(both("@4400\n" + std::string(100000, 'A')).Error, TiTxtError::DigitCount);
    EXPECT_EQ(both("@4400\n" + std::string(100000, ' ') + "\n" + std::string(100000, '\n') + "01")
                  .LastRecord,
              0);

    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::string garbage(1 + random() % 3000, '\0');
        for (char& c : garbage) {
            c = static_cast<char>(random());
        }
        if (round % 2 != 0) {
            garbage = "@FFF0\n" + garbage;
        }
        EXPECT_FALSE(both(garbage).Ok());
    }
}

} // namespace
