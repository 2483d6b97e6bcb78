// update-console's command line as scripts and production lines use it:
// option spellings, refusals, --port, --report -, -q and progress on a pipe.
#include "../serial/Pty.h"
#include "Harness.h"
#include "tests/support/ReportSchema.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

namespace {

using testing_support::TempFolder;

// The demo meter with the ROM loader, waiting for an update from 1.23.
std::string Meter(const std::string& serial = "12345678") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=" +
           serial +
           "\npassword=C000\nloader=msp430-rom\nflash_start=0x1000\nflash_size=0xF000\n"
           "on.restart=@300:I.30#\nloader.version=1.60\nloader.chip_id=F149\n";
}

e2e::Run RunConsole(const TempFolder& folder, const std::vector<std::string>& args,
                    std::chrono::seconds bound = std::chrono::seconds(90)) {
    std::vector<std::string> argv = {UPDATE_CONSOLE};
    argv.insert(argv.end(), args.begin(), args.end());
    e2e::Run run;
    const pid_t pid = e2e::Spawn(argv, folder.File("out.txt"), folder.File("err.txt"));
    run.ExitCode = e2e::WaitFor(pid, bound, run.TimedOut);
    run.Out = e2e::ReadFile(folder.File("out.txt"));
    run.Err = e2e::ReadFile(folder.File("err.txt"));
    return run;
}

// The program folder and port folder, with the options that name them.
std::vector<std::string> Folders(const TempFolder& folder, std::vector<std::string> more) {
    std::vector<std::string> args = {"--dir=" + folder.File("prog"), "--ports",
                                     folder.File("ports"), "--time-divisor=10"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

bool Updated(const e2e::Instrument& instrument) {
    const std::string demo = e2e::ReadFile(std::string(DEMO_FOLDER) + "/DM10_V200.TXT");
    std::string flash = instrument.Flash();
    std::string expected;
    for (char c : demo) {
        if (c != '\r') {
            expected += c;
        }
    }
    std::erase(flash, '\r');
    return flash == expected;
}

TEST(CommandLine, VersionAndOptionsInTheGnuManner) {
    TempFolder folder;
    e2e::Run version = RunConsole(folder, {"-V"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.rfind("update-console ", 0), 0u) << version.Out;

    e2e::LayOutProgramFolder(folder);
    e2e::Instrument instrument(folder, Meter(), folder.File("ports/COM1"));
    const e2e::Run run = RunConsole(folder, Folders(folder, {"--identify", "--"}));
    instrument.Stop();
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_TRUE(run.OutHas("decision=update-available")) << run.Out;
}

TEST(CommandLine, ConflictsAndStrayArgumentsAreRefusedInOneLine) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--yes", "--no"}, "--yes and --no cannot be used together"},
        {{"-q", "-v"}, "--quiet and --verbose cannot be used together"},
        {{"--list-ports", "--identify"}, "--list-ports and --identify cannot be used together"},
        {{"--port", "ttyUSB0"}, "--port needs a COM name"},
        {{"COM3"}, "unexpected argument \"COM3\""},
        {{"--dir"}, "option --dir needs a value"},
    };
    for (const auto& [args, told] : cases) {
        std::vector<std::string> argv = {"--report", folder.File("report.json")};
        argv.insert(argv.end(), args.begin(), args.end());
        const e2e::Run run = RunConsole(folder, argv);
        EXPECT_EQ(run.ExitCode, 64) << args.front();
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find(told), std::string::npos) << run.Err;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        EXPECT_FALSE(std::filesystem::exists(folder.File("report.json")));
    }
}

TEST(CommandLine, AReportOnStandardOutputIsAllThatIsThere) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    e2e::Instrument instrument(folder, Meter(), folder.File("ports/COM1"));
    const e2e::Run run = RunConsole(folder, Folders(folder, {"--identify", "--report", "-"}));
    instrument.Stop();
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    const nlohmann::json report = testing_support::ValidatedReport(run.Out);
    ASSERT_TRUE(report.is_object()) << run.Out;
    EXPECT_EQ(report["outcome"], "update-available");
    EXPECT_NE(run.Err.find("identify: device=43110.000"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("result: update-available (exit code 0)"), std::string::npos);
}

