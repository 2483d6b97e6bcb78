#include "Harness.h"
#include "tests/support/ReportSchema.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

namespace {

using testing_support::TempFolder;

// A hand-held meter programmed by the hex loader (file class 0). The loader
// stand-in listens at the hex loader's 38400 8N1 and starts the firmware on
// the fake tool's leave bytes.
std::string MeterProfile(const std::string& extra = {}) {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43170.201\ndevice=43170.000\n"
           "version=1.23\nserial=12345678\nloader=none\nloader_baud=38400\n"
           "loader_stop_bits=1\nprobe=680000680000000016\nprobe_leave=5AA5\n" +
           extra;
}

// Each run of the fake tool: its arguments and whether the port was free.
std::vector<std::vector<std::string>> ToolRuns(const std::string& log) {
    std::vector<std::vector<std::string>> runs(1);
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line == "--") {
            runs.emplace_back();
        } else {
            runs.back().push_back(line);
        }
    }
    runs.pop_back();
    return runs;
}

// Whether a process has ended within 5 s (an orphan's zombie may linger
// until its new parent reaps it).
bool EndedWithin5s(int pid) {
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    for (int i = 0; i < 500; ++i) {
        const std::string state = e2e::ReadFile(stat);
        if (state.empty() || state.find(") Z") != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class ExternalTool : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
        const std::string firmware = e2e::ReadFile(std::string(DEMO_FOLDER) + "/DM10_V200.TXT");
        folder.Write("prog/Z70_V200.MOT", firmware);
        folder.Write("prog/Z70_DEF.MOT", firmware);
        folder.Write("prog/P32_V200.HEX", firmware);
        std::filesystem::copy_file(FAKE_TOOL, folder.File("prog/HEXLoad_8N1.exe"));
        std::filesystem::copy_file(FAKE_TOOL, folder.File("prog/PIC32_Serial_Bootloader.exe"));
        ::setenv("FAKE_TOOL_LOG", folder.File("tool.log").c_str(), 1);
        ::setenv("FAKE_TOOL_CODES", folder.File("codes").c_str(), 1);
        ::setenv("FAKE_TOOL_PORTS", folder.File("ports").c_str(), 1);
        ::setenv("FAKE_M16_LOG", folder.File("library.log").c_str(), 1);
        ::unsetenv("FAKE_M16_FAIL");
    }
    void TearDown() override {
        // What a tool left holding the port must not outlive the test.
        if (const int holder = std::atoi(e2e::ReadFile(folder.File("tool.log.held")).c_str());
            holder > 0 &&
            e2e::ReadFile("/proc/" + std::to_string(holder) + "/cmdline").starts_with("sleep")) {
            ::kill(holder, SIGKILL);
        }
        ::unsetenv("FAKE_M16_FAIL");
        ::unsetenv("FAKE_M16_HANG");
        ::unsetenv("FAKE_TOOL_SLEEP");
        ::unsetenv("FAKE_TOOL_STUCK");
        ::unsetenv("FAKE_TOOL_LINGER");
    }
    void WriteDevice(const std::string& progFile1, const std::string& bootLoadKenn = {},
                     const std::string& progFile2 = "Z70_V200.MOT") {
        folder.Write("prog/ProgDevice.ini",
                     e2e::MeterZ70Devices(progFile1, progFile2, bootLoadKenn));
    }
    // Traced unless told otherwise: the bar and the title show in the
    // model's changes.
    e2e::Run Update(const std::string& profile, int port = 3, bool traced = true) {
        e2e::Instrument meter(folder, profile, folder.File("ports/COM" + std::to_string(port)));
        std::vector<std::string> extra = {"--report", folder.File("report.json")};
        if (traced) {
            extra.push_back("--trace");
        }
        e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, extra);
        meter.Stop();
        transcript = meter.Transcript();
        return run;
    }
    // update-console in the background, with its report.
    pid_t SpawnUpdate() {
        return e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                           folder.File("ports"), "--time-divisor", "10", "--report",
                           folder.File("report.json")},
                          folder.File("out.txt"), folder.File("err.txt"));
    }
    // The pid of the sleep a tool run with FAKE_TOOL_SLEEP started, once it
    // runs; 0 when none came.
    int ToolSleeper() const {
        const auto pidFile = [this] { return e2e::ReadFile(folder.File("tool.log.pid")); };
        e2e::WaitUntilItHolds(pidFile, "\n", std::chrono::seconds(30));
        return std::atoi(pidFile().c_str());
    }
    // The tool's device goes away while the tool runs (FAKE_TOOL_SLEEP):
    // the update's run, the pid of what the tool started (0 when the tool
    // never ran) and the seconds from the device's going to the run's end.
    struct PulledRun {
        e2e::Run Run;
        int Sleeper = 0;
        double EndAfterS = -1;
    };
    PulledRun PullTheDeviceDuringTheTool() {
        PulledRun pulled;
        e2e::Instrument meter(folder, MeterProfile(), folder.File("ports/COM3"));
        const pid_t pid = SpawnUpdate();
        pulled.Sleeper = ToolSleeper();
        if (pulled.Sleeper <= 0) {
            ::kill(pid, SIGKILL);
        }
        meter.Stop();
        const auto gone = std::chrono::steady_clock::now();
        pulled.Run.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(60), pulled.Run.TimedOut);
        pulled.EndAfterS =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - gone).count();
        pulled.Run.Out = e2e::ReadFile(folder.File("out.txt"));
        return pulled;
    }
    // A file the instrument's loader took from the tool, once it has stopped.
    std::string Stored(const std::string& name) const {
        return e2e::ReadFile(folder.File("received/" + name));
    }
    std::vector<std::vector<std::string>> Runs() const {
        return ToolRuns(e2e::ReadFile(folder.File("tool.log")));
    }
    // The report's cause of the failed step, which must be the transfer.
    std::string FailureCause() const {
        const nlohmann::json report =
            testing_support::ReadValidatedReport(folder.File("report.json"));
        const nlohmann::json& failure = report["failure"];
        if (!failure.is_object() || failure["step"] != "transfer" ||
            !failure["cause"].is_string()) {
            return "no transfer failure: " + report.dump();
        }
        return failure["cause"].get<std::string>();
    }

    TempFolder folder;
    std::string transcript;
};

