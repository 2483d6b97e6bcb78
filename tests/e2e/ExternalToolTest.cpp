#include "Harness.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using testing_support::TempFolder;

using e2e::Lines;

// A hand-held meter programmed by the hex loader (file class 0). The loader
// stand-in listens at the hex loader's 38400 8N1 and starts the firmware on
// the fake tool's leave bytes.
std::string MeterProfile(const std::string& extra = {}, int stopBits = 2) {
    return "start_mode=0\nbaud=4800\nstop_bits=" + std::to_string(stopBits) +
           "\npcb=43170.201\ndevice=43170.000\n"
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
        ::unsetenv("FAKE_M16_FAIL");
        ::unsetenv("FAKE_TOOL_SLEEP");
    }
    void WriteDevice(const std::string& progFile1, const std::string& bootLoadKenn = {},
                     const std::string& progFile2 = "Z70_V200.MOT") {
        folder.Write("prog/ProgDevice.ini", Lines({"StarttextD=Start",
                                                   "StarttextE=Start",
                                                   "AbbruchtextD=Abbruch",
                                                   "AbbruchtextE=Abort",
                                                   "",
                                                   "DevStartCmd=1",
                                                   "DeviceNrDef=43170",
                                                   "DeviceNr=43170",
                                                   "DeviceName=Meter Z70",
                                                   "ProgFile1=" + progFile1,
                                                   "ProgFile2=" + progFile2,
                                                   "ProgFile3=",
                                                   "SWKenn1=",
                                                   "SWKenn2=56 45 52 3A",
                                                   "SWKenn3=",
                                                   "BootLoadKenn=" + bootLoadKenn,
                                                   "FlashErase1=",
                                                   "FlashErase2=",
                                                   "FlashErase3=",
                                                   "ProgDefFile=Z70_DEF.MOT",
                                                   "ProzTyp=F149"}));
    }
    e2e::Run Update(const std::string& profile, int port = 3) {
        e2e::Instrument meter(folder, profile, folder.File("ports/COM" + std::to_string(port)));
        // Traced: the bar and the title show in the model's changes.
        e2e::Run run;
        pid_t pid = e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                folder.File("ports"), "--time-divisor", "10", "--trace"},
                               folder.File("out.txt"), folder.File("err.txt"));
        run.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(120), run.TimedOut);
        run.Out = e2e::ReadFile(folder.File("out.txt"));
        run.Err = e2e::ReadFile(folder.File("err.txt"));
        meter.Stop();
        transcript = meter.Transcript();
        return run;
    }
    std::vector<std::vector<std::string>> Runs() const {
        return ToolRuns(e2e::ReadFile(folder.File("tool.log")));
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
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.1600#"), std::string::npos)
        << "the session went on";
    EXPECT_TRUE(run.ErrHas("Application.Title = Update [ 1.0 %]")) << run.Err;
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
}

TEST_F(ExternalTool, ClosingDuringAToolRunEndsTheToolAndFailsTheSession) {
    WriteDevice("");
    ::setenv("FAKE_TOOL_SLEEP", "60", 1);
    e2e::Instrument meter(folder, MeterProfile(), folder.File("ports/COM3"));
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10"});
    const std::string pidFile = folder.File("tool.log.pid");
    for (int i = 0; i < 3000 && e2e::ReadFile(pidFile).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int sleeper = std::atoi(e2e::ReadFile(pidFile).c_str());
    ASSERT_GT(sleeper, 0) << "the tool runs";
    ASSERT_TRUE(session.Type("quit"));
    e2e::Run run = session.Finish(std::chrono::seconds(30));
    ASSERT_FALSE(run.TimedOut) << "the close does not wait for the tool";
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("beim Schließen beendet")) << run.Out;
    // What the tool started is ended with it (an orphan's zombie may linger
    // until its new parent reaps it).
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        std::string stat = e2e::ReadFile("/proc/" + std::to_string(sleeper) + "/stat");
        gone = stat.empty() || stat.find(") Z") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
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
}

TEST_F(ExternalTool, AMeterAnsweringTheProbeWithItsFrameIsRecoveredAndThenUpdated) {
    WriteDevice("", "Z70BOOT");
    // The search after the probe keeps its one stop bit, as a real meter's
    // receiver does not mind; the simulated one does.
    e2e::Run run = Update(MeterProfile("start=loader\nprobe_answer=h00h:Z70BOOT V1\n", 1), 1);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
    EXPECT_TRUE(run.OutHas("Download erfolgreich")) << run.Out;
    const std::vector<std::vector<std::string>> runs = Runs();
    ASSERT_EQ(runs.size(), 2u) << "recovery, then the update";
    EXPECT_EQ(runs[0].front(), "Z70_DEF.MOT");
    EXPECT_EQ(runs[1].front(), "Z70_V200.MOT");
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.2003"), std::string::npos)
        << "identified after recovery";
}

} // namespace