// Without a terminal, a log of the run shows the transfer move at least
// every tenth, never backwards, and the long pauses count down.
TEST(CommandLine, APipedUpdateShowsProgressAndCountdownsAsLines) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    e2e::Instrument instrument(folder, Meter(), folder.File("ports/COM1"));
    const e2e::Run run = RunConsole(folder, Folders(folder, {"--start"}));
    instrument.Stop();
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_TRUE(Updated(instrument));
    EXPECT_TRUE(run.ErrHas("Bitte warten ... (noch 8 s)\n")) << run.Err;
    EXPECT_TRUE(run.ErrHas("Bitte warten ... (noch 1 s)\n")) << run.Err;
    const std::regex line(R"(progress: (\d+) % \((\d+)/(\d+) blocks\))");
    std::vector<int> percents;
    for (auto it = std::sregex_iterator(run.Err.begin(), run.Err.end(), line);
         it != std::sregex_iterator(); ++it) {
        percents.push_back(std::stoi((*it)[1]));
        EXPECT_EQ(percents.back(), 100 * std::stoi((*it)[2]) / std::stoi((*it)[3]))
            << it->str() << ": a line tells the work done";
    }
    ASSERT_FALSE(percents.empty()) << run.Err;
    EXPECT_EQ(percents.back(), 100);
    for (std::size_t i = 1; i < percents.size(); ++i) {
        EXPECT_GE(percents[i], percents[i - 1]) << run.Err;
        EXPECT_LE(percents[i] / 10 - percents[i - 1] / 10, 1) << "a tenth was skipped: " << run.Err;
    }
    EXPECT_TRUE(run.OutHas("result: updated (exit code 0)\n")) << run.Out;
}

TEST(CommandLine, QuietKeepsTheErrorsAndTheResult) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    {
        e2e::Instrument instrument(folder, Meter(), folder.File("ports/COM1"));
        const e2e::Run run = RunConsole(folder, Folders(folder, {"--start", "-q"}));
        instrument.Stop();
        EXPECT_EQ(run.ExitCode, 0);
        EXPECT_EQ(run.Out, "result: updated (exit code 0)\n");
        EXPECT_EQ(run.Err, "");
    }
    // Nothing on the line: an identification tells that and its result alone.
    serialtest::Pty silent;
    std::filesystem::create_symlink(silent.SlavePath(), folder.File("ports/COM1"));
    const e2e::Run run = RunConsole(folder, Folders(folder, {"--identify", "-q"}));
    EXPECT_EQ(run.ExitCode, 3) << run.Out;
    EXPECT_EQ(run.Err, "no instrument found\n");
    EXPECT_EQ(run.Out, "result: no-device (exit code 3)\n");
}

