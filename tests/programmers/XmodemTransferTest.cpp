#include "InstrumentLine.h"
#include "programmers/Emf_loadunit.h"
#include "tests/support/TiTxtImage.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace bsltest {
namespace {

// T_EMFLoader on COM1, a pty, against the simulated bootloader instrument.
class XmodemTransfer : public InstrumentLine {
protected:
    void Connect(const std::string& loaderLines) {
        InstrumentLine::Connect(
            "start_mode=1\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\nversion=1.23\nserial=3\n"
            "loader=xmodem\nflash_start=0\nflash_size=0x1000\n" +
            loaderLines);
    }
    bool Run(const programmers::TXmodemSettings& settings, std::size_t size = 700) {
        file = titxt_test::Pattern(size, 3);
        folder.Write("FW.BIN", std::string(file.begin(), file.end()));
        loader = std::make_unique<programmers::T_EMFLoader>(
            programmers::TProgrammerContext{host, com, delay, job}, settings);
        result = loader->Program(folder.File("FW.BIN"));
        const bool ok = result.Succeeded();
        instrument->Stop();
        return ok;
    }
    void ExpectTheImageInFlash() {
        for (std::size_t i = 0; i < file.size(); ++i) {
            ASSERT_EQ(instrument->Flash(static_cast<std::uint32_t>(i)), file[i]) << i;
        }
    }
    std::size_t Count(const std::string& text, const std::string& what) const {
        std::size_t count = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++count;
        }
        return count;
    }
    void ExpectTheSessionLineBack() {
        EXPECT_EQ(com.GetV24Parameter()->Baudrate, serial::B__4800);
        EXPECT_EQ(com.GetV24Parameter()->StopBits, serial::S_2);
    }

    std::vector<std::uint8_t> file;
    std::unique_ptr<programmers::T_EMFLoader> loader;
    programmers::TProgrammerResult result;
};

TEST_F(XmodemTransfer, AlternateEntryTakesTheSecondStageAt9600) {
    Connect("loader.version=1.06,B\n");
    ASSERT_TRUE(Run({.Mode = 1, .AlternateEntry = true}));
    EXPECT_TRUE(host.dialogs.Boxes.empty());
    // The loader's frames, counted from a maximum set before the first.
    EXPECT_EQ(host.StepBeforeMaximum(), "");
    EXPECT_TRUE(host.BarCountsOnly(programmers::ProgressUnit::Blocks));
    EXPECT_EQ(host.events.HandlerCount(), 1u);
    ExpectTheSessionLineBack();
    EXPECT_EQ(instrument->DeviceLines(), (std::vector<std::string>{"A.1000", "A.1256#7"}));
    EXPECT_NE(instrument->Received().find("A.1250#3\r\n"), std::string::npos);
    EXPECT_NE(instrument->Transcript().find("bootloader at 115200 baud"), std::string::npos);
    ExpectTheImageInFlash();
    EXPECT_EQ(instrument->Instrument().LoaderExits(), 1u);
    // The version shown beside the software version is cut at its comma.
    EXPECT_EQ(host.loaderVersions, (std::vector<std::string>{"1.06"}));
    EXPECT_TRUE(loader->UnlockNeeded());
}

TEST_F(XmodemTransfer, KeptBaudRunsTheBootloaderAt9600And9600TwoStopBitsAfterForFamily2) {
    Connect("loader.version=1.05\n");
    job.KeepBaud[0] = 1;
    ASSERT_TRUE(Run({.Mode = 0, .DeviceFamily = 2}));
    EXPECT_EQ(instrument->DeviceLines(), (std::vector<std::string>{"A.1000", "A.1250#3"}));
    // The wake's "A.1000!" is an "A." reply too: it must not start the bootloader.
    EXPECT_EQ(Count(instrument->Received(), "A.2051"), 1u) << instrument->Received();
    EXPECT_NE(instrument->Transcript().find("bootloader at 9600 baud"), std::string::npos);
    EXPECT_EQ(com.GetV24Parameter()->Baudrate, serial::B__9600);
    EXPECT_EQ(com.GetV24Parameter()->StopBits, serial::S_2);
    EXPECT_FALSE(loader->UnlockNeeded());
}

TEST_F(XmodemTransfer, ACCrossingPacket1EndsInACleanTransfer) {
    // The receiver's repeat of 'C' leaves as packet 1 arrives: its ACK
    // answers packet 1, which must not go out a second time. At 9600 baud
    // the ACK follows the 'C' by the packet's 152 ms on the line and the
    // block's write. In real time the tool's 652 ms round trip leaves the
    // instrument half a second to spare on a loaded machine.
    AtRealTime();
    Connect("loader.version=1.05\nloader.fault.crossing_c=yes\n");
    job.KeepBaud[0] = 1;
    ASSERT_TRUE(Run({}));
    const std::string transcript = instrument->Transcript();
    EXPECT_NE(transcript.find("fault: 'C' crossing packet 1"), std::string::npos);
    EXPECT_EQ(Count(transcript, " block 1"), 1u) << "packet 1 went out once\n" << transcript;
    EXPECT_NE(transcript.find("trailer: length and CRC fit"), std::string::npos);
    ExpectTheImageInFlash();
    EXPECT_EQ(instrument->Instrument().LoaderExits(), 1u);
}

