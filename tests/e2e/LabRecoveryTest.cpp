#include "Harness.h"
#include "tests/support/TiTxtImage.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using testing_support::TempFolder;
using titxt_test::MemoryOf;
using titxt_test::ResetVectorImage;

// A device entry of ProgDevice.ini.
std::string Entry(const std::string& deviceNr, const std::string& name, const std::string& file,
                  const std::string& chip, const std::string& defFile) {
    std::string text;
    for (const std::string& line : std::initializer_list<std::string>{
             "DevStartCmd=1", "DeviceNrDef=" + deviceNr, "DeviceNr=" + deviceNr,
             "DeviceName=" + name, "ProgFile1=", "ProgFile2=" + file, "ProgFile3=", "SWKenn1=",
             "SWKenn2=56 45 52 3A", "SWKenn3=", "BootLoadKenn=", "FlashErase1=", "FlashErase2=",
             "FlashErase3=", "ProgDefFile=" + defFile, "ProzTyp=" + chip}) {
        text += line + "\r\n";
    }
    return text;
}

// Two instruments the installation knows: a meter with the ROM loader
// (entry 0) and a lab instrument with the 5xx/6xx loader (entry 1). Both
// wait in their loaders, so only the bootloader probe finds them.
class LabRecovery : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, "Language=0\r\nDebugInfo=YES\r\n");
        folder.Write(
            "prog/ProgDevice.ini",
            "StarttextD=Start\r\nStarttextE=Start\r\nAbbruchtextD=Abbruch\r\n"
            "AbbruchtextE=Abort\r\n\r\n" +
                Entry("43110", "Demo Meter DM 10", "DM10_V200.TXT", "F149", "DM10_V200.TXT") +
                "\r\n" + Entry("43140", "Lab 5438", "LAB_V200.TXT", "5438", "LAB_V200.TXT"));
        folder.Write("prog/DM10_V200.TXT", ResetVectorImage(0xE000));
        // Nothing is learned from a waiting loader: the password is the
        // configured reset vector.
        folder.Write("prog/Bsl430.ini", "ResetVector1=0xE000\r\n");
        folder.Write("prog/LAB_V200.TXT", ResetVectorImage(0x5C00));
    }
    // The run ends when the recovered firmware has been updated once more by
    // the normal session, or fails.
    // Entry 0 a meter (its .MOT file shows the programming menu), entry 1
    // the lab instrument; the search probes for the meter's loader.
    void WriteMeterAndLabEntries() {
        folder.Write("prog/ProgDevice.ini",
                     "StarttextD=Start\r\nStarttextE=Start\r\nAbbruchtextD=Abbruch\r\n"
                     "AbbruchtextE=Abort\r\n\r\n" +
                         Entry("43170", "Meter Z70", "Z70_V200.MOT", "F149", "") + "\r\n" +
                         Entry("43140", "Lab 149", "LAB_V200.TXT", "F149", ""));
        folder.Write("prog/Z70_V200.MOT", ResetVectorImage(0xE000));
        // The same image: the update after the recovery writes over it
        // without an erase of the lowest segment.
        folder.Write("prog/LABXXX.TXT", ResetVectorImage(0xE000, 7));
        folder.Write("prog/LAB_V200.TXT", ResetVectorImage(0xE000, 7));
    }
    // The console without AutoStart, OK pressed at once.
    std::vector<std::string> Console() const {
        return {UPDATE_CONSOLE,
                "--dir",
                folder.File("prog"),
                "--ports",
                folder.File("ports"),
                "--time-divisor",
                "10",
                "--start"};
    }
    e2e::Run Recover(const std::string& profile) {
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        e2e::ConsoleSession session(folder, Console());
        // Both bounds end a run that hangs before ctest's, so that what the
        // tool and the instrument did is printed.
        session.WaitForOutput("Download erfolgreich", std::chrono::seconds(60));
        e2e::Run run = session.Finish(std::chrono::seconds(30));
        instrument.Stop();
        flash = instrument.Flash();
        transcript = instrument.Transcript();
        return run;
    }
    // Recovered, then updated by the normal session as the named instrument.
    void ExpectRecoveredAndUpdated(const e2e::Run& run, const std::string& name,
                                   const std::string& file) {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_TRUE(run.OutHas("Download erfolgreich")) << run.Out << transcript;
        EXPECT_EQ(run.ExitCode, 0) << run.Out;
        EXPECT_TRUE(run.OutHas(name)) << run.Out;
        ExpectFlashHolds(file);
    }
    void ExpectFlashHolds(const std::string& file) {
        const titxt_test::Memory memory = MemoryOf(flash);
        for (const auto& [address, value] : MemoryOf(e2e::ReadFile(folder.File("prog/" + file)))) {
            auto found = memory.find(address);
            ASSERT_TRUE(found != memory.end() && found->second == value) << std::hex << address;
        }
    }

    TempFolder folder;
    std::string flash;
    std::string transcript;
};

