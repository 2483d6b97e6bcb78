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

} // namespace
} // namespace sim::basic
