#include "InstrumentLine.h"
#include "programmers/Bsl_unit.h"
#include "serial/Delay.h"
#include "tests/support/TiTxtImage.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

namespace bsltest {
namespace {

using programmers::T_BSL430;
using titxt_test::Counting;
using titxt_test::Section;

constexpr unsigned CmdWrite = 0x12;
constexpr unsigned CmdRead = 0x14;
constexpr unsigned CmdLoadPc = 0x1A;
constexpr unsigned CmdChangeBaud = 0x20;
constexpr unsigned CmdSetOffset = 0x21;

const std::string Loader110 = "loader.version=1.10\n";
const std::string Loader140 = "loader.version=1.40\n";
const std::string Loader160 = "loader.version=1.60\n";

// An instrument whose firmware wakes on A.1000 and tells the reset vector
// as its password; loaderLines choose the ROM loader's version and faults.
std::string Profile(const std::string& loaderLines, const std::string& password = "F800",
                    const std::string& line = "baud=4800\nstop_bits=2\n") {
    return "start_mode=1\npcb=1\ndevice=2\nversion=1.23\nserial=3\nloader=msp430-rom\n" + line +
           "password=" + password + "\n" + loaderLines;
}

// count frames from number first on are refused.
std::string Refuse(unsigned first, unsigned count) {
    std::string numbers;
    for (unsigned n = first; n < first + count; ++n) {
        numbers += (numbers.empty() ? "" : ",") + std::to_string(n);
    }
    return "loader.fault.refuse=" + numbers + "\n";
}

// Vectors with the NMI vector 0xE000 at 0xFFFC and the reset vector 0xF800.
std::vector<std::uint8_t> Vectors() {
    std::vector<std::uint8_t> bytes(32, 0xFF);
    bytes[28] = 0x00;
    bytes[29] = 0xE0;
    bytes[30] = 0x00;
    bytes[31] = 0xF8;
    return bytes;
}

std::vector<Section> FirmwareSections() {
    return {{0x1000, Counting(16)}, {0xE000, Counting(600, 7)}, {0xFFE0, Vectors()}};
}

std::string Trace(const std::vector<LoaderFrame>& frames) {
    std::string text;
    for (const LoaderFrame& f : frames) {
        char item[32];
        std::snprintf(item, sizeof item, "%u:%02X@%04X ", f.Number, f.Command, f.Address);
        text += item;
    }
    return text;
}

const LoaderFrame* FirstOf(const std::vector<LoaderFrame>& frames, unsigned command) {
    auto found = std::find_if(frames.begin(), frames.end(),
                              [&](const LoaderFrame& f) { return f.Command == command; });
    return found == frames.end() ? nullptr : &*found;
}

// T_BSL430 on COM1, a pty, with the simulated instrument on its far end.
class BslTransfer : public InstrumentLine {
protected:
    BslTransfer() {
        settings.SyncFirst = true;
        settings.QueryFirst = true;
    }

    bool Run(const std::vector<Section>& sections) {
        folder.Write("FW.TXT", titxt_test::TiTxt(sections));
        return RunFile(folder.File("FW.TXT"));
    }
    bool RunFile(const std::string& path) {
        T_BSL430 bsl({host, com, delay, job}, settings);
        result = bsl.Program(path);
        const bool ok = result.Succeeded();
        errorStep = bsl.ErrorStep();
        version = bsl.BslVersion();
        chipId = bsl.ChipId();
        return ok;
    }

    void ExpectFlashHolds(const SimulatedInstrument& sim, const std::vector<Section>& sections) {
        for (const auto& [address, value] : titxt_test::MemoryOf(sections)) {
            ASSERT_EQ(sim.Flash(address), value) << "at 0x" << std::hex << address;
        }
    }
    // The firmware takes commands only at its own line: 4800 8N2 is back.
    void ExpectTheFirmwareAnswersOnTheSessionLine() {
        EXPECT_TRUE(Answered("A.2000\r\n", "I.20#2"));
    }
    void ExpectTheBootloaderErrorBox() {
        ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
        EXPECT_EQ(host.dialogs.Boxes[0].Text.rfind("Fehler im Bootloader", 0), 0u);
        EXPECT_EQ(host.dialogs.Boxes[0].Caption, "Error");
        EXPECT_EQ(host.dialogs.Boxes[0].Flags & platform::MB_ICONERROR, platform::MB_ICONERROR);
    }
    // The number of the first write frame of a clean run of this profile.
    unsigned FirstWriteFrame(const std::string& profile) {
        Connect(profile);
        EXPECT_TRUE(Run(FirmwareSections()));
        const std::vector<LoaderFrame> frames = Finish().Frames();
        const LoaderFrame* write = FirstOf(frames, CmdWrite);
        host.dialogs.Boxes.clear();
        return write != nullptr ? write->Number : 0;
    }

