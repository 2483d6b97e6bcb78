#include "Harness.h"
#include "programmers/PaddedImage.h"
#include "tests/support/TiTxtImage.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace {

using testing_support::TempFolder;

// A class-4 instrument: the firmware acknowledges plainly ("!"), so that
// only the bootloader's entry answer carries the "A." form.
std::string BootloaderProfile(const std::string& loaderLines) {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=12345678\nack=plain\nloader=xmodem\n"
           "flash_start=0\nflash_size=0x10000\non.restart=@1000:I.30#\n" +
           loaderLines;
}

// 3000 bytes with the version marker the device entry names.
std::vector<std::uint8_t> FirmwareBytes() {
    std::vector<std::uint8_t> bytes = titxt_test::Pattern(3000, 4);
    const std::string marker = "VER:2.00";
    std::copy(marker.begin(), marker.end(), bytes.begin() + 40);
    bytes[40 + marker.size()] = 0;
    return bytes;
}

class XmodemUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
        // A binary file carries its marker as text.
        ASSERT_EQ(
            e2e::EditDeviceIni(folder, {{"ProgFile2=DM10_V200.TXT", "ProgFile2=DM10_V200.BIN"},
                                        {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}}),
            "");
        const std::vector<std::uint8_t> bytes = FirmwareBytes();
        e2e::ReplaceFirmware(folder, "DM10_V200.BIN", std::string(bytes.begin(), bytes.end()));
    }
    void Update(const std::string& profile) {
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        run = e2e::RunUpdate(folder, UPDATE_CONSOLE);
        instrument.Stop();
        flash = titxt_test::MemoryOf(instrument.Flash());
        transcript = instrument.Transcript();
    }
    // The file, its 0xFF padding and the trailer, from address 0.
    static titxt_test::Memory ExpectedImage() {
        programmers::TPaddedImage image = programmers::PadImage(FirmwareBytes());
        programmers::AppendTrailer(image);
        return titxt_test::MemoryOf({{0, image.Bytes}});
    }
    void ExpectTheImageStored() {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0) << run.Out;
        EXPECT_TRUE(run.OutHas("Download erfolgreich ausgef\xC3\xBChrt !"));
        EXPECT_EQ(flash, ExpectedImage());
    }
    std::size_t Occurrences(const std::string& text) const {
        std::size_t count = 0;
        for (auto at = transcript.find(text); at != std::string::npos;
             at = transcript.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
    // A failed transfer, then the operator's retry: it repeats the class-4
    // step, whose first command must go out at the session's line again.
    void FailAndRetry(const std::string& profile) {
        folder.Write("prog/Update.ini", "Language=0\r\nDebugInfo=YES\r\n");
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        {
            e2e::ConsoleSession session(folder,
                                        {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10", "--start"});
            if (session.Started() && session.WaitForOutput("[Error]") && session.Type("ok")) {
                session.WaitForOutput("Der Download kann");
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
            run = session.Finish();
        }
        instrument.Stop();
        transcript = instrument.Transcript();
    }
    void ExpectFailureWithThePortGivenBack() {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_FALSE(run.OutHas("Download erfolgreich"));
        EXPECT_EQ(transcript.find("rx r"), std::string::npos) << "never restarted";
        EXPECT_NE(transcript.find("tool at 4800 baud 2 stop, instrument at 115200"),
                  std::string::npos)
            << transcript;
    }

    TempFolder folder;
    e2e::Run run;
    titxt_test::Memory flash;
    std::string transcript;
};

TEST_F(XmodemUpdate, Bootloader105StoresTheImageWithoutUnlockLines) {
    Update(BootloaderProfile("loader.version=1.05\n"));
    ExpectTheImageStored();
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.1250#"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("bootloader at 115200 baud"), std::string::npos);
    EXPECT_EQ(Occurrences("5831\\r\\n\\x00"), 0u);
}

TEST_F(XmodemUpdate, Bootloader106UnlocksEveryCommandAndSurvivesANakedPacket) {
    Update(BootloaderProfile("loader.version=1.06,rev B\nloader.fault.nak=3\n"));
    ExpectTheImageStored();
    EXPECT_EQ(Occurrences("5831\\r\\n\\x00"), 3u) << "after u, c and r";
    EXPECT_NE(transcript.find("packet 4 block 3\n"), std::string::npos) << "block 3 again";
}

TEST_F(XmodemUpdate, WrongChecksumReportFailsWithoutRestart) {
    Update(BootloaderProfile("loader.version=1.05\nloader.fault.checksum=wrong\n"));
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich"));
    EXPECT_EQ(transcript.find("rx r"), std::string::npos) << "never restarted";
    EXPECT_TRUE(run.OutHas("Pr\xC3\xBC"
                           "fsumme des Bootloaders falsch"))
        << run.Out;
    FailAndRetry(BootloaderProfile("loader.version=1.05\nloader.fault.checksum=wrong\n"));
    ExpectFailureWithThePortGivenBack();
}

TEST_F(XmodemUpdate, SilentBootloaderFailsAndTheRetryStartsAgainAtTheSessionLine) {
    Update(BootloaderProfile("loader.version=1.05\nloader.fault.silent=5\n"));
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich"));
    FailAndRetry(BootloaderProfile("loader.version=1.05\nloader.fault.silent=5\n"));
    ExpectFailureWithThePortGivenBack();
}

TEST_F(XmodemUpdate, OversizedFileIsRefusedBeforeTheBootloaderStarts) {
    std::vector<std::uint8_t> bytes = FirmwareBytes();
    bytes.resize(programmers::LargestImageFile() + 1, 0x5A);
    // The version of a binary file is looked for near its end.
    std::copy(bytes.begin() + 40, bytes.begin() + 49, bytes.end() - 100);
    folder.Write("prog/DM10_V200.BIN", std::string(bytes.begin(), bytes.end()));
    Update(BootloaderProfile("loader.version=1.05\n"));
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("DM10_V200.BIN")) << run.Out;
    EXPECT_TRUE(run.OutHas(std::to_string(bytes.size()) + " Bytes")) << run.Out;
    EXPECT_EQ(transcript.find("A.1250"), std::string::npos) << "nothing sent";
}

} // namespace
