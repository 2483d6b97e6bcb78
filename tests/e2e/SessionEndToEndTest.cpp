#include "../serial/Pty.h"
#include "Harness.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace {

using testing_support::TempFolder;

using e2e::Lines;

// The demo meter; version and device number as the test needs them.
std::string Profile(const std::string& version = "1.23", const std::string& device = "43110.000") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=" + device +
           "\nversion=" + version + "\nserial=12345678\npassword=F800\nloader=none\n";
}

std::string DeviceBlock(const std::string& deviceNr, const std::string& name,
                        const std::string& progFile, const std::string& startCmd = "1") {
    return Lines({"DevStartCmd=" + startCmd, "DeviceNrDef=" + deviceNr, "DeviceNr=" + deviceNr,
                  "DeviceName=" + name, "ProgFile1=", "ProgFile2=" + progFile,
                  "ProgFile3=", "SWKenn1=", "SWKenn2=56 45 52 3A", "SWKenn3=", "BootLoadKenn=",
                  "FlashErase1=", "FlashErase2=", "FlashErase3=", "ProgDefFile=", "ProzTyp=F149"});
}

// A program folder made from the demo folder, a port-map folder and the runs.
class SessionEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { e2e::LayOutProgramFolder(folder); }
    void WriteUpdateIni(std::initializer_list<std::string> lines) {
        folder.Write("prog/Update.ini", Lines(lines));
    }
    void WriteDevices(const std::string& blocks) {
        folder.Write("prog/ProgDevice.ini", Lines({"StarttextD=Start", "StarttextE=Start",
                                                   "AbbruchtextD=Abbruch\\rzweite Zeile",
                                                   "AbbruchtextE=Abort\\rsecond line"}) +
                                                "\r\n" + blocks);
    }
    std::string Port(int number) { return folder.File("ports/COM" + std::to_string(number)); }
    e2e::Run Console(std::vector<std::string> extra, int seconds = 60) {
        std::vector<std::string> argv = {UPDATE_CONSOLE,
                                         "--dir",
                                         folder.File("prog"),
                                         "--ports",
                                         folder.File("ports"),
                                         "--time-divisor",
                                         "20",
                                         "--trace"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        e2e::Run run;
        pid_t pid = e2e::Spawn(argv, folder.File("out.txt"), folder.File("err.txt"));
        EXPECT_GT(pid, 0);
        run.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(seconds), run.TimedOut);
        run.Out = e2e::ReadFile(folder.File("out.txt"));
        run.Err = e2e::ReadFile(folder.File("err.txt"));
        return run;
    }
    TempFolder folder;
};

TEST_F(SessionEndToEnd, InstrumentAt19200IsFoundOnTheThirdRateAndIdentified) {
    e2e::Instrument at19200(folder,
                            "start_mode=0\nbaud=19200\nstop_bits=2\npcb=43110.201\n"
                            "device=43110.000\nversion=1.23\nserial=12345678\nloader=none\n",
                            Port(1));
    WriteUpdateIni({"Language=0", "AutoStart=YES"});
    e2e::Run run = Console({});
    ASSERT_FALSE(run.TimedOut);
    EXPECT_TRUE(run.ErrHas("UpdateStatusBar.Panels[1] = Com1")) << run.Err;
    EXPECT_TRUE(run.ErrHas("UpdateStatusBar.Panels[2] = 19200"));
    EXPECT_TRUE(run.ErrHas("NameStaticText.Caption = 43110.000  [Demo Meter DM 10]"));
    EXPECT_TRUE(run.ErrHas("PCBStaticText.Caption = 43110.201"));
    EXPECT_TRUE(run.ErrHas("SerStaticText.Caption = 12345678"));
    EXPECT_TRUE(run.ErrHas("SWStaticText.Caption = 1.23"));
    EXPECT_TRUE(run.ErrHas("UpdateStatusBar.Panels[3] = Version 2.00"));
    std::string transcript = at19200.Transcript();
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.2003"), std::string::npos) << transcript;
    // 4800 and 9600 were tried first and reached it as garbage.
    EXPECT_NE(transcript.find("garbled 8 bytes: tool at 4800 baud 2 stop"), std::string::npos)
        << transcript;
    EXPECT_NE(transcript.find("garbled 8 bytes: tool at 9600 baud 2 stop"), std::string::npos);
}

