#include "programmers/ExternalTool.h"

#include "../serial/SerialTestSupport.h"
#include "FakeHost.h"
#include "programmers/ProgrammerRegistry.h"
#include "tests/support/TempFolder.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using programmers::ToolRunsAgain;
using programmers::TToolRun;
using Args = std::vector<std::string>;

TEST(ToolArguments, TheFileStaysOneArgumentWhateverItHolds) {
    const std::string file = "Z70 \"BOOT\";rm -rf x 'y'.MOT";
    EXPECT_EQ(programmers::HexLoaderArguments(file, 3, false),
              (Args{file, "-com3", "-baudrate38400", "-auto", "-exit"}));
    EXPECT_EQ(programmers::HexLoaderArguments(file, 12, true),
              (Args{file, "-com12", "-baudrate9600", "-auto", "-exit"}));
    EXPECT_EQ(programmers::Pic32Arguments(file, 7), (Args{"-f" + file, "-c7", "-b7", "-a"}));
}

// One digit names the port: any other number would name another port.
TEST(ToolArguments, ThePic32ToolIsToldPorts1To9AndNoOther) {
    EXPECT_EQ(programmers::Pic32Arguments("F.HEX", 1)[1], "-c1");
    EXPECT_EQ(programmers::Pic32Arguments("F.HEX", 9)[1], "-c9");
    for (int port : {0, -1, 10, 12, 255}) {
        EXPECT_TRUE(programmers::Pic32Arguments("F.HEX", port).empty()) << port;
    }
}

TEST(ToolAttempts, OnlyAHeldPortIsTriedAgainAndAtMostThreeTimes) {
    const TToolRun held{0, programmers::ToolRetryExitCode};
    EXPECT_TRUE(ToolRunsAgain(held, 1, false));
    EXPECT_TRUE(ToolRunsAgain(held, 2, false));
    EXPECT_FALSE(ToolRunsAgain(held, 3, false));
    EXPECT_FALSE(ToolRunsAgain(held, 1, true)) << "a device gone stays gone";
    EXPECT_FALSE(ToolRunsAgain({0, 0}, 1, false));
    EXPECT_FALSE(ToolRunsAgain({0, 2}, 1, false));
    EXPECT_TRUE(ToolRunsAgain({EACCES, 1}, 1, false));
    EXPECT_FALSE(ToolRunsAgain({EACCES, 1}, 3, false));
    EXPECT_FALSE(ToolRunsAgain({ENOENT, 1}, 1, false)) << "a missing tool will not appear";
}

// The programmer with a real child: a script in the program folder that
// notes its arguments and ends with the codes it is given, one per run.
class ToolRun : public ::testing::Test {
protected:
    ToolRun() {
        platform::Application::Instance().Reopen();
        platform::Application::Instance().SetTimeDivisor(10);
        host.folder = folder.Path();
        host.portNumber = 5;
        job.ProgFile = "FIRM WARE.MOT";
        folder.Write("FIRM WARE.MOT", std::string(4000, 'x'));
    }
    ~ToolRun() override { platform::Application::Instance().SetTimeDivisor(1); }