    programmers::TBslSettings settings;
    programmers::TProgrammerResult result;
    std::int32_t errorStep = -1;
    std::int32_t version = 0;
    std::uint32_t chipId = 0;
};

TEST_F(BslTransfer, Loader140WritesVerifiesAndStartsAt9600) {
    Connect(Profile(Loader140 + "loader.chip_id=F449\n"));
    ASSERT_TRUE(Run(FirmwareSections()));
    EXPECT_EQ(version, 1400);
    EXPECT_EQ(chipId, 0xF449u);
    EXPECT_EQ(job.ResetVector, 0xF800u);
    EXPECT_EQ(job.PasswordKnown, 1);
    EXPECT_TRUE(host.dialogs.Boxes.empty());
    EXPECT_EQ(host.events.HandlerCount(), 1u); // the programmer's handler is gone
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress.back(), (BarCall{BarCall::Op::Position, 0}));
    // The loader's frames, counted from a maximum set before the first.
    EXPECT_EQ(host.StepBeforeMaximum(), "");
    EXPECT_TRUE(host.BarCountsOnly(programmers::ProgressUnit::Blocks));
    ExpectTheFirmwareAnswersOnTheSessionLine();

    SimulatedInstrument& sim = Finish();
    ExpectFlashHolds(sim, FirmwareSections());
    EXPECT_EQ(sim.DeviceLines(), (std::vector<std::string>{"A.1000", "A.5577", "A.5588#QX47"}));
    const std::vector<LoaderFrame> frames = sim.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().Command, CmdLoadPc);
    EXPECT_EQ(frames.back().Address, 0xF800u) << "the reset vector of the image";
    EXPECT_EQ(sim.Instrument().LoaderExits(), 1u);
    EXPECT_EQ(sim.Count(CmdChangeBaud), 0);
    for (const LoaderFrame& f : frames) {
        EXPECT_EQ(f.Baud, 9600u) << Trace(frames);
    }
}

TEST_F(BslTransfer, Loader160MovesTheTransferTo38400UnlessTheJobKeepsTheBaudRate) {
    Connect(Profile(Loader160));
    ASSERT_TRUE(Run(FirmwareSections()));
    EXPECT_EQ(version, 1600);
    EXPECT_NE(std::find(host.baudTexts.begin(), host.baudTexts.end(), "38400"),
              host.baudTexts.end());
    ExpectTheFirmwareAnswersOnTheSessionLine();
    {
        SimulatedInstrument& sim = Finish();
        ExpectFlashHolds(sim, FirmwareSections());
        EXPECT_EQ(sim.Count(CmdChangeBaud), 1);
        bool switched = false;
        for (const LoaderFrame& f : sim.Frames()) {
            EXPECT_EQ(f.Baud, switched ? 38400u : 9600u) << f.Number << ": " << f.Command;
            switched = switched || f.Command == CmdChangeBaud;
        }
    }

    job.KeepBaud[0] = 1;
    Connect(Profile(Loader160));
    ASSERT_TRUE(Run(FirmwareSections()));
    SimulatedInstrument& kept = Finish();
    ExpectFlashHolds(kept, FirmwareSections());
    EXPECT_EQ(kept.Count(CmdChangeBaud), 0);
    for (const LoaderFrame& f : kept.Frames()) {
        EXPECT_EQ(f.Baud, 9600u) << f.Number;
    }
}