TEST_F(ExternalTool, TheHexLoaderProgramsProgFile1AndThenTheProgramFileOnCom3) {
    // A blank and a ";" in the name: one argument, and nothing else is run.
    WriteDevice("z70 boot;touch ran.MOT");
    // 200000 bytes: 100 ticks of the title timer to 100 %.
    folder.Write("prog/Z70 BOOT;TOUCH RAN.MOT", std::string(200000, 'x'));
    ::setenv("FAKE_TOOL_SLEEP", "1", 1);
    // The restarted firmware reports once after its boot file, when the
    // tool (a second at its real pace) is done.
    e2e::Run run = Update(MeterProfile("on.1200@1=A.1200!|@40000:A.1200!\n"));
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
    EXPECT_TRUE(run.OutHas("Download erfolgreich")) << run.Out;
    EXPECT_FALSE(run.OutHas("abgebrochen")) << "nothing runs after the success";
    const std::vector<std::string> tail = {"-com3", "-baudrate38400", "-auto", "-exit",
                                           "port COM3 free"};
    std::vector<std::string> first = {"Z70 BOOT;TOUCH RAN.MOT"}, second = {"Z70_V200.MOT"};
    first.insert(first.end(), tail.begin(), tail.end());
    second.insert(second.end(), tail.begin(), tail.end());
    EXPECT_EQ(Runs(), (std::vector<std::vector<std::string>>{first, second}));
    EXPECT_FALSE(std::filesystem::exists(folder.File("prog/RAN.MOT")));
    EXPECT_EQ(Stored("Z70_V200.MOT"), e2e::ReadFile(folder.File("prog/Z70_V200.MOT")))
        << "the tool sent the file it was given";
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.1600#"), std::string::npos)
        << "the session went on";
    EXPECT_TRUE(run.ErrHas("Application.Title = Update [ 1.0 %]")) << run.Err;
}

