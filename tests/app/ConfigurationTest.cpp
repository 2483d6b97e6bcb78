#include "FormFixture.h"
#include "app/DeviceTable.h"

#include <algorithm>

namespace {

using testing_support::CrLfLines;
using testing_support::DeviceBlock;
using testing_support::StandardTextBlock;

class Configuration : public testing_support::FormFixture {};

TEST_F(Configuration, DefaultsWhenKeysAreMissing) {
    WriteConfig(CrLfLines({"[Section]", "Unknown=1"}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).Config().Language, 0);
    EXPECT_EQ(TestView(form).Config().BaudList, (std::vector<int>{2, 3, 4, 1, 0}));
    EXPECT_FALSE(TestView(form).Config().FixedPort);
    EXPECT_EQ(TestView(form).Config().ProgDeviceFile, "ProgDevice.ini");
    EXPECT_TRUE(TestView(form).Config().SWCheck);
    EXPECT_FALSE(TestView(form).Config().AutoStart);
    EXPECT_FALSE(form.StartTimer->Enabled());
}

TEST_F(Configuration, ValuesAreReadByKeyInAnyCaseFromTheFirstEquals) {
    WriteConfig(
        CrLfLines({"language=1", "Version=6.00=x", "BAUD=5,3", "Com=3", "ProgErrorNewTry=YES",
                   "DebugInfo=yes", "NoSWCheck=YES", "AutoStart=YES please", "Language=0"}),
        StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).Config().Language, 1);
    EXPECT_EQ(TestView(form).Config().VersionText, "6.00=x");
    EXPECT_EQ(TestView(form).Config().BaudList, (std::vector<int>{5, 3}));
    EXPECT_TRUE(TestView(form).Config().FixedPort);
    EXPECT_EQ(TestView(form).Config().FixedPortIndex, 2);
    EXPECT_TRUE(TestView(form).Config().ProgErrorNewTry);
    EXPECT_FALSE(TestView(form).Config().DebugInfo) << "the YES test is case-sensitive";
    EXPECT_FALSE(TestView(form).Config().SWCheck);
    EXPECT_TRUE(form.Englisch->Checked());
}

TEST_F(Configuration, AutoStartArmsTheStartTimer) {
    WriteConfig(CrLfLines({"AutoStart=YES please"}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_TRUE(TestView(form).Config().AutoStartActive);
    EXPECT_TRUE(form.StartTimer->Enabled());
    EXPECT_EQ(form.StartTimer->Interval(), 1000u);
}

TEST_F(Configuration, BadLanguageFallsBackToGerman) {
    for (const char* value : {"7", "x", "", "-1"}) {
        WriteConfig(CrLfLines({std::string("Language=") + value}), StandardTextBlock);
        EXPECT_EQ(TestView(Build()).Config().Language, 0) << value;
    }
}

TEST_F(Configuration, BaudEntriesOutsideTheTableOrBeyondSeventeenAreDroppedAndLogged) {
    std::string many = "9,1";
    for (int i = 0; i < 20; ++i) {
        many += ",2";
    }
    WriteConfig(CrLfLines({"Baud=" + many}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).Config().BaudList.size(), 17u);
    EXPECT_EQ(TestView(form).Config().BaudList.front(), 1);
    ASSERT_FALSE(MemoLines().empty());
    EXPECT_NE(MemoLines().front().find("Baud 9"), std::string::npos);
}

TEST_F(Configuration, BaudListWithNoUsableRateKeepsTheDefault) {
    WriteConfig(CrLfLines({"Baud=8,9"}), StandardTextBlock);
    EXPECT_EQ(TestView(Build()).Config().BaudList, (std::vector<int>{2, 3, 4, 1, 0}));
}

TEST_F(Configuration, OverlongValuesAreCutAtTheReadBuffer) {
    WriteConfig(CrLfLines({"Version=" + std::string(100000, 'V')}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).Config().VersionText.size(), 255u);
}

TEST_F(Configuration, DeviceBlocksNeedElevenLinesAndTextBlocksExactlyFour) {
    std::string tenLines =
        CrLfLines({"DevStartCmd=1", "DeviceNr=11111", "a", "b", "c", "d", "e", "f", "g", "h"});
    std::string fiveLines =
        CrLfLines({"StarttextD=x", "StarttextE=y", "AbbruchtextD=z", "AbbruchtextE=w", "extra"});
    WriteConfig("", tenLines + "\r\n" + fiveLines + "\r\n" + StandardTextBlock + "\r\n" +
                        DeviceBlock("41215", "fw.txt") + "   \r\n");
    app::TUpdateForm& form = Build();
    ASSERT_EQ(TestView(form).DeviceTable().size(), 1u);
    EXPECT_EQ(TestView(form).DeviceTable()[0].DeviceNr, "41215.000");
    EXPECT_EQ(TestView(form).StartText(), "Start NAME\\rbitte");
}

TEST_F(Configuration, ColumnRules) {
    std::string block = CrLfLines(
        {"DevStartCmd=8", "DeviceNrDef=123456789", "DeviceNr=12345", "DeviceName=Meter",
         "ProgFile1=abc.mot", "ProgFile2=fw_ä.txt,*.*", "ProgFile3=", "SWKenn1=ABC\\r\\nXYZ",
         "SWKenn2=plain", "SWKenn3=", "BootLoadKenn=BL", "FlashErase1=0x1000",
         "FlashErase2=", "FlashErase3=", "ProgDefFile=def.bin", "ProzTyp=1Fz"});
    WriteConfig("", block);
    app::TUpdateForm& form = Build();
    ASSERT_EQ(TestView(form).DeviceTable().size(), 1u);
    const app::DeviceRow& row = TestView(form).DeviceTable()[0];
    EXPECT_EQ(row.DeviceNrDef, "123456789");
    EXPECT_EQ(row.DeviceNr, "12345.000");
    EXPECT_EQ(row.ProgFile1, "ABC.MOT");
    EXPECT_EQ(row.ProgFile2, "FW_ä.TXT,*.*") << "only a to z are upper-cased";
    EXPECT_EQ(row.SWKenn1, "ABC\r\n");
    EXPECT_EQ(row.SWKenn2, "plain");
    EXPECT_EQ(row.FlashErase1, "0x1000");
    EXPECT_EQ(row.ProgDefFile, "DEF.BIN");
    EXPECT_EQ(row.ProzTyp, 0x1Fu);
    EXPECT_EQ(TestView(form).SessionState().StartMode, 1) << "8 reduces to 1";
    EXPECT_FALSE(TestView(form).CloseOnInfo());
    EXPECT_EQ(TestView(form).SessionState().FileClass, 1);
}

TEST_F(Configuration, AnEraseStartBeyondTheFlashIsNotTaken) {
    std::string block = DeviceBlock("12345", "fw.txt");
    block.replace(block.find("FlashErase1="), 12, "FlashErase1=0x100000");
    block.replace(block.find("FlashErase2="), 12, "FlashErase2=0x1FC00");
    block.replace(block.find("FlashErase3="), 12, "FlashErase3=99999999999");
    WriteConfig("", block);
    app::TUpdateForm& form = Build();
    ASSERT_EQ(TestView(form).DeviceTable().size(), 1u);
    EXPECT_EQ(TestView(form).DeviceTable()[0].FlashErase1, "");
    EXPECT_EQ(TestView(form).DeviceTable()[0].FlashErase2, "0x1FC00");
    EXPECT_EQ(TestView(form).DeviceTable()[0].FlashErase3, "");
    const std::vector<std::string> lines = MemoLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Konfiguration, nicht \xFC"
                        "bernommen: FlashErase1 (out of range), "
                        "FlashErase3 (out of range)"),
              lines.end());
    std::uint32_t address = 0;
    EXPECT_TRUE(app::FlashEraseAddress("0xfffff", address));
    EXPECT_EQ(address, 0xFFFFFu);
    EXPECT_TRUE(app::FlashEraseAddress("64512", address));
    EXPECT_EQ(address, 0xFC00u);
    EXPECT_TRUE(app::FlashEraseAddress("", address));
    EXPECT_EQ(address, 0u) << "empty: the loader's default";
}

