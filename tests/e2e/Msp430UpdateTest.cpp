#include "Harness.h"
#include "tests/support/TiTxtImage.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace {

using testing_support::TempFolder;
using titxt_test::MemoryOf;
using titxt_test::TiTxt;

std::string WithoutCr(std::string text) {
    std::erase(text, '\r');
    return text;
}

// The demo meter with its ROM loader; extra lines adjust the loader, restart
// is what the new firmware says when it starts.
std::string MeterProfile(const std::string& loaderLines,
                         const std::string& restart = "@300:I.30#") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=12345678\npassword=C000\nloader=msp430-rom\n"
           "flash_start=0x1000\nflash_size=0xF000\non.restart=" +
           restart + "\n" + loaderLines;
}

class Msp430Update : public ::testing::Test {
protected:
    void SetUp() override { e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni); }
    void StartInstrument(const std::string& profile) {
        instrument_.emplace(folder, profile, folder.File("ports/COM1"));
    }
    void StopInstrument() {
        if (instrument_) {
            instrument_->Stop();
        }
    }
    void TearDown() override { StopInstrument(); }
    e2e::Run Update(const std::vector<std::string>& extra = {}) {
        e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, extra);
        StopInstrument();
        return run;
    }
    std::string Flash() { return WithoutCr(instrument_->Flash()); }
    std::string Image() { return WithoutCr(e2e::ReadFile(folder.File("prog/DM10_V200.TXT"))); }
    std::string Transcript() { return instrument_->Transcript(); }

    TempFolder folder;
    std::optional<e2e::Instrument> instrument_;
};

TEST_F(Msp430Update, Loader160TransfersAt38400AndTheFlashHoldsTheImage) {
    StartInstrument(MeterProfile("loader.version=1.60\nloader.chip_id=F149\n"));
    e2e::Run run = Update({"--trace"});
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_TRUE(run.OutHas("Download erfolgreich ausgef\xC3\xBChrt !"));
    EXPECT_TRUE(run.OutHas("Trennen Sie das Demo Meter DM 10 von der Schnittstelle COM 1."));
    EXPECT_EQ(Flash(), Image());
    EXPECT_NE(Transcript().find("38400"), std::string::npos) << "the loader switched speed";
    // The pause while the loader starts counts down, and the panel's own text comes back.
    const std::size_t eight = run.Err.find("WaitPanel.Caption = Bitte warten ... (noch 8 s)\n");
    const std::size_t one = run.Err.find("WaitPanel.Caption = Bitte warten ... (noch 1 s)\n");
    EXPECT_LT(eight, one) << run.Err;
    EXPECT_NE(run.Err.find("WaitPanel.Caption = Bitte warten ...\n", one), std::string::npos);
}

// The old firmware claims a new one is ready before anything was sent: the
// session must not take it for the restart report and end as updated.
TEST_F(Msp430Update, AReadyReportBeforeTheTransferIsNotASuccess) {
    StartInstrument(
        MeterProfile("loader.version=1.60\nloader.chip_id=F149\non.4001@1=I.25#12345678|I.31#\n"));
    e2e::Run run = Update();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_TRUE(run.OutHas("I.31# <-")) << run.Out;
    EXPECT_TRUE(run.OutHas("au\xC3\x9F"
                           "erhalb des Neustarts"))
        << run.Out;
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(e2e::Count(run.Out, "Download erfolgreich"), 1u) << run.Out;
    EXPECT_LT(run.Out.find("Der Download kann"), run.Out.find("Download erfolgreich"))
        << "success only after the transfer\n"
        << run.Out;
    EXPECT_EQ(Flash(), Image()) << "the update went on to the transfer";
}

TEST_F(Msp430Update, ASuccessIsOnlyReportedWithTheNewFirmwareRunning) {
    e2e::ExpectSuccessOnlyWithTheNewFirmwareRunning(
        [&](const std::string& restart, const std::string& extra) {
            StartInstrument(
                MeterProfile("loader.version=1.60\nloader.chip_id=F149\n" + extra, restart));
            const e2e::Run run = Update();
            return std::pair{run, Transcript()};
        });
}

TEST_F(Msp430Update, Loader140StaysAt9600) {
    StartInstrument(MeterProfile("loader.version=1.40\nloader.chip_id=F449\n"));
    e2e::Run run = Update();
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(Flash(), Image());
    EXPECT_EQ(Transcript().find("38400"), std::string::npos);
}

TEST_F(Msp430Update, FileNameEndingInAtKeepsTheLowSpeed) {
    std::string devices = e2e::ReadFile(folder.File("prog/ProgDevice.ini"));
    devices.replace(devices.find("ProgFile2=DM10_V200.TXT"), 23, "ProgFile2=DM10_V200.TXT@");
    folder.Write("prog/ProgDevice.ini", devices);
    StartInstrument(MeterProfile("loader.version=1.60\nloader.chip_id=F149\n"));
    e2e::Run run = Update();
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(Flash(), Image());
    EXPECT_EQ(Transcript().find("38400"), std::string::npos);
}

