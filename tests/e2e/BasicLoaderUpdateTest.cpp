#include "Harness.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tuple>
#include <utility>

namespace {

using testing_support::TempFolder;

// A meter whose firmware is current but whose Basic-Loader file is newer:
// the session goes from the bootloader-file command straight to the loader.
std::string MeterProfile(const std::string& loaderLines = "") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=2.00,2.05\nserial=12345678\nloader=basic-loader\nloader_entry=2005\n"
           "loader.start_delay_ms=300\n" +
           loaderLines;
}

std::string Record(char type, const std::string& addressAndData) {
    unsigned sum = static_cast<unsigned>(addressAndData.size() / 2 + 1);
    for (std::size_t i = 0; i < addressAndData.size(); i += 2) {
        sum += static_cast<unsigned>(std::stoul(addressAndData.substr(i, 2), nullptr, 16));
    }
    char head[8];
    std::snprintf(head, sizeof head, "S%c%02X", type,
                  static_cast<unsigned>(addressAndData.size() / 2 + 1));
    char check[4];
    std::snprintf(check, sizeof check, "%02X", ~sum & 0xFFu);
    return head + addressAndData + check + "\r\n";
}

std::string Hex(const std::string& text) {
    std::string hex;
    for (unsigned char c : text) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", c);
        hex += pair;
    }
    return hex;
}

// A header record naming the file, records of 32 bytes each, and near the
// end (where the tool looks for it) version 2.10 behind the marker S1094000.
std::string SRecordFile(unsigned records, const std::string& header = "L3_TERM") {
    std::string file = Record('0', "0000" + Hex(header));
    for (unsigned r = 0; r < records; ++r) {
        char address[8];
        std::snprintf(address, sizeof address, "%04X", (0x4100 + r * 32) & 0xFFFF);
        std::string data = address;
        for (unsigned i = 0; i < 32; ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%02X", (r * 7 + i * 13) & 0xFF);
            data += byte;
        }
        file += Record('1', data);
    }
    return file +
           Record('1', "4000"
                       "322E31300000") +
           Record('9', "4000");
}

class BasicLoaderUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
        // A class-0 program file, and the loader file with its version marker.
        ASSERT_EQ(
            e2e::EditDeviceIni(folder, {{"ProgFile2=DM10_V200.TXT", "ProgFile2=DM10_V200.MOT"},
                                        {"ProgFile3=", "ProgFile3=L3_TERML.A37"},
                                        {"SWKenn3=", "SWKenn3=S1094000"}}),
            "");
        std::filesystem::rename(folder.File("prog/DM10_V200.TXT"),
                                folder.File("prog/DM10_V200.MOT"));
        WriteLoaderFile(SRecordFile(300));
    }
    // Instrument 41219, whose entry names another loader file than the one
    // the tool takes for it; no loader file in the folder.
    void MakeInstrument41219() {
        ASSERT_EQ(e2e::EditDeviceIni(folder, {{"DeviceNrDef=43110", "DeviceNrDef=41219"},
                                              {"DeviceNr=43110", "DeviceNr=41219"},
                                              {"ProgFile3=L3_TERML.A37", "ProgFile3=ANY.A37"}}),
                  "");
        std::filesystem::remove(folder.File("prog/L3_TERML.A37"));
    }
    static std::string Profile41219(char memoryVariant) {
        return std::string("start_mode=0\nbaud=4800\nstop_bits=2\npcb=41219.201\n"
                           "device=41219.000\nversion=2.00,2.05\nserial=12345678\n"
                           "loader=basic-loader\nloader_entry=2005\n"
                           "loader.start_delay_ms=300\nmemory_variant=") +
               memoryVariant + "\n";
    }
    void WriteLoaderFile(const std::string& text) {
        loaderFile = text;
        folder.Write("prog/L3_TERML.A37", text);
    }
    e2e::Run Update(const std::string& profile) {
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE);
        instrument.Stop();
        kept = instrument.Received("basic-loader.srec").value_or("");
        transcript = instrument.Transcript();
        return run;
    }

    TempFolder folder;
    std::string loaderFile;
    std::string kept;
    std::string transcript;
};

TEST_F(BasicLoaderUpdate, TheLoaderFileArrivesIntactAndTheSessionEndsAsASuccess) {
    e2e::Run run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
    EXPECT_TRUE(run.OutHas("Programm erfolgreich \xC3\xBC"
                           "berspielt !"))
        << run.Out;
    EXPECT_TRUE(run.OutHas("\a")) << "one audible signal";
    EXPECT_EQ(kept, loaderFile);
    EXPECT_NE(transcript.find("programmed"), std::string::npos);
    // The loader's bar counts the bytes sent, up to the whole file.
    const std::string size = std::to_string(loaderFile.size());
    EXPECT_TRUE(run.ErrHas("progress: 100 % (" + size + "/" + size + " bytes)\n")) << run.Err;
    EXPECT_FALSE(run.ErrHas(" blocks)")) << run.Err;
}