    void InstallTool(const std::string& name, const std::string& codes) {
        folder.Write(name, "#!/bin/sh\n"
                           "dir=$(dirname \"$0\")\n"
                           "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$dir/args.log\"\n"
                           "echo -- >> \"$dir/args.log\"\n"
                           "code=$(head -n 1 \"$dir/codes\")\n"
                           "sed -i 1d \"$dir/codes\"\n"
                           "exit ${code:-0}\n");
        std::filesystem::permissions(folder.File(name), std::filesystem::perms::owner_all);
        folder.Write("codes", codes);
    }
    programmers::TProgrammerResult Run(programmers::TToolSettings settings,
                                       const std::string& file = "firm ware.mot") {
        programmers::TExternalTool tool({host, com, delay, job}, settings);
        return tool.Program(file);
    }
    // The session port on COM5, a pty in ports, once opened as the session
    // had it before lending it to the tool.
    void LendPort(serialtest::PortDirectory& ports, const serialtest::Pty& pty) {
        ports.Link(4, pty.SlavePath());
        serial::V24ParameterTag record;
        com.InitParameter(&record, false);
        ASSERT_NE(com.Open(0, 0, 4, false), serial::INVALID_HANDLE_VALUE);
        com.Close();
    }
    void WriteTool(const std::string& name, const std::string& script) {
        folder.Write(name, script);
        std::filesystem::permissions(folder.File(name), std::filesystem::perms::owner_all);
    }
    std::string ArgsLog() {
        std::ifstream in(folder.File("args.log"));
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    testing_support::TempFolder folder;
    bsltest::FakeHost host;
    serial::TComPort com{nullptr, "UpdateCom"};
    serial::TDelay delay{nullptr};
    programmers::TProgJob job;
};

TEST_F(ToolRun, TheHexLoaderRunsWhileThePortIsLentAndOnlyExitCode1RunsItAgain) {
    InstallTool(programmers::HexLoaderTool, "1\n1\n0\n");
    const programmers::TProgrammerResult result =
        Run({.Which = programmers::Tool::HexLoader, .LowSpeedAfter = true});
    EXPECT_TRUE(result.Succeeded()) << result.Failure.Cause;
    // The file as it stands on disk, one argument.
    const std::string run = "FIRM WARE.MOT\n-com5\n-baudrate38400\n-auto\n-exit\n--\n";
    EXPECT_EQ(ArgsLog(), run + run + run);
    EXPECT_EQ(host.retries, 2);
    EXPECT_EQ(host.portCalls, (Args{"release", "reclaim at 9600"}));
    // 4000 bytes at the tool's 2000 a tick, from 0 at every run.
    EXPECT_EQ(host.estimates, (std::vector<double>{2, 2, 2}));
    ASSERT_FALSE(host.titleStates.empty());
    EXPECT_EQ(host.titleStates.back(), programmers::TitleState::Plain);

    std::filesystem::remove(folder.File("args.log"));
    host.portCalls.clear();
    folder.Write("codes", "3\n");
    const programmers::TProgrammerResult failed =
        Run({.Which = programmers::Tool::HexLoader, .LowSpeedAfter = true});
    EXPECT_FALSE(failed.Succeeded());
    EXPECT_EQ(failed.Failure.Step, "transfer");
    EXPECT_EQ(failed.Failure.Cause, "HEXLoad_8N1.exe failed with exit code 3 after 1 attempt");
    EXPECT_EQ(host.portCalls, (Args{"release", "reclaim"})) << "the low speed follows a success";
}

TEST_F(ToolRun, APortThatDoesNotComeBackOutweighsTheToolsSuccess) {
    InstallTool(programmers::Pic32Tool, "0\n");
    host.reclaimFailure =
        programmers::TransferFailure("COM5 (/dev/x): reopen: hung up, the device is gone (ENOENT)");
    const programmers::TProgrammerResult result = Run({.Which = programmers::Tool::Pic32Loader});
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Failure.Cause, host.reclaimFailure.Cause);
    EXPECT_EQ(ArgsLog(), "-fFIRM WARE.MOT\n-c5\n-b7\n-a\n--\n");
    EXPECT_TRUE(host.estimates.empty()) << "the PIC32 tool's run shows no estimate";
}

TEST_F(ToolRun, APortThePic32ToolCannotBeToldIsRefusedBeforeThePortIsLent) {
    InstallTool(programmers::Pic32Tool, "0\n");
    host.portNumber = 10;
    const programmers::TProgrammerResult result = Run({.Which = programmers::Tool::Pic32Loader});
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(
        result.Failure.Cause,
        "COM10 is beyond the ports COM1 to COM9 that PIC32_Serial_Bootloader.exe can be given");
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_EQ(host.dialogs.Boxes[0].Text, "not COM10");
    EXPECT_TRUE(host.portCalls.empty());
    EXPECT_EQ(ArgsLog(), "");
}

TEST_F(ToolRun, AMissingToolIsTriedOnceAndNamedWithItsPath) {
    const std::string tool = folder.File("HEXLoad_8N1.exe");
    const programmers::TProgrammerResult result = Run({.Which = programmers::Tool::HexLoader});
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Failure.Cause, "cannot start the tool " + tool + ": not found (ENOENT)");
    EXPECT_EQ(host.retries, 0);
    EXPECT_EQ(host.portCalls, (Args{"release", "reclaim"})) << "the port comes back all the same";

    // There, but its interpreter is not: the same error, said as it is.
    folder.Write("HEXLoad_8N1.exe", "#!/nonexistent/sh\n");
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    const programmers::TProgrammerResult noInterpreter =
        Run({.Which = programmers::Tool::HexLoader});
    EXPECT_EQ(noInterpreter.Failure.Cause,
              "cannot start the tool " + tool +
                  ": its interpreter or loader was not found (ENOENT)");
    EXPECT_EQ(host.retries, 0);
}