TEST_F(Msp430Update, RetryAfterAFailedTransferNeedsNoNewSearch) {
    folder.Write("prog/Update.ini", "Language=0\r\nDebugInfo=YES\r\n");
    // A loader that stays at 9600: one that has switched to 38400 keeps that
    // speed until the instrument is reset, and a retry cannot reach it.
    StartInstrument(MeterProfile("loader.version=1.40\nloader.chip_id=F449\n"
                                 "loader.fault.refuse=12,13,14,15\n"));
    e2e::Run run = e2e::RetryAfterBootloaderFailure(folder, UPDATE_CONSOLE);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_NE(run.Out.find("[Error] Fehler im Bootloader"), run.Out.find("Download erfolgreich"))
        << run.Out;
    EXPECT_TRUE(run.OutHas("Download erfolgreich")) << run.Out;
    StopInstrument();
    EXPECT_EQ(run.ExitCode, 0);
    std::string transcript = Transcript();
    std::size_t firstSearch = e2e::ReceivedText(transcript).find("A.1111");
    ASSERT_NE(firstSearch, std::string::npos);
    EXPECT_EQ(e2e::ReceivedText(transcript).find("A.1111", firstSearch + 1), std::string::npos)
        << "no new device search after the failure";
    EXPECT_EQ(MemoryOf(Flash()), MemoryOf(Image()));
}

TEST_F(Msp430Update, ThreeRefusalsOfAFrameAreSurvived) {
    StartInstrument(MeterProfile("loader.version=1.60\nloader.chip_id=F149\n"
                                 "loader.fault.refuse=12,13,14\n"));
    e2e::Run run = Update();
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(Flash(), Image());
}

TEST_F(Msp430Update, FourthRefusalEndsTheTransferWithTheBootloaderError) {
    StartInstrument(MeterProfile("loader.version=1.60\nloader.chip_id=F149\n"
                                 "loader.fault.refuse=12,13,14,15\n"));
    e2e::Run run = Update();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("[Error] Fehler im Bootloader !!  Programmierung wurde abgebrochen."))
        << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich"));
}

TEST_F(Msp430Update, VerifyDifferenceIsNeverReportedAsSuccess) {
    StartInstrument(MeterProfile("loader.version=1.60\nloader.chip_id=F149\n"
                                 "loader.fault.flip=0xC020:3\n"));
    e2e::Run run = Update();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich"));
}

TEST_F(Msp430Update, BrokenFirmwareFileFailsBeforeTheLoaderIsEntered) {
    // The version is readable, the data are not.
    folder.Write("prog/DM10_V200.TXT", "@C000\r\n56 45 52 3A 32 2E 30 30 00 00\r\nZZ 11\r\nq\r\n");
    StartInstrument(MeterProfile("loader.version=1.60\nloader.chip_id=F149\n"));
    e2e::Run run = Update();
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("DM10_V200.TXT")) << run.Out;
    EXPECT_EQ(Transcript().find("A.5588"), std::string::npos) << "nothing was erased";
}

TEST_F(Msp430Update, ImageAbove64KGoesThroughTheMemoryOffset) {
    std::vector<std::uint8_t> code = titxt_test::Pattern(0x200, 1);
    const std::uint8_t version[] = {0x56, 0x45, 0x52, 0x3A, 0x32, 0x2E, 0x30, 0x30, 0x00, 0x00};
    std::copy(std::begin(version), std::end(version), code.begin() + 16);
    std::vector<std::uint8_t> vectors;
    for (int i = 0; i < 16; ++i) {
        vectors.insert(vectors.end(), {0x00, 0x31});
    }
    std::string image = TiTxt({{0x3100, code},
                               {0xFFE0, vectors},
                               {0x10000, titxt_test::Pattern(0x120, 2)},
                               {0x1F000, titxt_test::Pattern(0x40, 3)}});
    folder.Write("prog/DM10_V200.TXT", image);
    // The demo's erase start fits the demo's image only.
    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"FlashErase1=0xC200", "FlashErase1="}}), "");
    StartInstrument("start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
                    "version=1.23\nserial=12345678\npassword=3100\nloader=msp430-rom\n"
                    "loader.version=1.60\nloader.chip_id=F26F\nloader.main_flash=0x3100-0x1FFFF\n"
                    "loader.ram=0x1100-0x30FF\nflash_start=0x1000\nflash_size=0x1F000\n"
                    "on.restart=@300:I.30#\n");
    e2e::Run run = Update();
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(MemoryOf(Flash()), MemoryOf(image));
}

TEST_F(Msp430Update, Loader110LoadsAndVerifiesThePatchFirst) {
    folder.Write("prog/Patch.TXT", TiTxt({{0x0220, titxt_test::Pattern(0x40, 9)}}));
    StartInstrument(MeterProfile("loader.version=1.10\nloader.chip_id=F149\n"));
    e2e::Run run = Update();
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(MemoryOf(Flash()), MemoryOf(Image()));
    // Load program counter 0C22 ('"' is 0x22, written as itself).
    EXPECT_NE(e2e::ReceivedText(Transcript()).find("\\x80\\x1A\\x04\\x04\"\\x0C"),
              std::string::npos)
        << "the patch preparation starts at 0C22";
}

} // namespace
