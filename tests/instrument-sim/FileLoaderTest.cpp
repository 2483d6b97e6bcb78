#include "LoaderDriver.h"

#include <gtest/gtest.h>

namespace sim::test {
namespace {

// Check characters worked out apart from the simulator: 0xCA has CRC 0x23,
// which goes as '$'; 0xFF has CRC 0, which goes as 1.
TEST(FileLoader, ChecksEachBlockAsksForABadOneAgainAndKeepsTheWholeFile) {
    LoaderDriver d(MakeLoaderProfile("loader=file-loader\n", "", ""));
    EXPECT_EQ(d.Say("A.1201#dir/a.bin,0,2\r\n"), "A.1201!\r\n");
    EXPECT_EQ(d.Say("D.1,##\xCA"), "I.261#2\r\n");
    EXPECT_EQ(d.Say("D.1,$#\xCA"), "D.1!\r\n");
    EXPECT_EQ(d.Say("D.2,\x01#\xFFx"), "I.261#2\r\n");
    EXPECT_EQ(d.Say("A.1202\r\n"), "?\r\n") << "a file end before the whole file";
    EXPECT_EQ(d.Say("D.1,\x01#\xFF"), "D.1!\r\n");
    EXPECT_EQ(d.Say("A.1202\r\n"), "I.260#\r\n");
    ASSERT_EQ(d.inst.LabFiles().size(), 1u);
    EXPECT_EQ(d.inst.LabFiles()[0].name, "dir/a.bin");
    EXPECT_EQ(d.inst.LabFiles()[0].data, "\xCA\xFF");
}

} // namespace
} // namespace sim::test
