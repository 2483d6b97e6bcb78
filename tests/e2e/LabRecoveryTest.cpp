#include "Harness.h"
#include "tests/support/TiTxtImage.h"

#include <gtest/gtest.h>

namespace {

using testing_support::TempFolder;
using titxt_test::MemoryOf;
using titxt_test::Pattern;

// A device entry of ProgDevice.ini.
std::string Entry(const std::string& deviceNr, const std::string& name, const std::string& file,
                  const std::string& chip) {
    std::string text;
    for (const std::string& line : std::initializer_list<std::string>{
             "DevStartCmd=1", "DeviceNrDef=" + deviceNr, "DeviceNr=" + deviceNr,
             "DeviceName=" + name, "ProgFile1=", "ProgFile2=" + file, "ProgFile3=", "SWKenn1=",
             "SWKenn2=56 45 52 3A", "SWKenn3=", "BootLoadKenn=", "FlashErase1=", "FlashErase2=",
             "FlashErase3=", "ProgDefFile=" + file, "ProzTyp=" + chip}) {
        text += line + "\r\n";
    }
    return text;
}

// Code with the version marker from start, and the vectors with the reset
// vector pointing at it.
std::string Image(std::uint32_t start, std::uint8_t resetHigh) {
    std::vector<std::uint8_t> code = Pattern(600, 3);
    const std::string marker = "VER:2.00";
    std::copy(marker.begin(), marker.end(), code.begin() + 16);
    // Unused vectors stay erased, so the password is the reset vector alone.
    std::vector<std::uint8_t> vectors(32, 0xFF);
    vectors[30] = 0x00;
    vectors[31] = resetHigh;
    return titxt_test::TiTxt({{start, code}, {0xFFE0, vectors}});
}

// Two instruments the installation knows: a meter with the ROM loader
// (entry 0) and a lab instrument with the 5xx/6xx loader (entry 1). Both
// wait in their loaders, so only the bootloader probe finds them.
class LabRecovery : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, "Language=0\r\nDebugInfo=YES\r\n");
        folder.Write("prog/ProgDevice.ini",
                     "StarttextD=Start\r\nStarttextE=Start\r\nAbbruchtextD=Abbruch\r\n"
                     "AbbruchtextE=Abort\r\n\r\n" +
                         Entry("43110", "Demo Meter DM 10", "DM10_V200.TXT", "F149") + "\r\n" +
                         Entry("43140", "Lab 5438", "LAB_V200.TXT", "5438"));
        folder.Write("prog/DM10_V200.TXT", Image(0xE000, 0xE0));
        // Nothing is learned from a waiting loader: the password is the
        // configured reset vector.
        folder.Write("prog/Bsl430.ini", "ResetVector1=0xE000\r\n");
        folder.Write("prog/LAB_V200.TXT", Image(0x5C00, 0x5C));
    }
    // The run ends when the recovered firmware has been updated once more by
    // the normal session, or fails.
    e2e::Run Recover(const std::string& profile) {
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        e2e::ConsoleSession session(folder,
                                    {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                     folder.File("ports"), "--time-divisor", "10", "--start"});
        // Both bounds end a run that hangs before ctest's, so that what the
        // tool and the instrument did is printed.
        session.WaitForOutput("Download erfolgreich", std::chrono::seconds(60));
        e2e::Run run = session.Finish(std::chrono::seconds(30));
        instrument.Stop();
        flash = instrument.Flash();
        transcript = instrument.Transcript();
        return run;
    }
    // Recovered, then updated by the normal session as the named instrument.
    void ExpectRecoveredAndUpdated(const e2e::Run& run, const std::string& name,
                                   const std::string& file) {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_TRUE(run.OutHas("Download erfolgreich")) << run.Out << transcript;
        EXPECT_EQ(run.ExitCode, 0) << run.Out;
        EXPECT_TRUE(run.OutHas(name)) << run.Out;
        ExpectFlashHolds(file);
    }
    void ExpectFlashHolds(const std::string& file) {
        const titxt_test::Memory memory = MemoryOf(flash);
        for (const auto& [address, value] : MemoryOf(e2e::ReadFile(folder.File("prog/" + file)))) {
            auto found = memory.find(address);
            ASSERT_TRUE(found != memory.end() && found->second == value) << std::hex << address;
        }
    }

    TempFolder folder;
    std::string flash;
    std::string transcript;
};

TEST_F(LabRecovery, AnInstrumentAnsweringQIsProgrammedThroughThe5xxLoaderAsEntry1) {
    e2e::Run run = Recover(
        "start_mode=0\nstart=loader\nbaud=4800\nstop_bits=2\npcb=43140.201\ndevice=43140.000\n"
        "version=1.23\nserial=12345678\npassword=5C00\nloader=msp430-5xx\n"
        "loader.chip_id=5438\nprobe_answer=Q\nflash_start=0x1000\nflash_size=0x44C00\n"
        "on.restart=@300:I.30#\n");
    ExpectRecoveredAndUpdated(run, "Lab 5438", "LAB_V200.TXT");
}

TEST_F(LabRecovery, AnInstrumentAnswering90IsProgrammedThroughTheRomLoader) {
    e2e::Run run = Recover(
        "start_mode=0\nstart=loader\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
        "version=1.23\nserial=12345678\npassword=E000\nloader=msp430-rom\n"
        "loader.version=1.40\nloader.chip_id=F449\nflash_start=0x1000\nflash_size=0xF000\n"
        "on.restart=@300:I.30#\n");
    ExpectRecoveredAndUpdated(run, "Demo Meter DM 10", "DM10_V200.TXT");
}

} // namespace