// The adapter is pulled under a tool that then sleeps on: it is ended
// after a short grace, not waited for, and not tried again. The port comes
// back here (the host's reclaim does not look), so the log line is the
// programmer's own.
TEST_F(ToolRun, AToolWhosePortsDeviceWentAwayIsEndedAndNotTriedAgain) {
    serialtest::Pty pty;
    serialtest::PortDirectory ports;
    ASSERT_NO_FATAL_FAILURE(LendPort(ports, pty));
    WriteTool(programmers::HexLoaderTool,
              "#!/bin/sh\nrm '" + ports.Path() + "/COM5'\nexec sleep 60\n");
    const programmers::TProgrammerResult result = Run({.Which = programmers::Tool::HexLoader});
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Failure.Cause, "HEXLoad_8N1.exe ended: the device of its port is gone");
    EXPECT_EQ(host.shownLines, (Args{result.Failure.Cause}));
    EXPECT_EQ(host.retries, 0);
    EXPECT_EQ(host.portCalls, (Args{"release", "reclaim"}));
}

// A tool that never ends while its device stays present, and shrugs off
// SIGTERM: past its bound (shortened by the time divisor) it is ended, and
// named with the bound, and not tried again.
TEST_F(ToolRun, AToolThatRunsPastItsBoundIsEndedAndNamedWithTheBound) {
    serialtest::Pty pty;
    serialtest::PortDirectory ports;
    ASSERT_NO_FATAL_FAILURE(LendPort(ports, pty));
    WriteTool(programmers::Pic32Tool, "#!/bin/sh\necho $$ > \"$(dirname \"$0\")/pid\"\n"
                                      "trap '' TERM\nwhile :; do sleep 1; done\n");
    // 30 minutes in 90 ms.
    platform::Application::Instance().SetTimeDivisor(20000);
    const programmers::TProgrammerResult result = Run({.Which = programmers::Tool::Pic32Loader});
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Failure.Cause,
              "PIC32_Serial_Bootloader.exe ran longer than 1800 s and was ended");
    EXPECT_EQ(host.retries, 0);
    EXPECT_EQ(host.portCalls, (Args{"release", "reclaim"}));
    std::ifstream in(folder.File("pid"));
    pid_t pid = 0;
    ASSERT_TRUE(in >> pid);
    EXPECT_EQ(::kill(pid, 0), -1) << "the tool still runs";
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(ToolRun, NoProgramFileRunsNoTool) {
    InstallTool(programmers::HexLoaderTool, "0\n");
    job.ProgFile = "";
    const programmers::TProgrammerResult result = Run({.Which = programmers::Tool::HexLoader});
    EXPECT_EQ(result.Failure.Cause, "no firmware file for the tool: \"\"");
    EXPECT_TRUE(host.portCalls.empty());
    EXPECT_EQ(ArgsLog(), "");
}

// The tool rows build their programmers like the others; the hex loader
// lowers the line afterwards only in start mode 2.
TEST(ToolRows, TheRowsBuildTheToolsSettingsFromTheKey) {
    using programmers::Phase;
    const programmers::TChoice hex =
        programmers::Choose({.Step = Phase::Tool, .FileClass = 0, .StartMode = 2});
    ASSERT_TRUE(hex);
    const auto* settings = std::get_if<programmers::TToolSettings>(&hex.Settings);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->Which, programmers::Tool::HexLoader);
    EXPECT_TRUE(settings->LowSpeedAfter);
    const programmers::TChoice pic32 =
        programmers::Choose({.Step = Phase::MeterRecovery, .FileClass = 3, .StartMode = 2});
    settings = std::get_if<programmers::TToolSettings>(&pic32.Settings);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->Which, programmers::Tool::Pic32Loader);
    EXPECT_FALSE(settings->LowSpeedAfter);
    ASSERT_NE(hex.Entry->Create, nullptr);
    ASSERT_NE(pic32.Entry->Create, nullptr);
}

} // namespace
