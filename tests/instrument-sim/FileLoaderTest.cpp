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

// A start-up program before 0.106 knows only A.1205; this one also ends a
// file with the acknowledge instead of reply 260.
TEST(FileLoader, AnOldStartUpProgramRefusesTheNewHeader) {
    LoaderDriver d(MakeFirmwareProfile("version=1.00\nloader=file-loader\nloader.switch_ack_ms=0\n"
                                       "loader.startup_version=0.105\nloader.file_end=ack\n"));
    d.Say("A.1111\r\n");
    EXPECT_EQ(d.Say("A.2100\r\n"), "I.2011#0.105\r\n");
    EXPECT_EQ(d.Say("A.1300#38400\r\n"), "A.1300!\r\n");
    EXPECT_EQ(d.Say("A.1201#a.bin,0,1\r\n"), "?\r\n");
    EXPECT_EQ(d.Say("A.1205#a.bin,0,1\r\n"), "A.1205!\r\n");
    EXPECT_EQ(d.Say("D.1,$#\xCA"), "D.1!\r\n");
    EXPECT_EQ(d.Say("A.1202\r\n"), "A.1202!\r\n");
    ASSERT_EQ(d.inst.LabFiles().size(), 1u);
    EXPECT_EQ(d.inst.LabFiles()[0].data, "\xCA");
}

} // namespace
} // namespace sim::test