// On a pipe a tool's run shows the title timer's estimate as lines, rising
// and without block counts: nothing else moves while the tool runs.
TEST_F(ExternalTool, AToolsRunShowsItsProgressAsLinesOnAPipe) {
    // 200000 bytes: 100 ticks of the title timer to 100 %.
    folder.Write("prog/Z70_BOOT.MOT", std::string(200000, 'x'));
    WriteDevice("Z70_BOOT.MOT");
    ::setenv("FAKE_TOOL_SLEEP", "2", 1);
    const e2e::Run run = Update(MeterProfile("on.1200@1=A.1200!|@40000:A.1200!\n"), 3, false);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    const std::regex line(R"(progress: (\d+) %(.*)\n)");
    std::vector<int> percents;
    for (auto it = std::sregex_iterator(run.Err.begin(), run.Err.end(), line);
         it != std::sregex_iterator(); ++it) {
        percents.push_back(std::stoi((*it)[1]));
        EXPECT_EQ((*it)[2], "") << "a tool counts no blocks: " << it->str();
    }
    // The boot file's run alone takes 2 s: a line at least each tenth.
    std::size_t rising = percents.empty() ? 0 : 1;
    while (rising < percents.size() && percents[rising] > percents[rising - 1]) {
        ++rising;
    }
    EXPECT_GE(rising, 3u) << run.Err;
}

TEST_F(ExternalTool, ExitCode1IsRetriedUpToThreeTimesAndOtherCodesFailAtOnce) {
    WriteDevice("");
    folder.Write("codes", "1\n1\n0\n");
    e2e::Run run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(Runs().size(), 3u);

    std::filesystem::remove(folder.File("tool.log"));
    folder.Write("codes", "2\n");
    run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_EQ(Runs().size(), 1u);
    EXPECT_EQ(FailureCause(), "HEXLoad_8N1.exe failed with exit code 2 after 1 attempt");

    folder.Write("codes", "1\n1\n1\n");
    run = Update(MeterProfile());
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_EQ(FailureCause(), "HEXLoad_8N1.exe failed with exit code 1 after 3 attempts");
}

TEST_F(ExternalTool, AToolThatDoesNotStartIsNamedWithItsPathAndWhy) {
    WriteDevice("");
    const std::string tool = folder.File("prog/HEXLoad_8N1.exe");
    std::filesystem::permissions(tool,
                                 std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::remove);
    e2e::Run run = Update(MeterProfile());
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_EQ(FailureCause(), "cannot start the tool " + tool + ": Permission denied (EACCES)");

    // Missing, it will not appear between attempts: tried once.
    std::filesystem::remove(tool);
    run = Update(MeterProfile());
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_EQ(FailureCause(), "cannot start the tool " + tool + ": not found (ENOENT)");
    const std::string notStarted = "Programmierwerkzeug konnte nicht gestartet werden";
    const std::size_t first = run.Out.find(notStarted);
    ASSERT_NE(first, std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find(notStarted, first + 1), std::string::npos) << run.Out;
}

// The adapter is pulled while the tool runs: the retries meant for a port
// held a moment are not spent, and the cause is the port's.
TEST_F(ExternalTool, AToolWhosePortWentAwayFailsAtOnceWithThePortsCause) {
    WriteDevice("");
    folder.Write("codes", "1\n1\n1\n");
    ::setenv("FAKE_TOOL_SLEEP", "1", 1);
    const PulledRun pulled = PullTheDeviceDuringTheTool();
    ASSERT_GT(pulled.Sleeper, 0) << "the tool runs";
    const e2e::Run& run = pulled.Run;
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_EQ(Runs().size(), 1u);
    const std::string cause =
        "COM3 (" + folder.File("ports/COM3") + "): reopen: hung up, the device is gone (ENOENT)";
    EXPECT_EQ(FailureCause(), cause);
    EXPECT_TRUE(run.OutHas(cause)) << run.Out;
    EXPECT_TRUE(run.OutHas("COM3 konnte nicht geöffnet werden! " + folder.File("ports/COM3") +
                           ": Gerät nicht vorhanden (ENOENT)\n"))
        << "the box names the device and errno the log names\n"
        << run.Out;
}