// Three instruments on the line; each run takes the one its --port names
// and leaves the others alone.
TEST(CommandLine, PortNamesTheOneInstrumentARunTakes) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    e2e::Instrument com1(folder, Meter(), folder.File("ports/COM1"));
    TempFolder other, unmapped;
    e2e::Instrument com7(other, Meter("77777777"), folder.File("ports/COM7"));
    // Outside the port folder: a device the map does not number.
    e2e::Instrument loose(unmapped, Meter("99999999"), unmapped.File("tty"));
    const std::string pts = std::filesystem::canonical(unmapped.File("tty")).string();

    const e2e::Run byName = RunConsole(
        folder,
        Folders(folder, {"--port", "COM7", "--start", "--report", folder.File("com7.json")}));
    EXPECT_EQ(byName.ExitCode, 0) << byName.Out;
    const e2e::Run byDevice = RunConsole(
        folder, Folders(folder, {"--port=" + pts, "--start", "--report", folder.File("pts.json")}));
    EXPECT_EQ(byDevice.ExitCode, 0) << byDevice.Out;
    com1.Stop();
    com7.Stop();
    loose.Stop();

    EXPECT_TRUE(Updated(com7));
    EXPECT_TRUE(Updated(loose));
    EXPECT_EQ(com1.Flash(), "q\n");
    EXPECT_EQ(e2e::ReceivedText(com1.Transcript()), "") << "COM1 was never written to";
    const nlohmann::json viaName = testing_support::ReadValidatedReport(folder.File("com7.json"));
    EXPECT_EQ(viaName["port"]["name"], "COM7");
    EXPECT_EQ(viaName["instrument"]["serial_number"], "77777777");
    // The first number above the mapped ones.
    const nlohmann::json viaDevice = testing_support::ReadValidatedReport(folder.File("pts.json"));
    EXPECT_EQ(viaDevice["port"]["name"], "COM8");
    EXPECT_EQ(viaDevice["port"]["device"], pts);
    EXPECT_EQ(viaDevice["instrument"]["serial_number"], "99999999");
}

TEST(CommandLine, AMissingPortEndsWithTheFixedPortsCode) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    // An empty port folder: the device takes COM1.
    const std::pair<std::string, std::string> cases[] = {
        {"COM9", "COM9 konnte nicht ge\xC3\xB6"
                 "ffnet werden"},
        {folder.File("no-such-tty"), "COM1 konnte nicht ge\xC3\xB6"
                                     "ffnet werden! " +
                                         folder.File("no-such-tty")},
    };
    for (const auto& [port, told] : cases) {
        const e2e::Run run = RunConsole(folder, Folders(folder, {"--port", port, "--start"}));
        EXPECT_EQ(run.ExitCode, 2) << port << run.Out;
        EXPECT_TRUE(run.OutHas(told)) << run.Out;
    }
}

// The production line's script: every port runs, the table tells each end.
TEST(CommandLine, TheLineScriptUpdatesEveryPortAndNamesTheFailedOne) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    TempFolder second;
    std::filesystem::create_directories(folder.File("a"));
    std::filesystem::create_directories(second.File("b"));
    e2e::Instrument first(folder, Meter("11111111"), folder.File("a/tty"));
    e2e::Instrument other(second, Meter("22222222"), second.File("b/tty"));
    const std::string one = std::filesystem::canonical(folder.File("a/tty")).string();
    const std::string two = std::filesystem::canonical(second.File("b/tty")).string();
    std::vector<std::string> argv = {"/bin/bash",
                                     LINE_SCRIPT,
                                     "--dir",
                                     folder.File("prog"),
                                     "--reports",
                                     folder.File("reports"),
                                     "--console",
                                     UPDATE_CONSOLE,
                                     "--",
                                     "--time-divisor=10",
                                     one,
                                     two,
                                     folder.File("gone")};
    e2e::Run line;
    const pid_t pid = e2e::Spawn(argv, folder.File("line.out"), folder.File("line.err"));
    line.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(120), line.TimedOut);
    line.Out = e2e::ReadFile(folder.File("line.out"));
    first.Stop();
    other.Stop();
    EXPECT_EQ(line.ExitCode, 1) << line.Out << e2e::ReadFile(folder.File("line.err"));
    EXPECT_TRUE(Updated(first));
    EXPECT_TRUE(Updated(other));
    EXPECT_TRUE(std::regex_search(line.Out, std::regex("/gone +2  failed\n"))) << line.Out;
    for (const std::string& device : {one, two}) {
        const std::string name = std::filesystem::path(device).filename().string();
        EXPECT_TRUE(std::regex_search(line.Out, std::regex(device + " +0  updated\n"))) << line.Out;
        const nlohmann::json report =
            testing_support::ReadValidatedReport(folder.File("reports/" + name + ".json"));
        EXPECT_EQ(report["outcome"], "updated");
    }
    testing_support::ReadValidatedReport(folder.File("reports/gone.json"));
}

} // namespace
