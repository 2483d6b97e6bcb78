#include "Harness.h"
#include "tests/support/TiTxtImage.h"

#include <gtest/gtest.h>

namespace {

using testing_support::TempFolder;
using titxt_test::MemoryOf;

constexpr const char* Success = "Download erfolgreich ausgef\xC3\xBChrt !";

// An instrument with ".BIN" firmware and its own loader; its device entry
// starts with 6, which selects the device loader. restart is what the new
// firmware says when it starts.
std::string BinProfile(const std::string& extra = "", const std::string& restart = "@1500:I.30#") {
    return "start_mode=5\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=12345678\nloader=device-loader\nloader.store_ms=300\n"
           "flash_start=0\nflash_size=0x10000\non.restart=" +
           restart + "\n" + extra;
}

// Bytes with the version marker near the end, where it is searched.
std::vector<std::uint8_t> Firmware() {
    std::vector<std::uint8_t> bytes = titxt_test::Pattern(1000, 3);
    const std::string marker = "VER:2.00";
    std::copy(marker.begin(), marker.end(), bytes.end() - 20);
    bytes[bytes.size() - 12] = 0;
    return bytes;
}

class DeviceLoaderUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
        ASSERT_EQ(
            e2e::EditDeviceIni(folder, {{"DevStartCmd=1", "DevStartCmd=6"},
                                        {"ProgFile2=DM10_V200.TXT", "ProgFile2=DL20_V200.BIN"},
                                        {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}}),
            "");
        const std::vector<std::uint8_t> bytes = Firmware();
        e2e::ReplaceFirmware(folder, "DL20_V200.BIN", std::string(bytes.begin(), bytes.end()));
    }
    e2e::Run Update(const std::string& profile) {
        e2e::UpdateResult result = e2e::UpdateAgainst(folder, profile, UPDATE_CONSOLE);
        flash = result.Flash;
        transcript = result.Transcript;
        return result.Tool;
    }
    void ExpectTheFileAndItsPaddingStored() {
        std::vector<std::uint8_t> padded = Firmware();
        padded.resize(1018, 0xFF); // 1018 + 6 fills eight blocks
        EXPECT_EQ(MemoryOf(flash), MemoryOf({{0, padded}}));
    }

    TempFolder folder;
    std::string flash;
    std::string transcript;
};

TEST_F(DeviceLoaderUpdate, ASuccessIsOnlyReportedWithTheNewFirmwareRunning) {
    e2e::ExpectSuccessOnlyWithTheNewFirmwareRunning(
        [&](const std::string& restart, const std::string& extra) {
            const e2e::Run run = Update(BinProfile(extra, restart));
            return std::pair{run, transcript};
        });
}

TEST_F(DeviceLoaderUpdate, ClassFourInstrumentIsUpdatedThroughItsOwnLoader) {
    e2e::Run run = Update(BinProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
    EXPECT_TRUE(run.OutHas(Success)) << run.Out;
    ExpectTheFileAndItsPaddingStored();
    // The new firmware was given the clock at the speed the transfer left.
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.1600#"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("dropped"), std::string::npos) << transcript;
}

TEST_F(DeviceLoaderUpdate, ARepeatedBlockIsSurvived) {
    e2e::Run run = Update(BinProfile("loader.fault.block_error=4\n"));
    EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
    EXPECT_TRUE(run.OutHas(Success));
    EXPECT_NE(transcript.find("fault: block 4"), std::string::npos);
    ExpectTheFileAndItsPaddingStored();
}

TEST_F(DeviceLoaderUpdate, BlockErrorSilenceAndRefusedClosingFailTheUpdate) {
    for (const char* fault : {"loader.fault.block_error=3:5\n", "loader.fault.silent_from=3\n",
                              "loader.fault.close=refuse\n"}) {
        SCOPED_TRACE(fault);
        e2e::Run run = Update(BinProfile(fault));
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 1) << run.Out;
        EXPECT_FALSE(run.OutHas("Download erfolgreich"));
        EXPECT_TRUE(run.OutHas("Das Update wurde abgebrochen.")) << run.Out;
        EXPECT_EQ(transcript.find("stored"), std::string::npos);
    }
}

TEST_F(DeviceLoaderUpdate, RetryRepeatsTheTransferOnTheRestoredLine) {
    folder.Write("prog/Update.ini", "Language=0\r\nDebugInfo=YES\r\n");
    // The first speed command is lost: the tool waits at 115200 in vain and
    // gives up; the retry must speak at the entry line again to be heard.
    e2e::Instrument instrument(folder, BinProfile("fault.1301@1=silent\n"),
                               folder.File("ports/COM1"));
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10", "--start"});
    ASSERT_TRUE(session.Started());
    EXPECT_TRUE(session.WaitForOutput("Das Update wurde abgebrochen."));
    EXPECT_TRUE(session.Type("ok"));
    EXPECT_TRUE(session.WaitForOutput("Download erfolgreich"));
    e2e::Run run = session.Finish();
    instrument.Stop();
    flash = instrument.Flash();
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    ExpectTheFileAndItsPaddingStored();
}

} // namespace