TEST_F(XmodemTransfer, UnansweredCrossingCRepeatsPacket1AfterTheRoundTripAtTheLinesSpeed) {
    // At 9600 baud packet 1 is 152 ms on the line: the round trip is 652 ms,
    // 65 ms at the test's time divisor; 500 ms alone would be 50. A lower
    // bound only: load can delay the resend, never hasten it (so under load
    // a wrong 50 ms could pass; it cannot fail a right one).
    Connect("loader.version=1.05\nloader.fault.crossing_c=yes\nloader.fault.silent=1\n");
    job.KeepBaud[0] = 1;
    EXPECT_FALSE(Run({}));
    const std::string transcript = instrument->Transcript();
    const auto timeOf = [&](std::size_t at) {
        const std::size_t line = transcript.rfind('\n', at);
        return std::stod(transcript.substr(line == std::string::npos ? 0 : line + 1));
    };
    const std::size_t crossing = transcript.find("fault: 'C' crossing packet 1");
    ASSERT_NE(crossing, std::string::npos) << transcript;
    const std::size_t c = transcript.find(" tx C\n", crossing);
    const std::string packet1 = " rx \\x01\\x01\\xFE";
    const std::size_t again = transcript.find(packet1, transcript.find(packet1) + 1);
    ASSERT_NE(c, std::string::npos) << transcript;
    ASSERT_NE(again, std::string::npos) << "packet 1 went out again\n" << transcript;
    EXPECT_GE(timeOf(again) - timeOf(c), 0.060) << transcript;
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_EQ(host.dialogs.Boxes[0].Text, "stalled, packet 1");
}

TEST_F(XmodemTransfer, SilentBootloaderFailsWithTheErrorBoxAndTheLineBack) {
    Connect("loader.version=1.05\nloader.fault.silent=2\n");
    EXPECT_FALSE(Run({.Mode = 0, .DeviceFamily = 2}));
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_EQ(host.dialogs.Boxes[0].Caption, "Error");
    EXPECT_EQ(host.dialogs.Boxes[0].Text, "stalled, packet 2") << "the box says what failed";
    ExpectTheSessionLineBack();
    EXPECT_EQ(instrument->Instrument().LoaderExits(), 0u);
}

TEST_F(XmodemTransfer, AfterACutOffUploadTheRetryGoesStraightToTheWaitingBootloader) {
    // Ten refusals of packet 3 end the upload; CAN tells the receiver.
    Connect("loader.version=1.05\nline.fault=refuse\nline.fault.at=300\nline.fault.count=10\n");
    file = titxt_test::Pattern(700, 3);
    folder.Write("FW.BIN", std::string(file.begin(), file.end()));
    const programmers::TProgrammerContext context{host, com, delay, job};
    programmers::T_EMFLoader first(context, {});
    const programmers::TProgrammerResult failed = first.Program(folder.File("FW.BIN"));
    ASSERT_FALSE(failed.Succeeded());
    EXPECT_EQ(failed.Failure.Cause, "XMODEM: the receiver refused the packet at packet 3");
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_EQ(host.dialogs.Boxes[0].Text, "refused, packet 3");
    EXPECT_EQ(job.LoaderMode, 1u) << "'u' has erased the firmware";

    // The same instrument, still in its bootloader: no wake, no entry.
    programmers::T_EMFLoader retry(context, {});
    ASSERT_TRUE(retry.Program(folder.File("FW.BIN")).Succeeded());
    Finish();
    EXPECT_NE(instrument->Transcript().find("upload cancelled by the sender"), std::string::npos);
    EXPECT_EQ(Count(instrument->Received(), "A.1000"), 1u);
    EXPECT_EQ(Count(instrument->Received(), "A.1250#"), 1u);
    EXPECT_EQ(Count(instrument->Received(), "A.2051"), 2u);
    ExpectTheImageInFlash();
    EXPECT_EQ(job.LoaderMode, 0u);
    EXPECT_EQ(instrument->Instrument().LoaderExits(), 1u);
}

TEST_F(XmodemTransfer, UnreadableFileIsRefusedBeforeAnythingIsSent) {
    Connect("loader.version=1.05\n");
    programmers::T_EMFLoader loader({host, com, delay, job}, {});
    EXPECT_FALSE(loader.Program(folder.File("MISSING.BIN")).Succeeded());
    instrument->Stop();
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_NE(host.dialogs.Boxes[0].Text.find("MISSING.BIN"), std::string::npos);
    EXPECT_TRUE(instrument->DeviceLines().empty());
}

} // namespace
} // namespace bsltest
