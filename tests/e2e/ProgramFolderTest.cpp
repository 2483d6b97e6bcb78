// Program folders as instruments' makers ship them: laid out on Windows,
// where the case of a name does not count, and copied over.
#include "Harness.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace {

using nlohmann::json;
using testing_support::TempFolder;

std::string WithoutCr(std::string text) {
    std::erase(text, '\r');
    return text;
}

class ProgramFolder : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, "Language=0\r\nAutoStart=YES\r\n");
        image = e2e::ReadFile(folder.File("prog/DM10_V200.TXT"));
        std::filesystem::remove(folder.File("prog/DM10_V200.TXT"));
    }
    // The demo meter at version 1.23 with its ROM loader, against the tool;
    // the report is read afterwards.
    e2e::Run Update(const std::vector<std::string>& extra = {}) {
        e2e::Instrument meter(folder,
                              "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\n"
                              "device=43110.000\nversion=1.23\nserial=12345678\npassword=C000\n"
                              "loader=msp430-rom\nloader.version=1.60\nloader.chip_id=F149\n"
                              "flash_start=0x1000\nflash_size=0xF000\non.restart=@300:I.30#\n",
                              folder.File("ports/COM1"));
        std::vector<std::string> options = {"--report", folder.File("report.json")};
        options.insert(options.end(), extra.begin(), extra.end());
        e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, options);
        meter.Stop();
        flash = WithoutCr(meter.Flash());
        transcript = meter.Transcript();
        report = json::parse(e2e::ReadFile(folder.File("report.json")), nullptr, false);
        return run;
    }
    void ExpectFailedAtTheCheck(const e2e::Run& run) {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 1) << run.Out;
        EXPECT_EQ(report["outcome"], "failed") << report.dump();
        EXPECT_EQ(report["failed_step"], "check");
        EXPECT_FALSE(run.OutHas("Falsches Ger")) << run.Out;
        EXPECT_FALSE(run.OutHas("Software-Version")) << run.Out;
        EXPECT_EQ(transcript.find("-- loader"), std::string::npos) << "the loader stays closed";
    }

    TempFolder folder;
    std::string image;
    std::string flash;
    std::string transcript;
    json report;
};

TEST_F(ProgramFolder, TheFirmwareFileIsFoundInAnyCaseAndNamedAsItStandsOnDisk) {
    for (const char* onDisk : {"dm10_v200.txt", "Dm10_V200.Txt"}) {
        SCOPED_TRACE(onDisk);
        folder.Write(std::string("prog/") + onDisk, image);
        const e2e::Run run = Update();
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0) << run.Out;
        EXPECT_EQ(flash, WithoutCr(image));
        EXPECT_EQ(report["outcome"], "updated");
        EXPECT_EQ(report["firmware"]["file"], onDisk);
        EXPECT_EQ(report["firmware"]["version"], "2.00");
        std::filesystem::remove(folder.File(std::string("prog/") + onDisk));
    }
}

TEST_F(ProgramFolder, TwoFilesThatDifferOnlyInCaseAreBothNamedAndNothingIsProgrammed) {
    folder.Write("prog/dm10_v200.txt", image);
    folder.Write("prog/Dm10_V200.txt", image);
    const e2e::Run run = Update();
    ExpectFailedAtTheCheck(run);
    EXPECT_TRUE(run.OutHas("[Fehler] Firmware-Datei")) << run.Out;
    EXPECT_TRUE(run.OutHas("Gro\xC3\x9F- und Kleinschreibung: Dm10_V200.txt, dm10_v200.txt"))
        << run.Out;
}

TEST_F(ProgramFolder, AMissingFirmwareFileFailsTheCheckAndTellsNothingAboutTheInstrument) {
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--identify"}}) {
        SCOPED_TRACE(extra.empty() ? "update" : "identify");
        const e2e::Run run = Update(extra);
        ExpectFailedAtTheCheck(run);
        EXPECT_TRUE(run.OutHas("DM10_V200.TXT\":")) << run.Out;
        EXPECT_TRUE(run.OutHas("Die Datei ist nicht vorhanden.")) << run.Out;
    }
}

// Scripts rely on the exit code: a folder the tool cannot run from is no success.
TEST(ConfigurationMissing, EndsWithExitCode78) {
    for (const char* missing : {"Update.ini", "ProgDevice.ini"}) {
        for (const std::vector<std::string>& extra :
             {std::vector<std::string>{"--start"}, {"--identify"}}) {
            SCOPED_TRACE(std::string(missing) + " " + extra.front());
            TempFolder folder;
            e2e::LayOutProgramFolder(folder);
            std::filesystem::remove(folder.File(std::string("prog/") + missing));
            std::vector<std::string> options = {"--report", folder.File("report.json")};
            options.insert(options.end(), extra.begin(), extra.end());
            const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, options);
            ASSERT_FALSE(run.TimedOut);
            EXPECT_EQ(run.ExitCode, 78) << run.Out;
            EXPECT_TRUE(run.OutHas("[Error] Konfigurationsdatei")) << run.Out;
            const json report = json::parse(e2e::ReadFile(folder.File("report.json")));
            EXPECT_EQ(report["outcome"], "failed");
            EXPECT_EQ(report["failed_step"], "start-up");
        }
    }
}

TEST(ConfigurationMissing, WithoutDirTheConsoleSaysWhereItLookedAndWhatDirIsFor) {
    TempFolder folder;
    const std::string previous = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(folder.Path().c_str()), 0);
    bool timedOut = false;
    const pid_t pid =
        e2e::Spawn({UPDATE_CONSOLE, "--identify"}, folder.File("out.txt"), folder.File("err.txt"));
    const int exitCode = e2e::WaitFor(pid, std::chrono::seconds(30), timedOut);
    ASSERT_EQ(::chdir(previous.c_str()), 0);
    EXPECT_EQ(exitCode, 78);
    const std::string err = e2e::ReadFile(folder.File("err.txt"));
    EXPECT_EQ(err, "update-console: no Update.ini in " + folder.Path() +
                       "; --dir DIR names the program folder\n");
    EXPECT_EQ(e2e::ReadFile(folder.File("out.txt")), "") << "no box about a missing file";
}

} // namespace
