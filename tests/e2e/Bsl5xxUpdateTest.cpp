#include "Harness.h"
#include "tests/support/TiTxtImage.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using e2e::Replace;
using testing_support::TempFolder;
using titxt_test::LabImage;
using titxt_test::MemoryOf;

// A lab instrument with a 5xx/6xx processor; extra lines adjust the loader,
// restart is what the new firmware says when it starts.
std::string LabProfile(const std::string& loaderLines, const std::string& restart = "@300:I.30#") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=12345678\npassword=5C00\nloader=msp430-5xx\n"
           "loader.chip_id=5438\nflash_start=0x1000\nflash_size=0x44C00\n"
           "on.restart=" +
           restart + "\n" + loaderLines;
}

class Bsl5xxUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
        ASSERT_EQ(e2e::EditDeviceIni(folder, {{"ProgFile2=DM10_V200.TXT", "ProgFile2=LAB_V200.TXT"},
                                              {"FlashErase1=0xC200", "FlashErase1="},
                                              {"ProzTyp=F149", "ProzTyp=5438"}}),
                  "");
        e2e::ReplaceFirmware(folder, "LAB_V200.TXT", LabImage());
    }
    e2e::Run Update(const std::string& profile) {
        e2e::UpdateResult result = e2e::UpdateAgainst(folder, profile, UPDATE_CONSOLE);
        flash = result.Flash;
        transcript = result.Transcript;
        return result.Tool;
    }

    void ExpectFlashHoldsTheImage(const std::string& image = LabImage()) {
        const auto memory = MemoryOf(flash);
        for (const auto& [address, value] : MemoryOf(image)) {
            auto found = memory.find(address);
            ASSERT_TRUE(found != memory.end() && found->second == value) << std::hex << address;
        }
    }

    TempFolder folder;
    std::string flash;
    std::string transcript;
};

// A lab image whose sections differ with seed: information memory, code
// low and above 64 KB, and vectors that are erased but for the reset vector
// 0x5C00, the password the instrument's firmware names.
std::string LabImageOf(int seed) {
    std::vector<std::uint8_t> code = titxt_test::Pattern(700, seed);
    const std::string marker = "VER:2.00";
    std::copy(marker.begin(), marker.end(), code.begin() + 16);
    std::vector<std::uint8_t> vectors(32, 0xFF);
    vectors[30] = 0x00;
    vectors[31] = 0x5C;
    return titxt_test::TiTxt({{0x1800, titxt_test::Pattern(64, seed + 1)},
                              {0x5C00, code},
                              {0x10000, titxt_test::Pattern(600, seed + 2)},
                              {0xFFE0, vectors}});
}

// The 5xx erase frame for address (three bytes, low first, none of them
// printable) as the transcript writes received bytes.
std::string EraseFrame(std::uint32_t address) {
    char text[64];
    std::snprintf(text, sizeof text, "\\x80\\x04\\x00\\x12\\x%02X\\x%02X\\x%02X", address & 0xFF,
                  address >> 8 & 0xFF, address >> 16 & 0xFF);
    return text;
}

TEST_F(Bsl5xxUpdate, TwoUpdatesInARowWithNewInformationMemoryAndCodeBothVerify) {
    e2e::Instrument instrument(folder, LabProfile(""), folder.File("ports/COM1"));
    // The first update starts its erase where the device entry says.
    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"FlashErase1=", "FlashErase1=0x10200"}}), "");
    folder.Write("prog/LAB_V200.TXT", LabImageOf(1));
    const e2e::Run first = e2e::RunUpdate(folder, UPDATE_CONSOLE);
    EXPECT_EQ(first.ExitCode, 0) << first.Out;
    const std::string firstReceived = e2e::ReceivedText(instrument.Transcript());
    EXPECT_EQ(firstReceived.find("\\x80\\x04\\x00\\x12"), firstReceived.find(EraseFrame(0x10200)))
        << "the first erase frame";

    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"FlashErase1=0x10200", "FlashErase1="}}), "");
    folder.Write("prog/LAB_V200.TXT", LabImageOf(5));
    const e2e::Run second = e2e::RunUpdate(folder, UPDATE_CONSOLE);
    EXPECT_EQ(second.ExitCode, 0) << second.Out;
    instrument.Stop();
    flash = instrument.Flash();
    ExpectFlashHoldsTheImage(LabImageOf(5));

    // Only the information segment the image writes is erased, never the
    // loader's own flash.
    const std::string received = e2e::ReceivedText(instrument.Transcript());
    EXPECT_NE(received.find(EraseFrame(0x1800)), std::string::npos);
    for (std::uint32_t untouched : {0x1880u, 0x1900u, 0x1980u, 0x1000u, 0x1600u}) {
        EXPECT_EQ(received.find(EraseFrame(untouched)), std::string::npos) << std::hex << untouched;
    }
}

