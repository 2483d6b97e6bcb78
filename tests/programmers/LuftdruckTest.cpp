#include "../support/TempFolder.h"
#include "programmers/Luftdruckabgleich.h"

#include <gtest/gtest.h>

namespace {

TEST(PressureTable, ModelsAndMinimumVersions) {
    programmers::TPressureTable table;
    table.SetRows({{12345678, 950.5f}, {23456789, 944.1f}});
    EXPECT_EQ(table.PressureIndex("41246.000", "23456789", 102), 1);
    EXPECT_EQ(table.PressureIndex("41246", "23456789", 101), -1) << "below the minimum";
    EXPECT_EQ(table.PressureIndex("41248", "12345678", 101), 0);
    EXPECT_EQ(table.PressureIndex("41247", "99999999", 500), -10);
    EXPECT_EQ(table.PressureIndex("43110", "12345678", 500), -1) << "not a calibrated model";
    EXPECT_FLOAT_EQ(table.PressureValue(-10), 947.0f);
    EXPECT_FLOAT_EQ(table.PressureValue(1), 944.1f);
    EXPECT_FLOAT_EQ(table.PressureValue(99), 947.0f);
}

TEST(PressureTable, FileIsCheckedLineByLine) {
    testing_support::TempFolder folder;
    folder.Write("ok.txt", "# comment\n12345678 950.5\n\n23456789 944.1 # note\n");
    programmers::TPressureTable table;
    std::string error;
    ASSERT_TRUE(table.Load(folder.File("ok.txt"), error)) << error;
    EXPECT_EQ(table.Rows().size(), 2u);
    folder.Write("bad.txt", "12345678 950.5\nabc def\n");
    EXPECT_FALSE(table.Load(folder.File("bad.txt"), error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_TRUE(table.Rows().empty());
    EXPECT_TRUE(table.Load(folder.File("missing.txt"), error));
}

TEST(PressureTable, AtMost76Rows) {
    testing_support::TempFolder folder;
    std::string many;
    for (int i = 0; i < 80; ++i) {
        many += std::to_string(10000000 + i) + " 950.0\n";
    }
    folder.Write("many.txt", many);
    programmers::TPressureTable table;
    std::string error;
    EXPECT_FALSE(table.Load(folder.File("many.txt"), error));
    EXPECT_EQ(table.Rows().size(), 76u);
}

} // namespace
