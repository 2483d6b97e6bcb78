// Two tools started on the same port, as happens when an operator opens a
// second window by mistake: the second must stay out without touching the
// line, and the first must finish its update.
#include "Harness.h"
#include "programmers/Protocol.h"
#include "tests/support/TiTxtImage.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using testing_support::TempFolder;
using titxt_test::MemoryOf;

TEST(SharedPort, SecondToolFindsThePortBusyAndTheFirstStillUpdates) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder, e2e::Lines({"Language=0", "Com=1"}));
    e2e::Instrument instrument(
        folder,
        "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
        "version=1.23\nserial=12345678\npassword=C000\nloader=msp430-rom\n"
        "flash_start=0x1000\nflash_size=0xF000\non.restart=@300:I.30#\n",
        folder.File("ports/COM1"));
    const std::vector<std::string> tool = {
        UPDATE_CONSOLE,   "--dir", folder.File("prog"), "--ports", folder.File("ports"),
        "--time-divisor", "10"};
    e2e::ConsoleSession first(folder, tool);
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(first.Type("ok"));
    // The transfer is starting: the second comes in while the first sends.
    ASSERT_TRUE(first.WaitForOutput("Der Download kann bis zu")) << first.Out();

    pid_t pid = e2e::Spawn(tool, folder.File("second.out"), folder.File("second.err"));
    e2e::Run busy;
    busy.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(30), busy.TimedOut);
    busy.Out = e2e::ReadFile(folder.File("second.out"));
    EXPECT_EQ(busy.ExitCode, protocol::exitcode::PortUnavailable) << busy.Out;
    EXPECT_TRUE(busy.OutHas("von einem anderen Programm belegt")) << busy.Out;

    EXPECT_TRUE(first.WaitForOutput("Download erfolgreich", std::chrono::seconds(60)))
        << first.Out();
    e2e::Run run = first.Finish();
    instrument.Stop();
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(MemoryOf(instrument.Flash()),
              MemoryOf(e2e::ReadFile(folder.File("prog/DM10_V200.TXT"))));
}

// A calling script must learn that its port was taken, not that the search
// found nobody on it.
TEST(SharedPort, ScriptedRunsOnABusyFixedPortEndWithThePortCode) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder, e2e::Lines({"Language=0", "Com=1"}));
    e2e::Instrument instrument(folder,
                               "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\n"
                               "device=43110.000\nversion=1.23\nserial=12345678\n",
                               folder.File("ports/COM1"));
    const int holder = ::open(folder.File("ports/COM1").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    for (const char* option : {"--start", "--identify"}) {
        const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, {option});
        EXPECT_EQ(run.ExitCode, protocol::exitcode::PortUnavailable) << option << ": " << run.Out;
        EXPECT_TRUE(run.OutHas("von einem anderen Programm belegt")) << option << ": " << run.Out;
    }
    ::close(holder);
    EXPECT_EQ(e2e::ReceivedText(instrument.Transcript()), "") << "the line was touched";
}

} // namespace
