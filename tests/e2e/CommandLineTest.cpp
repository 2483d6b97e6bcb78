// update-console's command line as scripts and production lines use it:
// option spellings, refusals, --port, --report -, -q and progress on a pipe.
#include "../serial/Pty.h"
#include "Harness.h"
#include "tests/support/MeterProfiles.h"
#include "tests/support/ReportSchema.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

namespace {

using testing_support::TempFolder;

std::string Meter(const std::string& serial = "12345678") {
    return testing_support::RomMeterProfile(serial);
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
    e2e::Run version = e2e::RunProgram(folder, {UPDATE_CONSOLE, "-V"});
    ASSERT_FALSE(version.TimedOut);
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.rfind("update-console ", 0), 0u) << version.Out;

    e2e::LayOutProgramFolder(folder);
    e2e::Instrument instrument(folder, Meter(), folder.File("ports/COM1"));
    const e2e::Run run =
        e2e::RunProgram(folder, {UPDATE_CONSOLE, "--dir=" + folder.File("prog"), "--ports",
                                 folder.File("ports"), "--time-divisor=10", "--identify", "--"});
    instrument.Stop();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_TRUE(run.OutHas("decision=update-available")) << run.Out;
}

// The demo's Update.ini keeps the debug log off; -v turns it on for the run.
TEST(CommandLine, VerboseShowsEachCommandAndReply) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    e2e::Instrument instrument(folder, Meter(), folder.File("ports/COM1"));
    const e2e::Run plain = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--identify"});
    const e2e::Run verbose = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--identify", "-v"});
    instrument.Stop();
    ASSERT_FALSE(plain.TimedOut || verbose.TimedOut);
    EXPECT_EQ(plain.ExitCode, 0) << plain.Out;
    EXPECT_EQ(verbose.ExitCode, 0) << verbose.Out;
    EXPECT_FALSE(plain.OutHas("A.2003\n")) << plain.Out;
    EXPECT_TRUE(verbose.OutHas("A.2003\n")) << verbose.Out;
    EXPECT_TRUE(verbose.OutHas(" <-\n")) << "the replies too: " << verbose.Out;
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
        argv.insert(argv.begin(), UPDATE_CONSOLE);
        const e2e::Run run = e2e::RunProgram(folder, argv);
        ASSERT_FALSE(run.TimedOut);
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
    const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--identify", "--report", "-"});
    instrument.Stop();
    ASSERT_FALSE(run.TimedOut);
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
    const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--start"});
    instrument.Stop();
    ASSERT_FALSE(run.TimedOut);
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
        const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--start", "-q"});
        instrument.Stop();
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0);
        EXPECT_EQ(run.Out, "result: updated (exit code 0)\n");
        EXPECT_EQ(run.Err, "");
    }
    // A run that fails keeps its error box and names its cause: the log
    // comes before the result.
    const e2e::Run missing =
        e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--port", "COM9", "--start", "-q"});
    ASSERT_FALSE(missing.TimedOut);
    EXPECT_EQ(missing.ExitCode, 2);
    const std::size_t box = missing.Out.find("[Fehler] COM9 konnte nicht ge\xC3\xB6"
                                             "ffnet werden!");
    const std::size_t log = missing.Out.find("Firmware-Update f\xC3\xBCr das");
    const std::size_t result = missing.Out.find("result: failed (exit code 2)\n");
    EXPECT_LT(box, log) << missing.Out;
    EXPECT_LT(log, result) << missing.Out;
    EXPECT_EQ(result + 29, missing.Out.size()) << "the result is the last line: " << missing.Out;

    // Nothing on the line: an identification says so, and its log, then
    // the result.
    serialtest::Pty silent;
    std::filesystem::create_symlink(silent.SlavePath(), folder.File("ports/COM1"));
    const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--identify", "-q"});
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 3) << run.Out;
    EXPECT_EQ(run.Err, "no instrument found\n");
    EXPECT_TRUE(run.OutHas("Firmware-Update f\xC3\xBCr das")) << run.Out;
    EXPECT_TRUE(run.Out.ends_with("\nresult: no-device (exit code 3)\n")) << run.Out;
}

// A box that asks a person at the terminal to do something is shown and
// waits for them, quiet or not: confirmed unseen, the tool would go on as
// if it had been done.
TEST(CommandLine, QuietShowsTheBoxAPersonAtTheTerminalMustConfirm) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder);
    serialtest::Pty silent, terminal;
    std::filesystem::create_symlink(silent.SlavePath(), folder.File("ports/COM1"));
    // Nothing answers the search: the bootloader's information box comes.
    const pid_t pid =
        e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports", folder.File("ports"),
                    "--time-divisor", "10", "--start", "-q"},
                   folder.File("out.txt"), folder.File("err.txt"), terminal.SlavePath());
    const auto out = [&folder] { return e2e::ReadFile(folder.File("out.txt")); };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (out().find("(Enter)> ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string shown = out();
    EXPECT_NE(shown.find("[Info] Best\xC3\xA4tigen Sie dies danach mit dem Ok-Button!"),
              std::string::npos)
        << shown;
    // It waits: the bootloader probe (0x80) goes out only once it is confirmed.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(silent.Receive(1 << 16, 200).find('\x80'), std::string::npos);
    terminal.Send("\n");
    std::string probe;
    for (int i = 0; i < 100 && probe.find('\x80') == std::string::npos; ++i) {
        probe += silent.Receive(1, 100);
    }
    EXPECT_NE(probe.find('\x80'), std::string::npos) << "the probe after the confirmation";
    terminal.CloseMaster();
    bool timedOut = false;
    const int exitCode = e2e::WaitFor(pid, std::chrono::seconds(60), timedOut);
    ASSERT_FALSE(timedOut) << out();
    EXPECT_NE(exitCode, 0);
    EXPECT_TRUE(out().ends_with(" (exit code " + std::to_string(exitCode) + ")\n")) << out();
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

    const e2e::Run byName =
        e2e::RunUpdate(folder, UPDATE_CONSOLE,
                       {"--port", "COM7", "--start", "--report", folder.File("com7.json")});
    ASSERT_FALSE(byName.TimedOut);
    EXPECT_EQ(byName.ExitCode, 0) << byName.Out;
    const std::string com7Received = e2e::ReceivedText(com7.Transcript());
    const e2e::Run byDevice = e2e::RunUpdate(
        folder, UPDATE_CONSOLE, {"--port=" + pts, "--start", "--report", folder.File("pts.json")});
    ASSERT_FALSE(byDevice.TimedOut);
    EXPECT_EQ(byDevice.ExitCode, 0) << byDevice.Out;
    EXPECT_EQ(e2e::ReceivedText(com7.Transcript()), com7Received)
        << "COM7 received nothing while the run on " << pts << " went on";
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
        const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--port", port, "--start"});
        ASSERT_FALSE(run.TimedOut);
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

// An option without its value is a bad option (64, with the usage), as a
// calling script tells it from a failed port (1).
TEST(CommandLine, TheLineScriptRefusesAnOptionWithoutItsValue) {
    TempFolder folder;
    for (const char* option : {"--dir", "--reports", "--jobs", "--console"}) {
        const e2e::Run run = e2e::RunProgram(folder, {"/bin/bash", LINE_SCRIPT, option});
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 64) << option << run.Err;
        EXPECT_TRUE(run.ErrHas(std::string(option) + " needs a value")) << run.Err;
        EXPECT_TRUE(run.ErrHas("PORT...")) << "the usage follows: " << run.Err;
        EXPECT_EQ(run.Out, "");
    }
}