TEST_F(Bsl5xxUpdate, ImageAbove64KbGoesInAt38400AndStartsAtItsResetVector) {
    e2e::Run run = Update(LabProfile(""));
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
    EXPECT_TRUE(run.OutHas("Download erfolgreich ausgef\xC3\xBChrt !"));
    ExpectFlashHoldsTheImage();
    EXPECT_NE(transcript.find("38400"), std::string::npos);
    EXPECT_TRUE(run.OutHas("start at 0x5C00")) << run.Out;
}

TEST_F(Bsl5xxUpdate, ASuccessIsOnlyReportedWithTheNewFirmwareRunning) {
    e2e::ExpectSuccessOnlyWithTheNewFirmwareRunning(
        [&](const std::string& restart, const std::string& extra) {
            const e2e::Run run = Update(LabProfile(extra, restart));
            return std::pair{run, transcript};
        });
}

class Bsl5xxFaults : public Bsl5xxUpdate {
protected:
    void ExpectOneBootloaderBox(const e2e::Run& run) {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 1) << run.Out;
        EXPECT_EQ(e2e::Count(run.Out, "[Error]"), 1u) << run.Out;
        EXPECT_TRUE(run.OutHas("[Error] Fehler im Bootloader")) << run.Out;
        EXPECT_FALSE(run.OutHas("Download erfolgreich"));
    }
};

TEST_F(Bsl5xxFaults, TwoRefusalsOfAStepAreSurvivedAndTheThirdEndsTheTransfer) {
    // Frames 1..4: password, version, chip id, baud; 5 is the first erase.
    e2e::Run survived = Update(LabProfile("loader.fault.refuse=5,6\n"));
    EXPECT_EQ(survived.ExitCode, 0) << survived.Out;
    ExpectFlashHoldsTheImage();

    ExpectOneBootloaderBox(Update(LabProfile("loader.fault.refuse=5,6,7\n")));
}

TEST_F(Bsl5xxFaults, ThreeSilencesEndTheTransferTwoAreSurvived) {
    e2e::Run survived = Update(LabProfile("loader.fault.silent=2,3\n"));
    EXPECT_EQ(survived.ExitCode, 0) << survived.Out;
    ExpectFlashHoldsTheImage();

    ExpectOneBootloaderBox(Update(LabProfile("loader.fault.silent=2,3,4\n")));
}

TEST_F(Bsl5xxFaults, AFailureMessageEndsTheTransferAtOnceWithOneBox) {
    // Frame 6 is an erase: a flash failure, or a password error there.
    for (const char* code : {"2", "5"}) {
        e2e::Run run = Update(LabProfile(std::string("loader.fault.message=6:") + code + "\n"));
        ExpectOneBootloaderBox(run);
        EXPECT_EQ(e2e::Count(transcript, "rx \\x80"), 6u)
            << "nothing is sent after message " << code;
    }
}

TEST_F(Bsl5xxFaults, AResponseWithAWrongCrcIsAskedForAgain) {
    // Response 2 is the version: dropped, the watchdog asks again.
    e2e::Run run = Update(LabProfile("loader.fault.corrupt=2\n"));
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    ExpectFlashHoldsTheImage();
}

TEST_F(Bsl5xxFaults, AWrongPasswordErasesTheInstrumentAndTheBlankOneStillProgramsIt) {
    // The instrument names a password its vector table does not hold.
    e2e::Run run = Update(LabProfile("on.5577=I.80#1234\n"));
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_TRUE(run.OutHas("blank password")) << run.Out;
    ExpectFlashHoldsTheImage();
}

TEST_F(Bsl5xxFaults, FileNameEndingInAtKeepsTheLowSpeed) {
    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"ProgFile2=LAB_V200.TXT", "ProgFile2=LAB_V200.TXT@"}}),
              "");
    e2e::Run run = Update(LabProfile(""));
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    ExpectFlashHoldsTheImage();
    EXPECT_EQ(transcript.find("38400"), std::string::npos);
}

TEST_F(Bsl5xxFaults, RetryAfterAFailureGoesThroughTheSameLoaderWithTheLearnedPassword) {
    folder.Write("prog/Update.ini", "Language=0\r\nDebugInfo=YES\r\n");
    // The chip identifier is refused three times: the run fails still at
    // 9600, where the loader can be reached again.
    e2e::Instrument instrument(folder, LabProfile("loader.fault.refuse=3,4,5\n"),
                               folder.File("ports/COM1"));
    e2e::Run run = e2e::RetryAfterBootloaderFailure(folder, UPDATE_CONSOLE);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_NE(run.Out.find("[Error] Fehler im Bootloader"), run.Out.find("Download erfolgreich"))
        << run.Out;
    EXPECT_TRUE(run.OutHas("Download erfolgreich")) << run.Out;
    instrument.Stop();
    flash = instrument.Flash();
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_FALSE(run.OutHas("blank password")) << "the learned password opened the loader";
    ExpectFlashHoldsTheImage();
}

} // namespace
