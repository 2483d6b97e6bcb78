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

// The demo meter with its ROM loader; extra lines adjust the loader.
std::string MeterProfile(const std::string& loaderLines) {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=12345678\npassword=C000\nloader=msp430-rom\n"
           "flash_start=0x1000\nflash_size=0xF000\non.restart=@300:I.30#\n" +
           loaderLines;
}

std::vector<std::uint8_t> Bytes(std::size_t count, int seed) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37 + static_cast<std::size_t>(seed) * 11);
    }
    return bytes;
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
    e2e::Run Update() {
        e2e::Run run;
        pid_t pid = e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                folder.File("ports"), "--time-divisor", "10"},
                               folder.File("out.txt"), folder.File("err.txt"));
        run.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(120), run.TimedOut);
        run.Out = e2e::ReadFile(folder.File("out.txt"));
        run.Err = e2e::ReadFile(folder.File("err.txt"));
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
    e2e::Run run = Update();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_TRUE(run.OutHas("Download erfolgreich ausgef\xC3\xBChrt !"));
    EXPECT_TRUE(run.OutHas("Trennen Sie das Demo Meter DM 10 von der Schnittstelle COM 1."));
    EXPECT_EQ(Flash(), Image());
    EXPECT_NE(Transcript().find("38400"), std::string::npos) << "the loader switched speed";
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
    std::string fifo = folder.File("commands");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Held open for writing before the tool opens it, so that neither side
    // blocks; closing it is the end of the tool's input.
    int commands = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(commands, 0);
    pid_t tool = e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                             folder.File("ports"), "--time-divisor", "10", "--start"},
                            folder.File("out.txt"), folder.File("err.txt"), fifo);
    auto waitForOutput = [&](const std::string& text) {
        for (int i = 0; i < 1500; ++i) {
            if (e2e::ReadFile(folder.File("out.txt")).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    };
    ASSERT_TRUE(waitForOutput("[Error] Fehler im Bootloader"))
        << e2e::ReadFile(folder.File("out.txt"));
    ASSERT_EQ(::write(commands, "ok\n", 3), 3);
    EXPECT_TRUE(waitForOutput("Download erfolgreich")) << e2e::ReadFile(folder.File("out.txt"));
    ::close(commands);
    e2e::Run run;
    run.ExitCode = e2e::WaitFor(tool, std::chrono::seconds(60), run.TimedOut);
    StopInstrument();
    EXPECT_EQ(run.ExitCode, 0);
    std::string transcript = Transcript();
    std::size_t firstSearch = transcript.find("rx A.1111");
    ASSERT_NE(firstSearch, std::string::npos);
    EXPECT_EQ(transcript.find("rx A.1111", firstSearch + 1), std::string::npos)
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
    std::vector<std::uint8_t> code = Bytes(0x200, 1);
    const std::uint8_t version[] = {0x56, 0x45, 0x52, 0x3A, 0x32, 0x2E, 0x30, 0x30, 0x00, 0x00};
    std::copy(std::begin(version), std::end(version), code.begin() + 16);
    std::vector<std::uint8_t> vectors;
    for (int i = 0; i < 16; ++i) {
        vectors.insert(vectors.end(), {0x00, 0x31});
    }
    std::string image = TiTxt(
        {{0x3100, code}, {0xFFE0, vectors}, {0x10000, Bytes(0x120, 2)}, {0x1F000, Bytes(0x40, 3)}});
    folder.Write("prog/DM10_V200.TXT", image);
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
    folder.Write("prog/Patch.TXT", TiTxt({{0x0220, Bytes(0x40, 9)}}));
    StartInstrument(MeterProfile("loader.version=1.10\nloader.chip_id=F149\n"));
    e2e::Run run = Update();
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(MemoryOf(Flash()), MemoryOf(Image()));
    // Load program counter 0C22 ('"' is 0x22, written as itself).
    EXPECT_NE(Transcript().find("rx \\x80\\x1A\\x04\\x04\"\\x0C"), std::string::npos)
        << "the patch preparation starts at 0C22";
}

} // namespace