TEST_F(LabRecovery, AnInstrumentAnsweringQIsProgrammedThroughThe5xxLoaderAsEntry1) {
    e2e::Run run = Recover(
        "start_mode=0\nstart=loader\nbaud=4800\nstop_bits=2\npcb=43140.201\ndevice=43140.000\n"
        "version=1.23\nserial=12345678\npassword=5C00\nloader=msp430-5xx\n"
        "loader.chip_id=5438\nprobe_answer=Q\nflash_start=0x1000\nflash_size=0x44C00\n"
        "on.restart=@300:I.30#\n");
    ExpectRecoveredAndUpdated(run, "Lab 5438", "LAB_V200.TXT");
}

// An instrument waiting in its ROM loader (answer 0x90) as device; restart:
// what its firmware says when the loader starts it.
std::string RomLoaderInstrument(const std::string& device, const std::string& restart) {
    return "start_mode=0\nstart=loader\nbaud=4800\nstop_bits=2\npcb=" + device +
           ".201\ndevice=" + device +
           ".000\nversion=1.23\nserial=12345678\npassword=E000\nloader=msp430-rom\n"
           "loader.version=1.40\nloader.chip_id=F449\nflash_start=0x1000\nflash_size=0xF000\n" +
           restart;
}

const std::string RestartReports = "on.restart=@300:I.30#\n";

// An automatic run that may probe for a .TXT file's loader: without
// ProgErrorNewTry it would end at the bootloader step.
const std::string AutoStartProbingIni =
    std::string(e2e::AutoStartDebugIni) + "ProgErrorNewTry=YES\r\n";

TEST_F(LabRecovery, AnInstrumentAnswering90IsProgrammedThroughTheRomLoader) {
    e2e::Run run = Recover(RomLoaderInstrument("43110", RestartReports));
    ExpectRecoveredAndUpdated(run, "Demo Meter DM 10", "DM10_V200.TXT");
}

// Without a ProgDefFile the lab image is LABXXX.TXT, which a folder from
// Windows may hold in any case.
TEST_F(LabRecovery, TheLabImageIsFoundInAnyCase) {
    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"ProgDefFile=DM10_V200.TXT", "ProgDefFile="}}), "");
    folder.Write("prog/labxxx.txt", ResetVectorImage(0xE000));
    e2e::Run run = Recover(RomLoaderInstrument("43110", RestartReports));
    ExpectRecoveredAndUpdated(run, "Demo Meter DM 10", "DM10_V200.TXT");
}

// The loader answers, but the device check fails (its firmware file is
// missing, so the file error box comes up): the run ends as after a failed search instead of
// waiting on with no timer armed.
TEST_F(LabRecovery, AFailedCheckAfterTheProbeAnswerEndsTheSession) {
    std::filesystem::remove(folder.File("prog/DM10_V200.TXT"));
    {
        e2e::Instrument instrument(folder, RomLoaderInstrument("43110", RestartReports),
                                   folder.File("ports/COM1"));
        std::vector<std::string> traced = Console();
        traced.push_back("--trace");
        e2e::ConsoleSession session(folder, traced);
        ASSERT_TRUE(session.WaitForOutput("DM10_V200.TXT\":"))
            << "the file error names the missing file";
        const e2e::Run run = session.Finish(std::chrono::seconds(30));
        ASSERT_FALSE(run.TimedOut) << "the program ends once its input has\n" << run.Out;
        EXPECT_EQ(run.ExitCode, 1) << run.Out;
        const std::size_t ok = run.Err.rfind("OkBitBtn.Enabled = ");
        ASSERT_NE(ok, std::string::npos);
        EXPECT_EQ(run.Err.substr(ok, run.Err.find('\n', ok) - ok), "OkBitBtn.Enabled = true")
            << "OK enabled again";
    }
    folder.Write("prog/Update.ini", AutoStartProbingIni);
    e2e::Instrument instrument(folder, RomLoaderInstrument("43110", RestartReports),
                               folder.File("ports/COM1"));
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10"});
    const e2e::Run run = session.Finish(std::chrono::seconds(60));
    ASSERT_FALSE(run.TimedOut) << run.Out;
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
}

// An identification tells no decision about a recovery whose image is not
// there: it fails at the check, as the update would.
TEST_F(LabRecovery, IdentifyingAWaitingInstrumentWhoseImageIsMissingFailsTheCheck) {
    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"ProgDefFile=DM10_V200.TXT", "ProgDefFile=GONE.TXT"}}),
              "");
    folder.Write("prog/Update.ini", AutoStartProbingIni);
    e2e::Instrument instrument(folder, RomLoaderInstrument("43110", RestartReports),
                               folder.File("ports/COM1"));
    const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE,
                                        {"--identify", "--report", folder.File("report.json")});
    instrument.Stop();
    ASSERT_FALSE(run.TimedOut) << run.Out;
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("GONE.TXT\":")) << run.Out;
    const nlohmann::json report =
        nlohmann::json::parse(e2e::ReadFile(folder.File("report.json")), nullptr, false);
    EXPECT_EQ(report["outcome"], "failed") << report.dump();
    EXPECT_EQ(report["failed_step"], "check");
    EXPECT_TRUE(MemoryOf(instrument.Flash()).empty()) << "nothing programmed";
    EXPECT_EQ(instrument.Transcript().find("\\x80\\x10"), std::string::npos)
        << "the loader was never unlocked, so nothing was erased";
}