TEST_F(BslTransfer, Loader110LoadsItsPatchAndVerifiesThroughIt) {
    folder.Write("Patch.TXT", titxt_test::TiTxt({{0x0220, Counting(0x40, 9)}}));
    Connect(Profile(Loader110));
    ASSERT_TRUE(Run(FirmwareSections())) << errorStep;
    EXPECT_EQ(version, 1100);
    EXPECT_EQ(host.StepBeforeMaximum(), "") << "the patch's frames are counted in the maximum";
    SimulatedInstrument& sim = Finish();
    // Verified reads of the flash come back right only through the patch.
    ExpectFlashHolds(sim, FirmwareSections());
    const std::vector<LoaderFrame> frames = sim.Frames();
    auto restart = std::find_if(frames.begin(), frames.end(), [](const LoaderFrame& f) {
        return f.Command == CmdLoadPc && f.Address == 0x0C22;
    });
    EXPECT_NE(restart, frames.end()) << "the ROM restarts before the patch: " << Trace(frames);
    EXPECT_NE(std::find_if(restart, frames.end(),
                           [](const LoaderFrame& f) {
                               return f.Command == CmdWrite && f.Address == 0x0220;
                           }),
              frames.end())
        << "the patch goes into RAM: " << Trace(frames);
    EXPECT_EQ(sim.Count(CmdChangeBaud), 0);
}

TEST_F(BslTransfer, DataAboveFFFFGoesWithMemoryOffsetAndTheVectorsLast) {
    std::vector<Section> sections = {{0x1000, Counting(16)},
                                     {0xE000, Counting(64)},
                                     {0xFFE0, Vectors()},
                                     {0x10000, Counting(300, 3)}};
    Connect(Profile(Loader160 + "loader.chip_id=F26F\nloader.main_flash=0x1100-0x1FFFF\n"
                                "flash_size=0x1F000\n"));
    ASSERT_TRUE(Run(sections)) << errorStep;
    EXPECT_EQ(chipId, 0xF26Fu);
    SimulatedInstrument& sim = Finish();
    ExpectFlashHolds(sim, sections);
    EXPECT_GE(sim.Count(CmdSetOffset), 2);
    const std::vector<LoaderFrame> frames = sim.Frames();
    auto lastWrite = std::find_if(frames.rbegin(), frames.rend(),
                                  [](const LoaderFrame& f) { return f.Command == CmdWrite; });
    ASSERT_NE(lastWrite, frames.rend());
    EXPECT_GE(lastWrite->Address, 0xFFE0u) << "the vector record is the last one written";
    auto offsetBefore = std::find_if(
        lastWrite, frames.rend(), [](const LoaderFrame& f) { return f.Command == CmdSetOffset; });
    ASSERT_NE(offsetBefore, frames.rend()) << Trace(frames);
    EXPECT_EQ(offsetBefore->Length & 0xFF, 0u) << "offset 0 again before the vectors";
}

TEST_F(BslTransfer, ARefusedStepIsRetriedUpToThreeTimes) {
    const unsigned firstWrite = FirstWriteFrame(Profile(Loader140));
    ASSERT_GT(firstWrite, 0u);
    Connect(Profile(Loader140 + Refuse(firstWrite, 3)));
    ASSERT_TRUE(Run(FirmwareSections())) << errorStep;
    EXPECT_TRUE(host.dialogs.Boxes.empty());
    SimulatedInstrument& sim = Finish();
    ExpectFlashHolds(sim, FirmwareSections());
    const std::vector<LoaderFrame> frames = sim.Frames();
    ASSERT_GT(frames.size(), firstWrite + 3);
    for (unsigned n = firstWrite; n <= firstWrite + 3; ++n) {
        EXPECT_EQ(frames[n - 1].Command, CmdWrite) << Trace(frames);
        EXPECT_EQ(frames[n - 1].Address, frames[firstWrite - 1].Address) << Trace(frames);
    }
}

