#include "../serial/Pty.h"
#include "Harness.h"
#include "app/FileDigest.h"
#include "tests/support/ReportSchema.h"
#include "tests/support/TiTxtImage.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <termios.h>

namespace {

using nlohmann::json;
using testing_support::TempFolder;

constexpr const char* AutoStartIni = "Language=0\r\nAutoStart=YES\r\n";

std::string Meter(const std::string& version, const std::string& device = "43110.000",
                  const std::string& extra = "") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=" + device +
           "\nversion=" + version +
           "\nserial=12345678\npassword=C000\nloader=msp430-rom\nflash_start=0x1000\n"
           "flash_size=0xF000\non.restart=@300:I.30#\nloader.version=1.60\n"
           "loader.chip_id=F149\n" +
           extra;
}

std::vector<std::string> Console(const TempFolder& folder, std::vector<std::string> extra) {
    std::vector<std::string> argv = {
        UPDATE_CONSOLE,       "--dir",    folder.File("prog"),       "--ports",
        folder.File("ports"), "--report", folder.File("report.json")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

e2e::Run RunReported(const TempFolder& folder, std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"--time-divisor", "10"});
    e2e::Run run;
    const pid_t pid =
        e2e::Spawn(Console(folder, extra), folder.File("out.txt"), folder.File("err.txt"));
    run.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(60), run.TimedOut);
    run.Out = e2e::ReadFile(folder.File("out.txt"));
    return run;
}

// Checked against the report schema on the way in.
json ReadReport(const TempFolder& folder) {
    return testing_support::ReadValidatedReport(folder.File("report.json"));
}

struct OutcomeCase {
    const char* Outcome;
    std::string Profile;
    int ExitCode;
    const char* FailedStep; // nullptr: none
};

TEST(Report, EachOutcomeIsReportedWithTheRunsFacts) {
    const OutcomeCase cases[] = {
        {"updated", Meter("1.23"), 0, nullptr},
        {"up-to-date", Meter("2.00"), 4, nullptr},
        {"device-newer", Meter("3.00"), 1, nullptr},
        {"wrong-device", Meter("1.23", "55555.000"), 1, nullptr},
        {"failed", Meter("1.23", "43110.000", "loader.fault.flip=0xC020:3\n"), 1, "transfer"},
    };
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.Outcome);
        TempFolder folder;
        e2e::LayOutProgramFolder(folder, AutoStartIni);
        e2e::Instrument instrument(folder, c.Profile, folder.File("ports/COM1"));
        const std::string device = std::filesystem::canonical(folder.File("ports/COM1"));
        const e2e::Run run = RunReported(folder);
        instrument.Stop();
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << run.Out;
        const json report = ReadReport(folder);
        EXPECT_EQ(report["outcome"], c.Outcome);
        EXPECT_EQ(report["exit_code"], c.ExitCode);
        EXPECT_EQ(report["failed_step"], c.FailedStep ? json(c.FailedStep) : json(nullptr));
        EXPECT_EQ(report["port"]["name"], "COM1");
        EXPECT_EQ(report["port"]["device"], device);
        EXPECT_EQ(report["instrument"]["serial_number"], "12345678");
        const bool transferred = c.ExitCode == 0 || c.FailedStep != nullptr;
        const std::string image = e2e::ReadFile(folder.File("prog/DM10_V200.TXT"));
        EXPECT_EQ(report["method"], transferred ? json("Bsl430") : json(nullptr));
        // Every data byte went out, in frames.
        EXPECT_EQ(report["bytes_sent"].get<std::size_t>() > titxt_test::MemoryOf(image).size(),
                  transferred)
            << report["bytes_sent"];
        if (c.ExitCode == 0) {
            EXPECT_EQ(report["firmware"]["sha256"], app::Sha256Hex(image));
            EXPECT_EQ(report["firmware"]["size"], image.size());
            EXPECT_EQ(report["firmware"]["version"], "2.00");
            EXPECT_EQ(report["instrument"]["version_before"], "1.23");
            EXPECT_EQ(report["instrument"]["name"], "Demo Meter DM 10");
        }
        if (c.ExitCode == 1) {
            EXPECT_FALSE(report["message_boxes"].empty()) << "the error box is in the report";
        }
    }
}