// The tool holds its port through the hang-up and would sleep on for
// minutes: the run is not held by it, and the cause is still the port's.
TEST_F(ExternalTool, AToolStuckOnAPortThatWentAwayIsEndedAndTheRunFailsWithThePortsCause) {
    WriteDevice("");
    ::setenv("FAKE_TOOL_SLEEP", "120", 1);
    ::setenv("FAKE_TOOL_STUCK", "1", 1);
    const PulledRun pulled = PullTheDeviceDuringTheTool();
    ASSERT_GT(pulled.Sleeper, 0) << "the tool runs";
    const e2e::Run& run = pulled.Run;
    const bool toolEnded = EndedWithin5s(pulled.Sleeper);
    if (!toolEnded) {
        ::kill(pulled.Sleeper, SIGKILL);
    }
    ASSERT_FALSE(run.TimedOut) << "the stuck tool held the run";
    EXPECT_TRUE(toolEnded);
    // About a second's grace for the tool to give up by itself; the bound
    // is only generous for a loaded machine.
    std::printf("stuck tool: the run ended %.2f s after its device went away\n", pulled.EndAfterS);
    EXPECT_LT(pulled.EndAfterS, 15.0);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_EQ(Runs().size(), 1u);
    EXPECT_TRUE(run.OutHas("HEXLoad_8N1.exe ended: the device of its port is gone")) << run.Out;
    EXPECT_EQ(FailureCause(), "COM3 (" + folder.File("ports/COM3") +
                                  "): reopen: hung up, the device is gone (ENOENT)");
}

// What the tool started holds the port a moment after it: the reopen waits
// for it, a bounded while, and only its last try shows the port's box.
TEST_F(ExternalTool, APortHeldAMomentAfterTheToolIsTakenBackAndOneHeldLongerFailsTheStep) {
    const std::string box = "COM3 konnte nicht ge";
    WriteDevice("");
    ::setenv("FAKE_TOOL_LINGER", "1", 1);
    e2e::Run run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_TRUE(std::filesystem::exists(folder.File("tool.log.held"))) << "the port was held";
    EXPECT_FALSE(run.OutHas(box)) << "no box for the tries before the port came back\n" << run.Out;

    // Held past the retries (the holder is ended in TearDown).
    std::filesystem::remove(folder.File("tool.log.held"));
    ::setenv("FAKE_TOOL_LINGER", "4", 1);
    run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_EQ(FailureCause(),
              "COM3 (" + folder.File("ports/COM3") + "): reopen: access denied (EAGAIN)");
    const std::size_t first = run.Out.find(box);
    ASSERT_NE(first, std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find(box, first + 1), std::string::npos) << "one box\n" << run.Out;
}

TEST_F(ExternalTool, ToolAndFirmwareInAnotherCaseAreFoundAndTheToolGetsTheNameOnDisk) {
    WriteDevice("");
    std::filesystem::rename(folder.File("prog/HEXLoad_8N1.exe"),
                            folder.File("prog/hexload_8n1.exe"));
    std::filesystem::rename(folder.File("prog/Z70_V200.MOT"), folder.File("prog/z70_v200.mot"));
    e2e::Run run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(Runs(),
              (std::vector<std::vector<std::string>>{{"z70_v200.mot", "-com3", "-baudrate38400",
                                                      "-auto", "-exit", "port COM3 free"}}));
}

TEST_F(ExternalTool, ClosingDuringAToolRunEndsTheToolAndFailsTheSession) {
    WriteDevice("");
    ::setenv("FAKE_TOOL_SLEEP", "60", 1);
    e2e::Instrument meter(folder, MeterProfile(), folder.File("ports/COM3"));
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10"});
    const int sleeper = ToolSleeper();
    ASSERT_GT(sleeper, 0) << "the tool runs";
    ASSERT_TRUE(session.Type("quit"));
    e2e::Run run = session.Finish(std::chrono::seconds(30));
    ASSERT_FALSE(run.TimedOut) << "the close does not wait for the tool";
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("beim Schließen beendet")) << run.Out;
    EXPECT_TRUE(EndedWithin5s(sleeper)) << "what the tool started is ended with it";
}