TEST_F(LabRecovery, ARecoveredInstrumentThatStaysSilentFailsWithinTheAllowance) {
    folder.Write("prog/Update.ini", AutoStartProbingIni);
    e2e::Instrument instrument(folder, RomLoaderInstrument("43110", ""), folder.File("ports/COM1"));
    const e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE);
    ASSERT_FALSE(run.TimedOut) << run.Out;
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("Das Ger\xC3\xA4t antwortet nicht mehr.")) << run.Out;
    instrument.Stop();
    flash = instrument.Flash();
    ExpectFlashHolds("DM10_V200.TXT");
}

// The search probes with the class of the first entry (a meter's frame), so
// the lab instrument waiting in its ROM loader on COM3 stays unfound; Lab XXX
// probes every port for that loader and recovers it where it answers, with
// LABXXX.TXT. Nothing answers on COM1.
TEST_F(LabRecovery, LabXXXAfterAFailedSearchRecoversTheInstrumentOnThePortThatAnswers) {
    WriteMeterAndLabEntries();
    TempFolder elsewhere;
    e2e::Instrument nothing(elsewhere, e2e::SilentLoader, folder.File("ports/COM1"));
    e2e::Instrument instrument(folder, RomLoaderInstrument("43140", RestartReports),
                               folder.File("ports/COM3"));
    e2e::ConsoleSession session(folder, Console());
    ASSERT_TRUE(session.WaitForOutput("Kein Ger\xC3\xA4t gefunden"));
    ASSERT_TRUE(session.Type("lab"));
    session.WaitForOutput("Download erfolgreich", std::chrono::seconds(90));
    const e2e::Run run = session.Finish();
    instrument.Stop();
    flash = instrument.Flash();
    transcript = instrument.Transcript();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_FALSE(run.OutHas("nicht verf\xC3\xBCgbar")) << run.Out;
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_TRUE(run.OutHas("Lab 149")) << "identified after its recovery\n" << run.Out;
    EXPECT_NE(transcript.find("firmware restarted"), std::string::npos);
    ExpectFlashHolds("LAB_V200.TXT");
    nothing.Stop();
    EXPECT_EQ(nothing.Flash(), "q\n") << "nothing was programmed on COM1";
}

// Lab XXX from the menu, a loader answering, but a folder where its image
// should be: one box names it, and the loader is left alone.
TEST_F(LabRecovery, LabXXXWithAnImageThatCannotBeReadLeavesTheLoaderAlone) {
    WriteMeterAndLabEntries();
    std::filesystem::remove(folder.File("prog/LABXXX.TXT"));
    std::filesystem::create_directories(folder.File("prog/labxxx.txt"));
    e2e::Instrument instrument(folder, RomLoaderInstrument("43140", RestartReports),
                               folder.File("ports/COM1"));
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10"});
    ASSERT_TRUE(session.Type("lab"));
    EXPECT_TRUE(session.WaitForOutput("labxxx.txt\":")) << session.Out();
    const e2e::Run run = session.Finish(std::chrono::seconds(30));
    instrument.Stop();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("Ordner")) << run.Out;
    EXPECT_EQ(e2e::Count(run.Out, "[Fehler]"), 1u) << "one box\n" << run.Out;
    EXPECT_TRUE(MemoryOf(instrument.Flash()).empty()) << "nothing programmed";
    EXPECT_EQ(instrument.Transcript().find("\\x80\\x10"), std::string::npos)
        << "the loader was never unlocked, so nothing was erased";
}

// Lab XXX before any OK, with no loader on any port: one box names the
// ports tried, and the run ends as "no instrument".
TEST_F(LabRecovery, LabXXXWithNoLoaderAnsweringNamesThePortsTried) {
    WriteMeterAndLabEntries();
    TempFolder elsewhere;
    e2e::Instrument first(folder, e2e::SilentLoader, folder.File("ports/COM1"));
    e2e::Instrument second(elsewhere, e2e::SilentLoader, folder.File("ports/COM4"));
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10"});
    ASSERT_TRUE(session.Type("lab"));
    EXPECT_TRUE(session.WaitForOutput("Kein Bootloader hat geantwortet. Versucht: COM1, COM4"))
        << session.Out();
    const e2e::Run run = session.Finish(std::chrono::seconds(30));
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 3) << run.Out;
}

} // namespace