TEST_F(BslTransfer, AStepRefusedFourTimesEndsWithTheBootloaderErrorBox) {
    const unsigned firstWrite = FirstWriteFrame(Profile(Loader140));
    ASSERT_GT(firstWrite, 0u);
    Connect(Profile(Loader140 + Refuse(firstWrite, 4)));
    EXPECT_FALSE(Run(FirmwareSections()));
    EXPECT_EQ(errorStep, 8);
    EXPECT_EQ(result.Failure.Cause, "BSL step 8: refused, no retry left");
    EXPECT_EQ(result.Failure.Step, "transfer");
    ExpectTheBootloaderErrorBox();
    SimulatedInstrument& sim = Finish();
    const std::vector<LoaderFrame> frames = sim.Frames();
    ASSERT_EQ(frames.size(), firstWrite + 3)
        << "nothing after the fourth refusal: " << Trace(frames);
    for (unsigned n = firstWrite; n <= firstWrite + 3; ++n) {
        EXPECT_EQ(frames[n - 1].Command, CmdWrite) << Trace(frames);
    }
    EXPECT_EQ(sim.Instrument().LoaderExits(), 0u) << "the firmware was never started";
}

TEST_F(BslTransfer, EscapeBeforeTheLoaderReportsTheLoaderAsNotAvailable) {
    Connect(Profile(Loader140));
    host.onLog = [this](const std::string& text) {
        if (text == "A.1000\r\n") {
            host.events.PostKey(protocol::event::KeyEscape);
        }
    };
    EXPECT_FALSE(Run(FirmwareSections()));
    EXPECT_EQ(errorStep, 0);
    EXPECT_EQ(result.Result, programmers::TProgrammerResult::Kind::Aborted);
    EXPECT_EQ(result.Failure.Cause, "aborted by the operator (Escape)");
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_EQ(host.dialogs.Boxes[0].Text.rfind("Bootloader im Zielger", 0), 0u);
    SimulatedInstrument& sim = Finish();
    EXPECT_TRUE(sim.Frames().empty());
    EXPECT_NE(sim.Instrument().State(), sim::InstrumentState::InLoader);
}

TEST_F(BslTransfer, AVerifyDifferenceFailsAtOnceAndNeverStartsTheFirmware) {
    // A bit of the first record's flash turns; the chip reads it back as it holds it.
    Connect(Profile(Loader140 + "loader.fault.flip=0x1003:2\n"));
    EXPECT_FALSE(Run(FirmwareSections()));
    EXPECT_EQ(errorStep, 9);
    EXPECT_EQ(result.Failure.Cause, "BSL step 9: verify: difference at 0x1003");
    EXPECT_EQ(result.Result, programmers::TProgrammerResult::Kind::Failed);
    ExpectTheBootloaderErrorBox();
    SimulatedInstrument& sim = Finish();
    const std::vector<LoaderFrame> frames = sim.Frames();
    const auto flashReads = std::count_if(frames.begin(), frames.end(), [](const LoaderFrame& f) {
        return f.Command == CmdRead && f.Address >= 0x1000;
    });
    EXPECT_EQ(flashReads, 1) << Trace(frames);
    EXPECT_EQ(sim.Count(CmdLoadPc), 0);
    EXPECT_EQ(sim.Instrument().LoaderExits(), 0u);
}

TEST_F(BslTransfer, AFileThatCannotBeUsedFailsBeforeAnythingIsSent) {
    Connect(Profile(Loader140));
    EXPECT_FALSE(RunFile(folder.File("missing.txt")));
    EXPECT_EQ(
        result.Failure.Cause.rfind("firmware file \"" + folder.File("missing.txt") + "\": ", 0), 0u)
        << result.Failure.Cause;
    folder.Write("BAD.TXT", "@E000\r\n12 3G\r\nq\r\n");
    host.language = 1;
    EXPECT_FALSE(RunFile(folder.File("BAD.TXT")));
    EXPECT_NE(result.Failure.Cause.find("line 2"), std::string::npos) << result.Failure.Cause;
    // Without a reset vector there is nowhere to start the firmware.
    folder.Write("NOVECTOR.TXT", "@E000\r\n12 34\r\n@FFFC\r\n00 E0\r\nq\r\n");
    EXPECT_FALSE(RunFile(folder.File("NOVECTOR.TXT")));
    // Two settings files that differ in case only: nobody could tell which
    // vectors the run used.
    folder.Write("bsl430.ini", "ResetVector1=0x4400\r\n");
    folder.Write("BSL430.INI", "ResetVector1=0x1100\r\n");
    EXPECT_FALSE(Run(FirmwareSections()));

    serialtest::Pump(100);
    EXPECT_EQ(Finish().Transcript().find(" rx "), std::string::npos) << "nothing was sent";
    EXPECT_EQ(host.events.HandlerCount(), 1u);
    ASSERT_EQ(host.dialogs.Boxes.size(), 4u);
    EXPECT_NE(host.dialogs.Boxes[0].Text.find("missing.txt"), std::string::npos);
    EXPECT_EQ(host.dialogs.Boxes[0].Caption, "Fehler");
    EXPECT_NE(host.dialogs.Boxes[1].Text.find("BAD.TXT"), std::string::npos);
    EXPECT_NE(host.dialogs.Boxes[1].Text.find("line 2"), std::string::npos);
    EXPECT_EQ(host.dialogs.Boxes[1].Caption, "Error");
    EXPECT_NE(host.dialogs.Boxes[2].Text.find("NOVECTOR.TXT"), std::string::npos);
    EXPECT_NE(host.dialogs.Boxes[2].Text.find("reset vector"), std::string::npos);
    EXPECT_NE(host.dialogs.Boxes[3].Text.find("BSL430.INI, bsl430.ini"), std::string::npos)
        << host.dialogs.Boxes[3].Text;
}

