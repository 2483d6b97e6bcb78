#include "Harness.h"
#include "tests/support/TiTxtImage.h"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using e2e::Replace;
using testing_support::TempFolder;

std::string Spelled(std::string name, int (*change)(int)) {
    for (char& c : name) {
        c = static_cast<char>(change(static_cast<unsigned char>(c)));
    }
    return name;
}
std::string Capitals(const std::string& name) {
    return Spelled(name, ::toupper);
}
std::string Small(const std::string& name) {
    return Spelled(name, ::tolower);
}

std::string Bytes(std::size_t count, int seed) {
    const std::vector<std::uint8_t> pattern = titxt_test::Pattern(count, seed);
    return {pattern.begin(), pattern.end()};
}

// A program as the version reader finds it: the marker and the version as
// 16-bit text somewhere in the file.
std::string Program(std::size_t count, int seed, const std::string& version) {
    std::string wide;
    for (char c : "VER: " + version) {
        wide += {c, '\0'};
    }
    return Bytes(count, seed) + wide + std::string(2, '\0') + Bytes(300, seed + 1);
}

// An automatic update against the simulated instrument; afterwards the files
// the instrument kept are compared with those of the program folder.
class FileSession : public ::testing::Test {
protected:
    e2e::Run Update(const std::string& profile) {
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE);
        instrument.Stop();
        transcript = instrument.Transcript();
        for (const auto& [name, content] : files) {
            received[name] = instrument.Received(name);
        }
        return run;
    }
    void ExpectSuccessWithEveryFile(const e2e::Run& run) {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
        EXPECT_TRUE(run.OutHas("Download erfolgreich ausgef\xC3\xBChrt !")) << run.Out;
        for (const auto& [name, content] : files) {
            ExpectReceivedIntact(name);
        }
    }
    void ExpectReceivedIntact(const std::string& name) {
        ASSERT_TRUE(received[name].has_value()) << name << "\n" << transcript;
        EXPECT_EQ(*received[name], files[name]) << name;
    }
    // A "*.*" entry: every file of the program folder goes, under the name
    // the instrument is told (spelled by spell). Taken after the run, since
    // start-up may have added to a language file.
    template <typename Spell> void ExpectEveryFileOfTheFolder(const e2e::Run& run, Spell spell) {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0) << run.Out;
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder.File("prog"))) {
            const std::string name = entry.path().filename().string();
            const std::optional<std::string> got = received[spell(name)];
            ASSERT_TRUE(got.has_value()) << name << "\n" << transcript;
            EXPECT_EQ(*got, e2e::ReadFile(entry.path().string())) << name;
            ++count;
        }
        EXPECT_GE(count, 9u);
    }
    // Every name the folder may hold after the run, as the instrument names it.
    template <typename Spell> void ExpectNamesOfTheFolder(Spell spell) {
        for (const auto& entry : std::filesystem::directory_iterator(folder.File("prog"))) {
            files[spell(entry.path().filename().string())];
        }
        for (const char* language : {"Update.Deu", "Update.Eng"}) {
            files[spell(language)];
        }
    }

    // A session started by hand that fails with the instrument's silence;
    // OK then retries, and the run ends after the retry's outcome.
    e2e::Run FailThenRetry(const std::string& profile) {
        folder.Write("prog/Update.ini", "Language=0\r\nDebugInfo=YES\r\n");
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        e2e::ConsoleSession session(folder,
                                    {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                     folder.File("ports"), "--time-divisor", "10", "--start"});
        EXPECT_TRUE(session.WaitForOutput("antwortet nicht mehr", std::chrono::seconds(60)));
        // OK counts once the session has failed, not while the transfer ends.
        EXPECT_TRUE(
            session.WaitForOutput("Das Update wurde abgebrochen.", std::chrono::seconds(30)));
        EXPECT_TRUE(session.Type("ok"));
        session.WaitForOutput("Download erfolgreich", std::chrono::seconds(60));
        const e2e::Run run = session.Finish();
        instrument.Stop();
        transcript = instrument.Transcript();
        for (const auto& [name, content] : files) {
            received[name] = instrument.Received(name);
        }
        return run;
    }

    TempFolder folder;
    std::map<std::string, std::string> files; // as the instrument names them
    std::map<std::string, std::optional<std::string>> received;
    std::string transcript;
};

// An instrument whose file loader takes its program, its start-up program
// and two data files; the instrument runs 1.00 and start-up program 1.05. It
// acknowledges a new speed at that speed, after the 2 s the tool waits.
class BlockTransfer : public FileSession {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
        ASSERT_EQ(e2e::EditDeviceIni(
                      folder, {{"DM10_V200.TXT", "MAIN.EXE,TARVINSTARTUP.EXE,DATA1.BIN,DATA2.DAT"},
                               {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}}),
                  "");
        std::filesystem::remove(folder.File("prog/DM10_V200.TXT"));
        files = {{"MAIN.EXE", Program(4500, 1, "2.00")},
                 {"TARVINSTARTUP.EXE", Program(2100, 2, "1.10")},
                 {"DATA1.BIN", Bytes(2500, 3)},
                 {"DATA2.DAT", ""}};
        for (const auto& [name, content] : files) {
            folder.Write("prog/" + name, content);
        }
    }
    static std::string Profile(const std::string& extraLines,
                               const std::string& startupVersion = "1.05") {
        return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
               "version=1.00\nserial=12345678\nloader=file-loader\nloader.switch_ack_ms=4000\n"
               "loader.startup_version=" +
               startupVersion + "\n" + extraLines;
    }
    e2e::Run UpdateWith(const std::string& extraLines, const std::string& startupVersion = "1.05") {
        return Update(Profile(extraLines, startupVersion));
    }
};

