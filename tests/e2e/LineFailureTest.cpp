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

} // namespace