TEST_F(Configuration, StartModeSevenSetsCloseOnInfoAndMissingStartCommandGivesZero) {
    WriteConfig("", DeviceBlock("11111", "A.EXE", "7"));
    app::TUpdateForm& seven = Build();
    EXPECT_EQ(TestView(seven).SessionState().StartMode, 0);
    EXPECT_TRUE(TestView(seven).CloseOnInfo());
    EXPECT_EQ(TestView(seven).SessionState().FileClass, 2);
    WriteConfig("", DeviceBlock("11111", "A.HEX", ""));
    app::TUpdateForm& missing = Build();
    EXPECT_EQ(TestView(missing).SessionState().StartMode, 0);
    EXPECT_FALSE(TestView(missing).CloseOnInfo());
    EXPECT_EQ(TestView(missing).SessionState().FileClass, 3);
}

TEST_F(Configuration, FileClassCombinesBitsFromRowZeroOnly) {
    WriteConfig("", DeviceBlock("11111", "A.TXT,B.EXE") + "\r\n" + DeviceBlock("22222", "C.HEX"));
    EXPECT_EQ(TestView(Build()).SessionState().FileClass, 3);
}

TEST_F(Configuration, ValuesLongerThanTheirColumnAreCutAndLogged) {
    std::string longName(40, 'N');
    std::string block = DeviceBlock("11111", "A.TXT");
    block.replace(block.find("Meter 11111"), 11, longName);
    WriteConfig("", block);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).DeviceTable()[0].DeviceName, std::string(31, 'N'));
    bool logged = false;
    for (const std::string& line : MemoLines()) {
        logged = logged || line.find("DeviceName") != std::string::npos;
    }
    EXPECT_TRUE(logged);
}

TEST_F(Configuration, MoreThan255DeviceBlocksKeepTheFirst255) {
    std::string many;
    for (int i = 0; i < 300; ++i) {
        many += DeviceBlock(std::to_string(10000 + i), "F.TXT", i < 255 ? "2" : "5") + "\r\n";
    }
    WriteConfig("", many);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).DeviceTable().size(), 255u);
    EXPECT_EQ(TestView(form).DeviceTable().back().DeviceNr, "10254.000");
    EXPECT_EQ(TestView(form).SessionState().StartMode, 1)
        << "ignored blocks do not change the start mode";
}

TEST_F(Configuration, HostileFilesNeverCrash) {
    std::string garbage;
    for (int i = 0; i < 5000; ++i) {
        garbage.push_back(static_cast<char>((i * 7919) % 256));
    }
    const std::string inputs[] = {
        "",          garbage, std::string(100000, 'x'), "no equals sign\r\n", std::string(20, '\n'),
        "=\r\n=\r\n"};
    for (const std::string& input : inputs) {
        WriteConfig(input, input);
        app::TUpdateForm& form = Build();
        EXPECT_LE(TestView(form).DeviceTable().size(), 255u);
        EXPECT_LE(TestView(form).Config().BaudList.size(), 17u);
    }
}

} // namespace