TEST_F(SessionEndToEnd, NoInstrumentWithAutoStartAndATxtFileEndsAtTheBootloaderStep) {
    serialtest::Pty silent;
    std::filesystem::create_symlink(silent.SlavePath(), Port(1));
    WriteUpdateIni({"Language=0", "AutoStart=YES"});
    e2e::Run run = Console({});
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.ErrHas("UpdateStatusBar.Panels[2] = 1200"))
        << "every rate of the list is tried";
    EXPECT_FALSE(run.OutHas("Kein Ger\xC3\xA4t gefunden"));
}

TEST_F(SessionEndToEnd, NoInstrumentWithAutoStartEndsWithExitCode3) {
    serialtest::Pty silent;
    std::filesystem::create_symlink(silent.SlavePath(), Port(1));
    WriteUpdateIni({"Language=0", "AutoStart=YES"});
    WriteDevices(DeviceBlock("43110", "Demo Meter DM 10", "DM10_V200.MOT"));
    e2e::Run run = Console({});
    EXPECT_EQ(run.ExitCode, 3) << run.Out;
    EXPECT_TRUE(run.ErrHas("UpdateStatusBar.Panels[2] = BL-Baud"));
}

TEST_F(SessionEndToEnd, NoInstrumentSearchesTwiceThenEnds) {
    serialtest::Pty silent;
    std::filesystem::create_symlink(silent.SlavePath(), Port(1));
    WriteUpdateIni({"Language=0"});
    WriteDevices(DeviceBlock("43110", "Demo Meter DM 10", "DM10_V200.MOT"));
    e2e::Run run = Console({"--start"}, 90);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 3);
    EXPECT_TRUE(
        run.OutHas("[Fehler] Kein Ger\xC3\xA4t gefunden !! Ist das Ger\xC3\xA4t auch richtig"))
        << run.Out;
    EXPECT_TRUE(run.OutHas("[Fehler] Kein Ger\xC3\xA4t gefunden !! Programm wird abgebrochen !!"));
}

TEST_F(SessionEndToEnd, EqualVersionsWithAutoStartEndWithExitCode4) {
    e2e::Instrument instrument(folder, Profile("2.00"), Port(1));
    WriteUpdateIni({"Language=0", "AutoStart=YES"});
    e2e::Run run = Console({});
    EXPECT_EQ(run.ExitCode, 4) << run.Out;
    EXPECT_FALSE(run.OutHas("[Info]")) << "no question with AutoStart";
}

TEST_F(SessionEndToEnd, EqualVersionsAskAndNoSendsTheExitCommand) {
    e2e::Instrument instrument(folder, Profile("2.00"), Port(1));
    WriteUpdateIni({"Language=1"});
    e2e::Run run = Console({"--start", "--no"});
    ASSERT_FALSE(run.TimedOut);
    EXPECT_TRUE(run.OutHas("[Info] The latest software version 2.00 is already in device."))
        << run.Out;
    instrument.Stop();
    EXPECT_NE(e2e::ReceivedText(instrument.Transcript()).find("A.1121"), std::string::npos)
        << "the exit command of a .TXT session";
}

