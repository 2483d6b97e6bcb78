#include "Harness.h"
#include "LineCause.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::TempFolder;

// The demo meter with its ROM loader; lines added to its profile.
std::string RomLoaderMeter(const std::string& lines) {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=12345678\npassword=C000\nloader=msp430-rom\n"
           "loader.version=1.40\nloader.chip_id=F449\nflash_start=0x1000\nflash_size=0xF000\n" +
           lines;
}

// The demo meter; its ROM loader hangs up when the given frame arrives.
std::string HangingUpMeter(int frame) {
    return RomLoaderMeter("loader.fault.hangup=" + std::to_string(frame) + "\n");
}

class LineFailure : public ::testing::Test {
protected:
    void SetUp() override { e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni); }

    TempFolder folder;
};

// The tool runs at its real pace: the loader's watchdog would then notice
// the dead line only five seconds after the hang-up.
TEST_F(LineFailure, HangUpDuringTheTransferEndsTheStepAtOnceNamingPortDeviceAndCause) {
    // Frame 8 is the second block of data written, after the erase.
    e2e::Instrument instrument(folder, HangingUpMeter(8), folder.File("ports/COM1"), "1");
    const std::string device = folder.File("ports/COM1");
    pid_t tool = e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                             folder.File("ports"), "--time-divisor", "1"},
                            folder.File("out.txt"), folder.File("err.txt"));

    std::optional<Clock::time_point> hungUp, told;
    const std::string failure = "COM1 (" + device + "): ";
    auto deadline = Clock::now() + std::chrono::seconds(90);
    while (!told && Clock::now() < deadline) {
        if (!hungUp && instrument.Transcript().find("hang-up") != std::string::npos) {
            hungUp = Clock::now();
        }
        if (hungUp && e2e::ReadFile(folder.File("out.txt")).find(failure) != std::string::npos) {
            told = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    e2e::Run run;
    run.ExitCode = e2e::WaitFor(tool, std::chrono::seconds(60), run.TimedOut);
    run.Out = e2e::ReadFile(folder.File("out.txt"));
    ASSERT_TRUE(hungUp) << instrument.Transcript();
    ASSERT_TRUE(told) << run.Out;
    EXPECT_LT(*told - *hungUp, std::chrono::milliseconds(2500))
        << "the step ended by the hang-up, not by the watchdog";
    EXPECT_TRUE(run.OutHas(failure + "read: hung up") || run.OutHas(failure + "write: hung up"))
        << run.Out;
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich"));
}

// After the firmware the meter takes a newer bootloader file. Its cable is
// pulled while the boot-file step waits before that transfer (after the
// clock's acknowledge): the step fails on the dead port, and the session
// ends once, as failed, naming the port, its device and the hang-up.
TEST_F(LineFailure, HangUpWhileTheBootFileStepWaitsEndsTheSessionOnceNamingTheCause) {
    std::string bootFile = e2e::ReadFile(folder.File("prog/DM10_V200.TXT"));
    e2e::Replace(bootFile, "56 45 52 3A 32 2E 30 30", "56 45 52 3A 31 2E 32 30"); // VER:1.20
    folder.Write("prog/BL10_V120.TXT", bootFile);
    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"ProgFile3=", "ProgFile3=BL10_V120.TXT"},
                                          {"SWKenn3=", "SWKenn3=56 45 52 3A"}}),
              "");
    // Bootloader 1.10; a board of this number makes the step wait 7 s more
    // before its transfer, so that the hang-up 3 s after the clock falls
    // into the step's own waits even on a loaded machine.
    std::string meter = RomLoaderMeter("on.restart=@300:I.30#\nfault.1600=hangup+3000\n");
    e2e::Replace(meter, "version=1.23", "version=1.23,1.10");
    e2e::Replace(meter, "pcb=43110.201", "pcb=41217.201");
    e2e::Instrument instrument(folder, meter, folder.File("ports/COM1"));
    const std::string device = folder.File("ports/COM1");
    const e2e::Run run = e2e::RunUpdate(
        folder, UPDATE_CONSOLE, {"--report", folder.File("report.json")}, std::chrono::seconds(20));
    instrument.Stop();
    const std::string transcript = instrument.Transcript();
    ASSERT_FALSE(run.TimedOut) << run.Out;
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich")) << run.Out;
    const std::size_t hungUp = transcript.find("fault: hang-up\n");
    ASSERT_NE(hungUp, std::string::npos) << transcript;
    // Nothing came after the clock's line: the hang-up struck in the step's waits.
    const std::size_t clock = transcript.rfind("A.1600#", hungUp);
    ASSERT_NE(clock, std::string::npos) << transcript;
    const std::size_t afterClock = transcript.find('\n', clock) + 1;
    EXPECT_EQ(e2e::ReceivedText(transcript.substr(afterClock, hungUp - afterClock)), "")
        << transcript;
    EXPECT_EQ(e2e::HangUpUntold("COM1", device, run.Out, folder.File("report.json")), "");
    const auto report = nlohmann::json::parse(e2e::ReadFile(folder.File("report.json")));
    EXPECT_EQ(report["failure"]["step"], "transfer") << report.dump(2);
    EXPECT_EQ(e2e::Count(run.Out, "Das Update wurde abgebrochen"), 1u) << "one end" << run.Out;
}

// COM1's instrument hangs up at the first wake command (an adapter pulled):
// the log names the port and the cause once, and the search goes on without
// it and finds the meter on COM2 at the next speed.
TEST_F(LineFailure, AHangUpDuringTheSearchIsLoggedAndThePortLeftOut) {
    TempFolder elsewhere;
    e2e::Instrument hangingUp(elsewhere,
                              "start_mode=0\nbaud=4800\nstop_bits=2\npcb=1\ndevice=1\n"
                              "version=1.00\nserial=1\nfault.1111=hangup\n",
                              folder.File("ports/COM1"));
    std::string at9600 = HangingUpMeter(100000);
    e2e::Replace(at9600, "baud=4800", "baud=9600");
    e2e::Instrument meter(folder, at9600, folder.File("ports/COM2"));
    const std::string device = folder.File("ports/COM1");
    const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    const std::string failed = "bei der Suche \xC3\xBC"
                               "bergangen: COM1 (" +
                               device + "): ";
    const std::size_t at = run.Out.find(failed);
    ASSERT_NE(at, std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("hung up", at), std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find(failed, at + 1), std::string::npos) << "said once";
}

} // namespace
