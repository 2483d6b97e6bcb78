#include "Harness.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::TempFolder;

// The demo meter; its ROM loader hangs up when the given frame arrives.
std::string HangingUpMeter(int frame) {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=12345678\npassword=C000\nloader=msp430-rom\n"
           "loader.version=1.40\nloader.chip_id=F449\nflash_start=0x1000\nflash_size=0xF000\n"
           "loader.fault.hangup=" +
           std::to_string(frame) + "\n";
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