// An operator who answers No and presses OK as soon as the tool takes it
// again: the exit command's acknowledge of one session must not be read as
// the next session's first answer and drive its steps past the check.
TEST_F(SessionEndToEnd, OkAtOnceAfterNoStartsAFreshIdentification) {
    // An instrument slow to answer: the exit's acknowledge comes after OK.
    e2e::Instrument instrument(folder, Profile("2.00") + "reply_delay_ms=300\n", Port(1));
    WriteUpdateIni({"Language=1"});
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", e2e::TimeDivisor,
                                         "--trace"});
    const std::string question = "[Info] The latest software version 2.00";
    const std::string okEnabled = "OkBitBtn.Enabled = true";
    auto countIn = [&](const std::string& file, const std::string& text) {
        return e2e::Count(e2e::ReadFile(folder.File(file)), text);
    };
    auto waitUntil = [&](const std::string& file, const std::string& text, std::size_t count) {
        for (int i = 0; i < 1500 && countIn(file, text) < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return countIn(file, text) >= count;
    };
    ASSERT_TRUE(session.Started());
    for (std::size_t round = 1; round <= 3; ++round) {
        const std::size_t enabled = countIn("err.txt", okEnabled);
        ASSERT_TRUE(session.Type("ok"));
        ASSERT_TRUE(waitUntil("out.txt", question, round)) << "round " << round << session.Out();
        ASSERT_TRUE(session.Type("no"));
        ASSERT_TRUE(waitUntil("err.txt", okEnabled, enabled + 1)) << "round " << round;
    }
    const e2e::Run run = session.Finish();
    EXPECT_FALSE(run.TimedOut);
    EXPECT_EQ(e2e::Count(run.Out, question), 3U) << run.Out;
    EXPECT_FALSE(run.OutHas("tool")) << run.Out;
}

TEST_F(SessionEndToEnd, NewerInstrumentIsRefused) {
    e2e::Instrument instrument(folder, Profile("3.10"), Port(1));
    WriteUpdateIni({"Language=0", "AutoStart=YES"});
    e2e::Run run = Console({});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.OutHas("[Fehler] keine g\xC3\xBCltige Software-Version !!")) << run.Out;
    EXPECT_TRUE(run.OutHas("Die Software-Version 3.10 in Ihrem Ger\xC3\xA4t ist aktueller"));
}

TEST_F(SessionEndToEnd, WrongDeviceListsEveryDeviceNameOnce) {
    e2e::Instrument instrument(folder, Profile("1.23", "55555.000"), Port(1));
    WriteUpdateIni({"Language=0", "AutoStart=YES"});
    WriteDevices(DeviceBlock("43110", "Meter A", "DM10_V200.TXT") + "\r\n" +
                 DeviceBlock("43111", "Meter A", "DM10_V200.TXT") + "\r\n" +
                 DeviceBlock("43112", "Meter B", "DM10_V200.TXT"));
    e2e::Run run = Console({});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.OutHas("[Fehler] Falsches Ger\xC3\xA4t angeschlossen !!")) << run.Out;
    EXPECT_TRUE(run.OutHas("Der Download ist f\xC3\xBCr ein Meter A, Meter B,  !")) << run.Out;
}

TEST_F(SessionEndToEnd, Reply920FromAnOldModel41215AsksForItsUpdateMode) {
    e2e::Instrument instrument(
        folder,
        "start_mode=0\nbaud=4800\nstop_bits=2\npcb=41215.100\ndevice=41215.000\n"
        "version=1.049\nserial=12345678\nloader=none\non.4001=I.920#|I.25#12345678\n",
        Port(1));
    WriteUpdateIni({"Language=0", "AutoStart=YES"});
    WriteDevices(DeviceBlock("41215", "Old Meter", "DM10_V200.TXT"));
    e2e::Run run = Console({});
    instrument.Stop();
    EXPECT_NE(e2e::ReceivedText(instrument.Transcript()).find("A.1500"), std::string::npos)
        << instrument.Transcript();
}

TEST_F(SessionEndToEnd, SensorModeWithoutASensorAsksWhetherToGoOn) {
    e2e::Instrument instrument(folder, Profile("1.23", "41300.000"), Port(1));
    WriteUpdateIni({"Language=0"});
    WriteDevices(DeviceBlock("41300", "Sensor Meter", "DM10_V200.TXT", "3"));
    e2e::Run run = Console({"--start", "--no"});
    ASSERT_FALSE(run.TimedOut);
    EXPECT_TRUE(run.OutHas("[Info] kein digitaler Sensor angeschlossen ?")) << run.Out;
}

} // namespace