TEST_F(ExternalTool, ThePic32ToolGetsThePortAsOneDigitAndAPortAbove9IsRefused) {
    WriteDevice("", "", "P32_V200.HEX");
    // Nothing follows this tool but the restarted firmware's acknowledge,
    // once the tool has given the port back.
    const std::string restarts = MeterProfile("on.restart=@15000:A.1200!\n");
    e2e::Run run = Update(restarts);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(Runs(), (std::vector<std::vector<std::string>>{
                          {"-fP32_V200.HEX", "-c3", "-b7", "-a", "port COM3 free"}}));

    std::filesystem::remove(folder.File("tool.log"));
    run = Update(restarts, 12);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("nicht COM12")) << run.Out;
    EXPECT_TRUE(Runs().empty()) << "never a wrong port";
    EXPECT_EQ(
        FailureCause(),
        "COM12 is beyond the ports COM1 to COM9 that PIC32_Serial_Bootloader.exe can be given");
}

// What a tool claims is confirmed only by the instrument reporting back; a
// silent one fails the session instead of holding it for good.
TEST_F(ExternalTool, AnInstrumentSilentAfterAToolFailsTheSession) {
    folder.Write("prog/Z70_BOOT.MOT", e2e::ReadFile(folder.File("prog/Z70_V200.MOT")));
    WriteDevice("Z70_BOOT.MOT");
    e2e::Run run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("Das Gerät antwortet nicht mehr.")) << run.Out;
    EXPECT_EQ(Runs().size(), 1u) << "the program file waits for the boot file's report";

    std::filesystem::remove(folder.File("tool.log"));
    WriteDevice("", "", "P32_V200.HEX");
    run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("Das Gerät antwortet nicht mehr.")) << run.Out;
}

TEST_F(ExternalTool, TheUpdaterLibraryTakesTheToolsPlaceAndItsFailureFailsTheSession) {
    WriteDevice("");
    std::filesystem::copy_file(FAKE_UPDATER, folder.File("prog/ZNQM16Updater.dll"));
    // The library here does not talk to the line: the meter stays awake.
    const std::string awake = MeterProfile("loader_entry=5588\non.1200=A.1200!\n");
    e2e::Run run = Update(awake);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_TRUE(run.ErrHas("WaitProgressBar.Position = 105")) << run.Err;
    EXPECT_TRUE(run.ErrHas("Application.Title = Update [ 5.0 %]")) << "stage 5";
    // Stages and a percentage, no blocks.
    EXPECT_TRUE(run.ErrHas("progress: 100 %\n")) << run.Err;
    EXPECT_FALSE(run.ErrHas(" blocks)")) << run.Err;
    EXPECT_EQ(e2e::ReadFile(folder.File("library.log")),
              "Init 3\nIsBTLActive\nClear\nProgram Z70_V200.MOT\nMakeValid\n"
              "ExitAndStartApplication\nDeinit\n");
    EXPECT_TRUE(Runs().empty()) << "no tool with the library";

    std::filesystem::remove(folder.File("library.log"));
    ::setenv("FAKE_M16_FAIL", "IsBTLActive", 1);
    run = Update(awake);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_EQ(e2e::ReadFile(folder.File("library.log")),
              "Init 3\nIsBTLActive\nIsBTLActive\nDeinit\n");
    EXPECT_EQ(FailureCause(), "ZNQM16Updater.dll failed to program Z70_V200.MOT on COM3");
}

