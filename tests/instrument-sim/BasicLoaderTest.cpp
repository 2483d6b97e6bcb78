#include "tools/instrument-sim/BasicLoader.h"

#include <gtest/gtest.h>

namespace sim::basic {
namespace {

TEST(BasicLoaderRecords, TypeLengthAndChecksumDecideWhetherARecordIsSound) {
    EXPECT_TRUE(SoundRecord("S1074000322E3130F7"));
    EXPECT_TRUE(SoundRecord("S1074000322e3130f7")) << "hexadecimal in either case";
    EXPECT_FALSE(SoundRecord("S1074000322E3130F8")) << "checksum";
    EXPECT_FALSE(SoundRecord("S1084000322E3130F6")) << "count";
    EXPECT_FALSE(SoundRecord("S4074000322E3130F7")) << "no such type";
    EXPECT_FALSE(SoundRecord("S1074000322G3130F7")) << "not hexadecimal";
    EXPECT_FALSE(SoundRecord("S10240")) << "shorter than its address";
    EXPECT_TRUE(SoundRecord("S9034000BC"));
    EXPECT_TRUE(EndRecord("S9034000BC"));
    EXPECT_FALSE(EndRecord("S1074000322E3130F7"));
}

TEST(BasicLoaderRecords, TheHeaderRecordNamesTheFile) {
    EXPECT_EQ(HeaderText("S00B00004C335F5445524D4896"), "L3_TERMH");
    EXPECT_EQ(HeaderText("S0050000000AF0"), "..") << "bytes that are no text";
    EXPECT_EQ(HeaderText("S0030000FC"), "");
}

} // namespace
} // namespace sim::basic