TEST_F(BlockTransfer, ProgramStartUpProgramAndFurtherFilesArriveIntact) {
    e2e::Run run = UpdateWith("");
    ExpectSuccessWithEveryFile(run);
    // Start-up program 1.05 takes the new header; the line went up and back.
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.1201#MAIN.EXE,"), std::string::npos)
        << transcript;
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.1300#38400"), std::string::npos);
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.1300#4800"), std::string::npos);
    EXPECT_EQ(transcript.find("dropped"), std::string::npos) << transcript;
}

TEST_F(BlockTransfer, TheStartUpProgramStaysOutWhenTheInstrumentHasItsVersion) {
    e2e::Run run = UpdateWith("", "1.10");
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_FALSE(received["TARVINSTARTUP.EXE"].has_value());
    ExpectReceivedIntact("MAIN.EXE");
    ExpectReceivedIntact("DATA1.BIN");
    ExpectReceivedIntact("DATA2.DAT");
}

// Files copied from Windows keep their mixed case on disk; the instrument
// is told each name in capitals, as it always was.
TEST_F(BlockTransfer, AListOfEveryFileSendsThemAllIntactWhateverTheirCase) {
    ASSERT_EQ(e2e::EditDeviceIni(
                  folder, {{"MAIN.EXE,TARVINSTARTUP.EXE,DATA1.BIN,DATA2.DAT", "MAIN.EXE,*.*"}}),
              "");
    std::filesystem::remove(folder.File("prog/TARVINSTARTUP.EXE"));
    std::filesystem::rename(folder.File("prog/DATA1.BIN"), folder.File("prog/Data1.Bin"));
    std::filesystem::rename(folder.File("prog/DATA2.DAT"), folder.File("prog/data2.dat"));
    files.clear();
    ExpectNamesOfTheFolder(Capitals);
    e2e::Run run = UpdateWith("");
    ExpectEveryFileOfTheFolder(run, Capitals);
    EXPECT_NE(e2e::ReceivedText(transcript).find("#BSL430.INI,"), std::string::npos);
}

// Start-up program 0.105 knows only the old header; this one confirms each
// file with its acknowledge instead of reply 260.
TEST_F(BlockTransfer, AnOldStartUpProgramGetsTheOldHeaderAndMayEndFilesWithItsAcknowledge) {
    e2e::Run run = UpdateWith("loader.file_end=ack\n", "0.105");
    ExpectSuccessWithEveryFile(run);
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.1205#MAIN.EXE,"), std::string::npos)
        << transcript;
    EXPECT_EQ(e2e::ReceivedText(transcript).find("A.1201#"), std::string::npos);
}

TEST_F(BlockTransfer, ABlockTheInstrumentAsksForAgainIsResent) {
    e2e::Run run = UpdateWith("loader.fault.bad=2\n");
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_NE(transcript.find("fault: bad block 2"), std::string::npos) << transcript;
    ExpectReceivedIntact("MAIN.EXE");
}

// A failure in the middle of a file leaves the instrument in its loader at
// the transfer speed; OK must still reach it and send every file.
TEST_F(BlockTransfer, OkAfterATransferFailedInsideAFileRepeatsTheTransfer) {
    const e2e::Run run = FailThenRetry(Profile("loader.fault.silent=3\n"));
    ExpectSuccessWithEveryFile(run);
    EXPECT_NE(transcript.find("fault: silent, block 3"), std::string::npos) << transcript;
}

// The files are in, but the session goes on with the clock's acknowledge:
// an instrument that never gives it must end the run, named, not hold it.
TEST_F(BlockTransfer, AnInstrumentSilentAfterTheClockFailsTheRunInsteadOfHoldingIt) {
    e2e::Run run = UpdateWith("fault.1600=silent\n");
    ASSERT_FALSE(run.TimedOut) << run.Out;
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich")) << run.Out;
    EXPECT_NE(transcript.find("fault: silent"), std::string::npos) << transcript;
    ExpectReceivedIntact("MAIN.EXE");
}

TEST_F(BlockTransfer, AnyOtherBlockReplyFailsTheSession) {
    e2e::Run run = UpdateWith("loader.fault.reply=2:5\n");
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich")) << run.Out;
    EXPECT_FALSE(received["MAIN.EXE"].has_value());
}