TEST(Report, RunsThatFindNothingOrCannotStartAreReportedToo) {
    // A file class without a loader probe ends at the search; the demo's ends
    // at the bootloader step, which --identify also counts as nothing found.
    const std::pair<const char*, std::vector<std::string>> silentCases[] = {
        {"DM10_V200.MOT", {}}, {"DM10_V200.TXT", {"--identify"}}};
    for (const auto& [file, extra] : silentCases) {
        SCOPED_TRACE(file);
        TempFolder folder;
        e2e::LayOutProgramFolder(folder, AutoStartIni);
        ASSERT_EQ(e2e::EditDeviceIni(folder, {{"DM10_V200.TXT", file}}), "");
        serialtest::Pty silent;
        std::filesystem::create_symlink(silent.SlavePath(), folder.File("ports/COM1"));
        const e2e::Run run = RunReported(folder, extra);
        EXPECT_EQ(run.ExitCode, 3) << run.Out;
        const json report = ReadReport(folder);
        EXPECT_EQ(report["outcome"], "no-device");
        EXPECT_TRUE(report["instrument"].is_null());
    }
    {
        TempFolder folder;
        const e2e::Run run = RunReported(folder); // no program folder at all
        EXPECT_EQ(run.ExitCode, 66);
        const json report = ReadReport(folder);
        EXPECT_EQ(report["outcome"], "failed");
        EXPECT_EQ(report["failed_step"], "start-up");
        EXPECT_EQ(report["sessions"], 0);
    }
}

// The line settings of a port that nobody holds any more.
termios FreeLine(const std::string& link) {
    termios line{};
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the port is still held";
    ::tcgetattr(fd, &line);
    ::close(fd);
    return line;
}

TEST(Report, SigtermDuringATransferAbortsAndGivesThePortBackAsItWas) {
    TempFolder folder;
    e2e::LayOutProgramFolder(folder, AutoStartIni);
    // Lost frames keep the transfer waiting for answers in real time.
    e2e::Instrument instrument(folder,
                               Meter("1.23", "43110.000", "loader.fault.silent=10,11,12,13\n"),
                               folder.File("ports/COM1"));
    const termios before = FreeLine(folder.File("ports/COM1"));
    const pid_t pid = e2e::Spawn(Console(folder, {"--time-divisor", "10"}), folder.File("out.txt"),
                                 folder.File("err.txt"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (instrument.Transcript().find("frame 10 ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << instrument.Transcript();
    const auto signalled = std::chrono::steady_clock::now();
    ::kill(pid, SIGTERM);
    bool timedOut = false;
    const int exitCode = e2e::WaitFor(pid, std::chrono::seconds(10), timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2));
    EXPECT_EQ(exitCode, 1);

    const termios after = FreeLine(folder.File("ports/COM1"));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    const json report = ReadReport(folder);
    EXPECT_EQ(report["outcome"], "aborted");
    EXPECT_EQ(report["failed_step"], "transfer");
    EXPECT_EQ(report["exit_code"], 1);
}

TEST(Report, IdentifyTellsTheDecisionAndLeavesTheFlashAlone) {
    const std::pair<const char*, const char*> cases[] = {
        {"1.23", "update-available"}, {"2.00", "up-to-date"}, {"3.00", "device-newer"}};
    for (const auto& [version, decision] : cases) {
        SCOPED_TRACE(version);
        TempFolder folder;
        // Without AutoStart: --identify starts by itself.
        e2e::LayOutProgramFolder(folder);
        e2e::Instrument instrument(folder, Meter(version), folder.File("ports/COM1"));
        const e2e::Run run = RunReported(folder, {"--identify"});
        instrument.Stop();
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0) << run.Out;
        EXPECT_TRUE(run.OutHas(std::string("serial=12345678 version=") + version)) << run.Out;
        EXPECT_TRUE(run.OutHas(std::string("decision=") + decision)) << run.Out;
        const json report = ReadReport(folder);
        EXPECT_EQ(report["mode"], "identify");
        EXPECT_EQ(report["outcome"], decision);
        EXPECT_TRUE(report["method"].is_null());
        const std::string transcript = instrument.Transcript();
        EXPECT_NE(e2e::ReceivedText(transcript).find("A.1121"), std::string::npos)
            << "told to leave the update";
        EXPECT_EQ(e2e::ReceivedText(transcript).find("A.5577"), std::string::npos)
            << "no loader was started";
        EXPECT_EQ(instrument.Flash(), "q\n") << "nothing was programmed";
    }
}

} // namespace