// Instruments 41218 to 41221 always take their loader file from the L file,
// whatever ProgFile3 names, and report their memory variant before the
// loader starts: '0' gets the H file. The folder holds both files under
// other cases than the tool names them.
TEST_F(BasicLoaderUpdate, TheMemoryVariantChoosesTheLoaderFileOfInstrument41219) {
    MakeInstrument41219();
    for (const auto& [variant, onDisk, arrives] :
         {std::tuple{'0', std::pair{"l3_TermL.a37", "l3_termh.a37"}, "L3_TERMH"},
          std::tuple{'A', std::pair{"L3_TERML.A37", "L3_TERMH.A37"}, "L3_TERML"}}) {
        SCOPED_TRACE(variant);
        folder.Write(std::string("prog/") + onDisk.first, SRecordFile(300, "L3_TERML"));
        folder.Write(std::string("prog/") + onDisk.second, SRecordFile(300, "L3_TERMH"));
        e2e::Instrument instrument(folder, Profile41219(variant), folder.File("ports/COM1"));
        e2e::Run run = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--trace"});
        instrument.Stop();
        transcript = instrument.Transcript();
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0) << run.Out << transcript;
        EXPECT_NE(transcript.find(std::string("basic-loader: header ") + arrives),
                  std::string::npos)
            << transcript;
        EXPECT_NE(e2e::ReceivedText(transcript).find("A.1220\\r\\n"), std::string::npos);
        EXPECT_TRUE(run.ErrHas(std::string("UpdateStatusBar.Panels[4] = ") + arrives[7] + "  "))
            << "the title tag follows the variant";
        for (const char* file : {onDisk.first, onDisk.second}) {
            std::filesystem::remove(folder.File(std::string("prog/") + file));
        }
    }
}

// The loader erases the flash once the tool has taken the variant: without
// the variant's file the check fails before, and the instrument keeps its
// firmware. Without the L file the check fails at once; without the H file
// when the instrument names variant '0'.
TEST_F(BasicLoaderUpdate, AMissingLoaderFileOfInstrument41219FailsTheCheckBeforeTheLoaderStarts) {
    MakeInstrument41219();
    for (const auto& [variant, missing] :
         {std::pair{'A', "l3_terml.a37\":"}, std::pair{'0', "L3_TermH.A37\":"}}) {
        SCOPED_TRACE(variant);
        if (variant == '0') {
            folder.Write("prog/L3_TERML.A37", SRecordFile(30, "L3_TERML"));
        }
        e2e::Instrument instrument(folder, Profile41219(variant), folder.File("ports/COM1"));
        e2e::Run run =
            e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--report", folder.File("report.json")});
        instrument.Stop();
        transcript = instrument.Transcript();
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 1) << run.Out;
        EXPECT_TRUE(run.OutHas(missing)) << run.Out;
        EXPECT_EQ(e2e::Count(run.Out, "[Fehler]"), 1u) << "one box\n" << run.Out;
        const nlohmann::json report =
            nlohmann::json::parse(e2e::ReadFile(folder.File("report.json")), nullptr, false);
        EXPECT_EQ(report["outcome"], "failed") << report.dump();
        EXPECT_EQ(report["failed_step"], "check");
        EXPECT_EQ(e2e::ReceivedText(transcript).find("A.1220"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("loader basic-loader"), std::string::npos) << "flash untouched";
    }
}

TEST_F(BasicLoaderUpdate, ADefectiveRecordEndsWithTheErrorAndAbortTexts) {
    std::string file = SRecordFile(300);
    const std::size_t record = file.find("S1", file.size() / 2);
    file[record + 10] = file[record + 10] == '0' ? '1' : '0'; // checksum no longer fits
    WriteLoaderFile(file);
    e2e::Run run = Update(MeterProfile());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("Fehler in der Daten\xC3\xBC"
                           "bertragung !!"))
        << run.Out;
    EXPECT_TRUE(run.OutHas("Programmierung abgebrochen !")) << run.Out;
    EXPECT_FALSE(run.OutHas("erfolgreich"));
}

TEST_F(BasicLoaderUpdate, ALoaderThatFallsSilentEndsTheSessionAsFailed) {
    e2e::Run run = Update(MeterProfile("loader.fault.abort=40\n"));
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("Programmierung abgebrochen !")) << run.Out;
    EXPECT_FALSE(run.OutHas("erfolgreich"));
}

TEST_F(BasicLoaderUpdate, ClosingTheProgramDuringTheTransferSendsNothingMore) {
    // Far more than a pty holds (up to 640 KB): the tool is still sending
    // when it closes.
    WriteLoaderFile(SRecordFile(12000));
    folder.Write("prog/Update.ini", "Language=0\r\nDebugInfo=YES\r\n"); // started by --start
    e2e::Instrument instrument(folder, MeterProfile("loader.fault.hold=20\n"),
                               folder.File("ports/COM1"));
    e2e::ConsoleSession session(folder, {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10", "--start",
                                         "--report", folder.File("report.json")});
    ASSERT_TRUE(session.Started());
    ASSERT_TRUE(session.WaitForOutput("wird programmiert")) << session.Out();
    // A pty does not tell when bytes were written: what the instrument reads
    // only after the tool gave its line back would be judged at the line given
    // back. Quit once the instrument holds the line, as an operator sees the
    // transfer stall.
    ASSERT_TRUE(instrument.WaitForTranscript("line held after record 20"))
        << instrument.Transcript();
    ASSERT_TRUE(session.Type("quit"));
    e2e::Run run = session.Finish();
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    // The quit ended the transfer, not the loader's own stall handling.
    const nlohmann::json report =
        nlohmann::json::parse(e2e::ReadFile(folder.File("report.json")), nullptr, false);
    EXPECT_EQ(report["outcome"], "aborted") << report.dump();
    EXPECT_EQ(report["failed_step"], "transfer") << report.dump();
    // Everything the line still held reaches the instrument when it stops.
    instrument.Stop();
    const std::string transcript = instrument.Transcript();
    EXPECT_EQ(transcript.find("garbled"), std::string::npos) << transcript;
    kept = instrument.Received("basic-loader.srec").value_or("");
    EXPECT_GE(e2e::Count(kept, "\n"), 20u) << "the header and the records before the hold";
    EXPECT_LT(kept.size(), loaderFile.size());
    EXPECT_EQ(loaderFile.compare(0, kept.size(), kept), 0) << "what arrived is the file's start";
}

} // namespace