TEST_F(BslTransfer, AResetVectorInARecordOfItsOwnIsWhereTheFirmwareStarts) {
    // As images look when only the reset vector is set: 0xFFFE alone, after
    // a record that ends with other bytes.
    const std::vector<Section> image = {{0xE000, Counting(600, 7)}, {0xFFFE, {0x10, 0xE0}}};
    Connect(Profile(Loader140 + "loader.chip_id=F449\n"));
    ASSERT_TRUE(Run(image));
    SimulatedInstrument& sim = Finish();
    ExpectFlashHolds(sim, image);
    const std::vector<LoaderFrame> frames = sim.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().Command, CmdLoadPc);
    EXPECT_EQ(frames.back().Address, 0xE010u);
}

TEST_F(BslTransfer, WithoutThePasswordQueryTheSettingsFileGivesTheVector) {
    // The instrument's loader takes only its own reset vector as the password.
    settings.QueryFirst = false;
    // Without the query the programmer changes to the loader's line right
    // after the loader entry command, before its reply. A pty shows the
    // instrument the line of the moment it reads, not of the moment the bytes
    // were sent, so here the firmware listens at the loader's 9600 baud, one
    // stop bit (parity is invisible on a pty).
    record.Baudrate = serial::B__9600;
    record.StopBits = serial::S_1;
    com.InitParameter(&record, false);
    const std::string line = "baud=9600\nstop_bits=1\n";
    Connect(Profile(Loader140, "1100", line));
    ASSERT_TRUE(Run(FirmwareSections())) << errorStep;
    EXPECT_NE(std::find_if(host.logLines.begin(), host.logLines.end(),
                           [](const std::string& line) {
                               return line.find("Bsl430.ini not found") != std::string::npos;
                           }),
              host.logLines.end());
    EXPECT_EQ(Finish().DeviceLines(), (std::vector<std::string>{"A.1000", "A.5588#QX47"}));

    folder.Write("Bsl430.ini", "ResetVector1=0x4400\r\n");
    Connect(Profile(Loader140, "4400", line));
    EXPECT_TRUE(Run(FirmwareSections())) << errorStep;
}

TEST_F(BslTransfer, LoaderModeGoesStraightToTheLoaderWithTheJobsPassword) {
    settings.LoaderMode = true;
    settings.Set9600After = true;
    job.PasswordKnown = 1;
    job.ResetVector = 0xF800;
    Connect(Profile(Loader160 + "start=loader\n"));
    ASSERT_TRUE(Run(FirmwareSections())) << errorStep;
    EXPECT_EQ(host.baudTexts.back(), "9600");
    EXPECT_EQ(com.GetV24Parameter()->Baudrate, serial::B__9600);
    EXPECT_EQ(com.GetV24Parameter()->StopBits, serial::S_2);
    SimulatedInstrument& sim = Finish();
    ExpectFlashHolds(sim, FirmwareSections());
    EXPECT_EQ(sim.Transcript().find(" rx A."), std::string::npos) << "no device command";
    EXPECT_EQ(sim.Instrument().LoaderExits(), 1u);
}

} // namespace
} // namespace bsltest