// The demo meter is updated through its ROM loader, then its lab files follow.
class LabFileTransfer : public FileSession {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
        std::string devices = e2e::ReadFile(folder.File("prog/ProgDevice.ini"));
        Replace(devices, "DM10_V200.TXT", "DM10_V200.TXT,EMPTY.DAT,B256.DAT,BIG.DAT");
        folder.Write("prog/ProgDevice.ini", devices);
        files = {{"empty.dat", ""}, {"b256.dat", Bytes(256, 4)}, {"big.dat", Bytes(100000, 5)}};
        folder.Write("prog/EMPTY.DAT", files["empty.dat"]);
        folder.Write("prog/B256.DAT", files["b256.dat"]);
        folder.Write("prog/BIG.DAT", files["big.dat"]);
    }
    static std::string Meter(const std::string& extraLines, const std::string& device = "43110") {
        return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=" + device + ".201\ndevice=" + device +
               ".000\nversion=1.23\nserial=12345678\npassword=C000\nloader=msp430-rom\n"
               "loader.version=1.60\nloader.chip_id=F149\nflash_start=0x1000\n"
               "flash_size=0xF000\non.restart=@300:I.30#\n" +
               extraLines;
    }
    e2e::Run UpdateWith(const std::string& extraLines) { return Update(Meter(extraLines)); }
};

TEST_F(LabFileTransfer, EmptySmallAndLargeFilesArriveIntactAndTheInstrumentIsReset) {
    e2e::Run run = UpdateWith("");
    ExpectSuccessWithEveryFile(run);
    // 256 bytes go as 255 and 1.
    EXPECT_NE(e2e::ReceivedText(transcript).find("A.12010#\\x01"), std::string::npos);
    EXPECT_NE(e2e::ReceivedText(transcript).find("U.606\\r\\n"), std::string::npos) << transcript;
}

TEST_F(LabFileTransfer, AListOfEveryFileSendsThemAllIntactWhateverTheirCase) {
    ASSERT_EQ(e2e::EditDeviceIni(
                  folder, {{"DM10_V200.TXT,EMPTY.DAT,B256.DAT,BIG.DAT", "DM10_V200.TXT,*.*"}}),
              "");
    std::filesystem::rename(folder.File("prog/B256.DAT"), folder.File("prog/b256.Dat"));
    files.clear();
    ExpectNamesOfTheFolder(Small);
    e2e::Run run = UpdateWith("");
    ExpectEveryFileOfTheFolder(run, Small);
}

// A model with an air-pressure calibration: the value goes first, then the
// reset that ends every lab transfer.
TEST_F(LabFileTransfer, APendingCalibrationValueIsSentBeforeTheReset) {
    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"DeviceNrDef=43110", "DeviceNrDef=41246"},
                                          {"DeviceNr=43110", "DeviceNr=41246"}}),
              "");
    e2e::Run run = Update(Meter("", "41246"));
    ExpectSuccessWithEveryFile(run);
    const std::string sent = e2e::ReceivedText(transcript);
    const std::size_t calibration = sent.find("A.6162#");
    ASSERT_NE(calibration, std::string::npos) << transcript;
    EXPECT_NE(sent.find("U.606\\r\\n", calibration), std::string::npos) << transcript;
}

// OK after a transfer that failed in the middle of a file repeats the
// transfer (not the loader: the instrument already runs its new firmware)
// and first brings the instrument back to where a transfer starts.
TEST_F(LabFileTransfer, OkAfterATransferFailedInsideAFileRepeatsTheTransfer) {
    const e2e::Run run = FailThenRetry(Meter("fault.12010@3=silent\n"));
    EXPECT_FALSE(run.OutHas("Fehler im Bootloader")) << run.Out;
    ExpectSuccessWithEveryFile(run);
    // The file left open is closed before the first file is opened again.
    const std::string sent = e2e::ReceivedText(transcript);
    const std::size_t reopened = sent.find("A.12000#empty.dat", sent.find("A.12000#empty.dat") + 1);
    ASSERT_NE(reopened, std::string::npos) << transcript;
    EXPECT_NE(sent.rfind("A.12030", reopened), std::string::npos) << transcript;
}

// A refused command ends the transfer at once, naming the command, instead
// of waiting for an acknowledge that never comes; silence ends it after the
// watchdog. Neither is reported as a success or reset.
TEST_F(LabFileTransfer, AFailedCommandFailsTheTransferWithItsCause) {
    const struct {
        const char* Fault;
        const char* Says;
        const char* Never;
    } cases[] = {
        {"fault.12030@2=refuse\n", "abgelehnt: A.12030", "antwortet nicht mehr"},
        {"fault.12010@3=silent\n", "Das Ger\xC3\xA4t antwortet nicht mehr.", "abgelehnt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Fault);
        e2e::Run run = UpdateWith(c.Fault);
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 1) << run.Out;
        EXPECT_TRUE(run.OutHas(c.Says)) << run.Out;
        EXPECT_FALSE(run.OutHas(c.Never)) << run.Out;
        EXPECT_FALSE(run.OutHas("Download erfolgreich")) << run.Out;
        EXPECT_EQ(transcript.find("U.606"), std::string::npos);
    }
}

} // namespace
