#include "InstrumentLine.h"
#include "programmers/LabFileTransfer.h"
#include "programmers/Wince_unit.h"

#include <gtest/gtest.h>

namespace bsltest {
namespace {

using programmers::MakeBlockFrame;
using programmers::TBlockFrame;

std::string Frame(std::string_view data) {
    return MakeBlockFrame(data, 0).Bytes;
}

// Single bytes whose CRC-8 (0x1D, start 0xFF, no final XOR) is a value the
// check character must not be; worked out apart from the code under test.
TEST(BlockFrame, TheCheckCharacterAvoidsZeroAndTheFramingCharacters) {
    EXPECT_EQ(Frame("\xFF"), std::string("D.1,\x01#\xFF")); // CRC 0x00
    EXPECT_EQ(Frame("\xCA"), std::string("D.1,$#\xCA"));    // CRC 0x23 '#'
    EXPECT_EQ(Frame("\x08"), std::string("D.1,-#\x08"));    // CRC 0x2C ','
    EXPECT_EQ(Frame("\x8E"), std::string("D.1,E#\x8E"));    // CRC 0x44 'D'
    EXPECT_EQ(Frame("\x0D"), std::string("D.1,E#\x0D"));    // CRC 0x45 stays
    EXPECT_EQ(Frame("123456789"), std::string("D.9,\xB4#123456789"));
}

TEST(BlockFrame, AnEmptyFileIsOneEmptyBlockWithCheckCharacterFF) {
    const TBlockFrame frame = MakeBlockFrame("", 0);
    EXPECT_EQ(frame.Bytes, std::string("D.0,\xFF#"));
    EXPECT_EQ(frame.Length, 0u);
    EXPECT_TRUE(frame.Last);
}

TEST(BlockFrame, AFileOf4000BytesIsTwoFullBlocksTheSecondEndingIt) {
    std::string file(4000, '\0');
    for (std::size_t i = 0; i < file.size(); ++i) {
        file[i] = static_cast<char>(i % 251);
    }
    const TBlockFrame first = MakeBlockFrame(file, 0);
    const TBlockFrame second = MakeBlockFrame(file, first.Length);
    EXPECT_EQ(first.Length, 2000u);
    EXPECT_FALSE(first.Last);
    EXPECT_EQ(first.Bytes, "D.2000,\xB0#" + file.substr(0, 2000));
    EXPECT_EQ(second.Length, 2000u);
    EXPECT_TRUE(second.Last);
    EXPECT_EQ(second.Bytes, "D.2000,\xE3#" + file.substr(2000));
}

// The file transfers on COM1, a pty, with the simulated instrument awake on
// its far end.
class FileTransferRun : public InstrumentLine {
protected:
    void SetUp() override {
        // The loader acknowledges a new speed at that speed, after the 2 s
        // the tool waits before it follows.
        Connect("start_mode=1\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\nversion=1.00\nserial=3\n"
                "loader=file-loader\nloader.switch_ack_ms=4000\n");
        com.Write("A.1000\r\n", 8, false);
        serialtest::Pump(100);
        folder.Write("FIRST.DAT", std::string(3000, 'x'));
    }
    // Failed cleanly: handler and watchdog gone, the port back at 4800, and
    // the box names the file.
    void ExpectFailedCleanlyNaming(const std::string& file) {
        EXPECT_EQ(host.events.HandlerCount(), 1u);
        for (int slot = 1; slot <= host.pool.Count(); ++slot) {
            EXPECT_FALSE(host.pool.InUse(slot)) << "slot " << slot;
        }
        EXPECT_EQ(com.GetV24Parameter()->Baudrate, serial::B__4800);
        ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
        EXPECT_NE(host.dialogs.Boxes[0].Text.find(file), std::string::npos);
    }
};

// Blocks of 2000 bytes: 4001 bytes are three, and the acknowledges of the
// commands around them are not steps.
TEST_F(FileTransferRun, ABlockTransfersBarNeverPassesItsMaximum) {
    folder.Write("NEXT.DAT", std::string(4001, 'z'));
    job.ProgFiles = {"NEXT.DAT"};
    programmers::TWinCEProg transfer({host, com, delay, job});
    EXPECT_TRUE(transfer.Program("FIRST.DAT").Succeeded());
    EXPECT_EQ(host.BarOverrun(), "");
}

// Every key but OK goes on to the session while files are sent (here an
// Escape waiting in the queue), and the title is the session's.
TEST_F(FileTransferRun, ALabTransferPassesEscapeOnAndLeavesTheTitleAlone) {
    folder.Write("B256.DAT", std::string(256, 'y'));
    job.ProgFiles = {"FIRST.DAT", "B256.DAT"};
    host.events.PostKey(protocol::event::KeyEscape);
    programmers::TLabFileTransfer transfer({host, com, delay, job});
    EXPECT_TRUE(transfer.Program("FIRST.DAT").Succeeded());
    EXPECT_EQ(host.BarOverrun(), "");
    for (const BarCall& call : host.progress) {
        EXPECT_NE(call.op, BarCall::Op::Advance) << "an advance moves the title";
    }
    EXPECT_TRUE(host.titleStates.empty());
    EXPECT_TRUE(host.titles.empty());
}

TEST_F(FileTransferRun, ABlockTransferStopsCleanlyAtAFurtherFileThatCannotBeRead) {
    job.ProgFiles = {"MISSING.BIN", "NEVER.BIN"};
    programmers::TWinCEProg transfer({host, com, delay, job});
    EXPECT_FALSE(transfer.Program("FIRST.DAT").Succeeded());
    ExpectFailedCleanlyNaming("MISSING.BIN");
    instrument->Stop();
    ASSERT_EQ(instrument->Instrument().LabFiles().size(), 1u);
    EXPECT_EQ(instrument->Instrument().LabFiles()[0].data, std::string(3000, 'x'));
}

TEST_F(FileTransferRun, ALabTransferStopsCleanlyAtAListedFileThatCannotBeRead) {
    job.ProgFiles = {"FIRST.DAT", "MISSING.DAT", "NEVER.DAT"};
    programmers::TLabFileTransfer transfer({host, com, delay, job});
    EXPECT_FALSE(transfer.Program("FIRST.DAT").Succeeded());
    ExpectFailedCleanlyNaming("MISSING.DAT");
    instrument->Stop();
    EXPECT_EQ(instrument->Transcript().find("missing"), std::string::npos);
}

} // namespace
} // namespace bsltest