// A stuck library call cannot be interrupted: the program leaves its thread
// behind and ends all the same, as an aborted run.
TEST_F(ExternalTool, SigtermDuringAHangingLibraryCallEndsTheProgramWithin2Seconds) {
    WriteDevice("");
    std::filesystem::copy_file(FAKE_UPDATER, folder.File("prog/ZNQM16Updater.dll"));
    ::setenv("FAKE_M16_HANG", "Program", 1);
    e2e::Instrument meter(folder, MeterProfile("loader_entry=5588\non.1200=A.1200!\n"),
                          folder.File("ports/COM3"));
    const pid_t pid =
        e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports", folder.File("ports"),
                    "--time-divisor", "10", "--report", folder.File("report.json")},
                   folder.File("out.txt"), folder.File("err.txt"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (e2e::ReadFile(folder.File("library.log")).find("Program") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the library call started";
    const auto signalled = std::chrono::steady_clock::now();
    ::kill(pid, SIGTERM);
    e2e::Run run;
    run.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(30), run.TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2));
    ASSERT_FALSE(run.TimedOut);
    run.Out = e2e::ReadFile(folder.File("out.txt"));
    run.Err = e2e::ReadFile(folder.File("err.txt"));
    EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
    EXPECT_FALSE(run.ErrHas("Sanitizer")) << "the thread left behind touches nothing freed";
    EXPECT_TRUE(run.OutHas("zurückgelassen")) << "the log says the call was left behind\n"
                                              << run.Out;
    const nlohmann::json report = nlohmann::json::parse(e2e::ReadFile(folder.File("report.json")));
    EXPECT_EQ(report["outcome"], "aborted");
    EXPECT_EQ(report["exit_code"], 1);
}

// The search probes before the meter is switched on and finds nobody; the
// operator switches it on (it starts in its loader) and chooses its menu
// item: the recovery probes every port, works on the one whose loader
// answers and gives the tool that port. Nothing answers on COM1.
TEST_F(ExternalTool, AZ70ItemAfterAFailedSearchRecoversTheMeterOnThePortThatAnswers) {
    folder.Write("prog/Update.ini", "Language=0\r\nDebugInfo=YES\r\n");
    WriteDevice("", "Z70BOOT");
    TempFolder elsewhere;
    e2e::Instrument nothing(elsewhere, e2e::SilentLoader, folder.File("ports/COM1"));
    e2e::Instrument meter(folder,
                          MeterProfile("start=loader\npower=off\nprobe_answer=h00h:Z70BOOT V1\n"),
                          folder.File("ports/COM3"));
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10", "--start"});
    ASSERT_TRUE(session.WaitForOutput("Kein Ger\xC3\xA4t gefunden"));
    meter.SwitchOn();
    ASSERT_TRUE(session.Type("multi"));
    session.WaitForOutput("Download erfolgreich", std::chrono::seconds(90));
    const e2e::Run run = session.Finish();
    meter.Stop();
    transcript = meter.Transcript();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
    const std::vector<std::vector<std::string>> runs = Runs();
    ASSERT_EQ(runs.size(), 2u) << "recovery, then the update";
    EXPECT_EQ(runs[0], (std::vector<std::string>{"Z70_DEF.MOT", "-com3", "-baudrate38400", "-auto",
                                                 "-exit", "port COM3 free"}));
    EXPECT_EQ(Stored("Z70_DEF.MOT"), e2e::ReadFile(folder.File("prog/Z70_DEF.MOT")));
}

TEST_F(ExternalTool, AMeterAnsweringTheProbeWithItsFrameIsRecoveredAndThenUpdated) {
    WriteDevice("", "Z70BOOT");
    // The firmware listens at 2 stop bits: the search after the probe must
    // have put back what the probe step changed.
    e2e::Run run = Update(MeterProfile("start=loader\nprobe_answer=h00h:Z70BOOT V1\n"), 1);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
    EXPECT_TRUE(run.OutHas("Download erfolgreich")) << run.Out;
    const std::vector<std::vector<std::string>> runs = Runs();
    ASSERT_EQ(runs.size(), 2u) << "recovery, then the update";
    EXPECT_EQ(runs[0].front(), "Z70_DEF.MOT");
    EXPECT_EQ(runs[1].front(), "Z70_V200.MOT");
    EXPECT_EQ(Stored("Z70_DEF.MOT"), e2e::ReadFile(folder.File("prog/Z70_DEF.MOT")));
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.2003"), std::string::npos)
        << "identified after recovery";
}

} // namespace
