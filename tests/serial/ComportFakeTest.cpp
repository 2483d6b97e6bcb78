#include "FakeSerialDevice.h"
#include "SerialTestSupport.h"
#include "serial/Comport.h"

#include <cerrno>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace serialtest {
namespace {

using namespace serial;

// TComPort over a fake line: line errors, modem lines and short writes,
// which a pty cannot show.
class ComportFake : public ::testing::Test {
protected:
    ComportFake() {
        // Any file will do: the fake device does not open it.
        std::ofstream(ports.Path() + "/com1-target").put('\n');
        ports.Link(0, ports.Path() + "/com1-target");
        record.TXTimeOut = 10000;
        com.InitParameter(&record, false);
    }

    void OpenCom1() { ASSERT_NE(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE); }
    // How FailureText begins for this port.
    std::string Com1() const { return "COM1 (" + ports.Path() + "/COM1): "; }
    std::vector<std::string> History() const {
        std::lock_guard lock(line->mutex);
        return line->history;
    }
    void ForgetHistory() {
        std::lock_guard lock(line->mutex);
        line->history.clear();
    }

    PortDirectory ports;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    MessageLog window;
    V24ParameterTag record;
    TComPort com{nullptr, "Com",
                 [line = line] { return std::make_unique<FakeSerialDevice>(line); }};
};

TEST_F(ComportFake, LineErrorsBecomeMessagesAndABreakIsClearedQuietly) {
    OpenCom1();
    line->RaiseError(platform::CE_FRAME);
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_FRAME_ERROR) == 1; }, 3000));
    line->RaiseError(0);
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_FRAME_ERROR) == 2; }, 3000));
    line->RaiseError(platform::CE_OVERRUN | platform::CE_RXPARITY);
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_PARITY_ERROR) == 1; }, 3000));
    line->RaiseError(platform::CE_BREAK);
    ASSERT_TRUE(PumpUntil(
        [&] {
            std::lock_guard lock(line->mutex);
            return line->clearBreaks == 1;
        },
        3000));
    Pump(100);
    com.Close();

    std::vector<std::uint32_t> order;
    for (const platform::Message& message : window.messages) {
        order.push_back(message.Msg);
        EXPECT_EQ(message.WParam, 1u);
    }
    EXPECT_EQ(order, (std::vector<std::uint32_t>{V24_MSG_FRAME_ERROR, V24_MSG_FRAME_ERROR,
                                                 V24_MSG_OVERRUN, V24_MSG_PARITY_ERROR}));
}

TEST_F(ComportFake, OpenRaisesRtsAndDropsDtrAndHandshakeFollowsTheRule) {
    OpenCom1();
    {
        std::lock_guard lock(line->mutex);
        EXPECT_TRUE(line->rts);
        EXPECT_FALSE(line->dtr);
        EXPECT_EQ(line->dcb.XonChar, 0x11);
        EXPECT_EQ(line->dcb.XoffChar, 0x13);
        EXPECT_FALSE(line->dcb.fOutX);
    }
    ASSERT_TRUE(com.ChangeHandShake(RTS_CTS));
    DCB dcb = com.LoadV24Parameter();
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    EXPECT_EQ(dcb.fRtsControl, platform::RTS_CONTROL_HANDSHAKE);
    ASSERT_TRUE(com.ChangeHandShake(XonXoff));
    dcb = com.LoadV24Parameter();
    EXPECT_TRUE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_EQ(dcb.fRtsControl, platform::RTS_CONTROL_ENABLE);
    std::lock_guard lock(line->mutex);
    EXPECT_TRUE(line->rts);
}

TEST_F(ComportFake, SecondAsyncWriteWhileTheFirstIsOnItsWayIsRefused) {
    OpenCom1();
    line->holdWrites = true;
    ASSERT_EQ(com.Write("first", -1, true), 5);
    ASSERT_TRUE(line->WaitForHeldWrite(3000));
    EXPECT_EQ(com.Write("second", -1, true), V24_TX_BUSY);
    line->ReleaseWrites();
    ASSERT_TRUE(PumpUntil([&] { return com.Write("third", 5, true) == 5; }, 3000));
    com.Close(); // finishes the job in progress first
    EXPECT_EQ(line->output, "firstthird");
}

TEST_F(ComportFake, ShortWriteIsReportedUntilAcknowledged) {
    OpenCom1();
    line->writeLimit = 2;
    ASSERT_EQ(com.Write("abcd", 4, true), 4);
    ASSERT_TRUE(PumpUntil([&] { return com.Write("x", 1, true) == V24_SHORT_WRITE; }, 3000));
    EXPECT_EQ(com.Write("x", 1, false), V24_SHORT_WRITE);
    com.GetWriteStatus();
    line->writeLimit = SIZE_MAX;
    EXPECT_EQ(com.Write("xyz", 3, false), 3);
    line->writeLimit = 1;
    EXPECT_EQ(com.Write("xyz", 3, false), V24_SHORT_WRITE);
    EXPECT_EQ(com.Write("xyz", 3, false), V24_SHORT_WRITE);
}

TEST_F(ComportFake, RefusedSpeedLeavesPortAndRecordAlone) {
    OpenCom1();
    line->refusedBauds.insert(256000);
    DCB before = com.LoadV24Parameter();
    V24ParameterTag recordBefore = *com.GetV24Parameter();
    EXPECT_FALSE(com.ChangeV24Parameter(B256000, S_2, Odd, true));
    EXPECT_FALSE(com.ChangeBaudrate(B256000));
    EXPECT_EQ(com.LastResult(), platform::SerialResult::NotSupported);
    EXPECT_EQ(com.LoadV24Parameter(), before);
    EXPECT_EQ(*com.GetV24Parameter(), recordBefore);
}

TEST_F(ComportFake, ALineChangeWaitsForTheBlockOnItsWayAndDrainsBeforeItApplies) {
    OpenCom1();
    line->holdWrites = true;
    ASSERT_EQ(com.Write("A.5588\r\n", 8, true), 8);
    ASSERT_TRUE(line->WaitForHeldWrite(3000));
    ForgetHistory();
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        line->ReleaseWrites();
    });
    const bool changed = com.ChangeV24Parameter(B__9600, S_1, Even, false);
    release.join();
    EXPECT_TRUE(changed);
    EXPECT_EQ(History(), (std::vector<std::string>{"wrote A.5588\r\n", "drained", "set 9600"}));
}

TEST_F(ComportFake, EveryChangeOfLineSettingsDrainsFirst) {
    OpenCom1();
    com.SaveLastV24Parameter();
    ForgetHistory();
    ASSERT_TRUE(com.ChangeBaudrate(B__9600));
    ASSERT_TRUE(com.ChangeHandShake(RTS_CTS));
    ASSERT_TRUE(com.ChangeV24Parameter(B_38400, S_1, Even, false));
    const DCB now = com.LoadV24Parameter();
    ASSERT_TRUE(com.SaveV24Parameter(&now));
    com.LoadLastV24Parameter();
    com.Close();
    const std::vector<std::string> drainedThenSet = {"drained", "set 9600",  "drained", "set 9600",
                                                     "drained", "set 38400", "drained", "set 38400",
                                                     "drained", "set 4800",  "drained", "set 0"};
    EXPECT_EQ(History(), drainedThenSet) << "Close gives back the fake's first, empty state";
}

TEST_F(ComportFake, OutputThatDoesNotLeaveRefusesTheChangeButNotTheGivingBack) {
    OpenCom1();
    com.SaveLastV24Parameter();
    ASSERT_TRUE(com.ChangeBaudrate(B__9600));
    const DCB before = com.LoadV24Parameter();
    line->drainResult = platform::SerialResult::TimedOut;
    EXPECT_FALSE(com.ChangeBaudrate(B_38400));
    EXPECT_EQ(com.LastResult(), platform::SerialResult::TimedOut);
    EXPECT_EQ(com.LoadV24Parameter(), before);
    EXPECT_EQ(com.FailureText(), Com1() + "line change: output not drained: timed out");
    com.LoadLastV24Parameter();
    EXPECT_EQ(com.LoadV24Parameter().BaudRate, 4800u);
}

TEST_F(ComportFake, ABlockThatNeverLeavesTheTransmitThreadEndsTheChangeWithinItsBound) {
    OpenCom1();
    ASSERT_TRUE(com.ChangeV24TimeOut(-1, 200, -1, 0));
    line->holdWrites = true;
    ASSERT_EQ(com.Write("abc", 3, true), 3);
    ASSERT_TRUE(line->WaitForHeldWrite(3000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(com.ChangeBaudrate(B__9600));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(com.LastResult(), platform::SerialResult::TimedOut);
    EXPECT_EQ(com.FailureText(),
              Com1() + "line change: a block is still being written (ETIMEDOUT)");
    EXPECT_EQ(com.LoadV24Parameter().BaudRate, 4800u);
    line->ReleaseWrites();
}

TEST_F(ComportFake, LastParametersComeBackOnlyAfterTheyWereSaved) {
    OpenCom1();
    DCB opened = com.LoadV24Parameter();
    ASSERT_TRUE(com.ChangeV24Parameter(B__9600, S_1, Even, false));
    com.LoadLastV24Parameter();
    EXPECT_EQ(com.LoadV24Parameter().BaudRate, 9600u);

    com.SaveLastV24Parameter();
    ASSERT_TRUE(com.ChangeV24Parameter(B115200, S_2, Odd, true));
    com.LoadLastV24Parameter();
    EXPECT_EQ(com.LoadV24Parameter().BaudRate, 9600u);
    EXPECT_EQ(com.GetV24Parameter()->Baudrate, B__9600);
    EXPECT_EQ(opened.BaudRate, 4800u);
}

TEST_F(ComportFake, CloseRestoresThePreviousStateWithoutNulDiscarding) {
    {
        std::lock_guard lock(line->mutex);
        line->dcb.BaudRate = 19200;
        line->dcb.fNull = true;
        line->timeouts.ReadIntervalTimeout = 77;
    }
    OpenCom1();
    EXPECT_EQ(com.LoadV24Parameter().BaudRate, 4800u);
    com.Close();
    std::lock_guard lock(line->mutex);
    EXPECT_EQ(line->dcb.BaudRate, 19200u);
    EXPECT_FALSE(line->dcb.fNull);
    EXPECT_EQ(line->timeouts.ReadIntervalTimeout, 77u);
}

TEST_F(ComportFake, TimeOutsAtOpenFollowTheRecord) {
    record.RXTimeOut = 0;
    record.RXTimeOutproChar = 0;
    record.TXTimeOutproChar = 3;
    com.InitParameter(&record, false);
    OpenCom1();
    COMMTIMEOUTS timeouts = com.LoadV24TimeOut();
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 20u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 10000u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 3u);

    ASSERT_TRUE(com.ChangeV24TimeOut(0, -1, 0, -1));
    EXPECT_EQ(com.LoadV24TimeOut().ReadTotalTimeoutConstant, 1u);
    EXPECT_EQ(com.GetV24Parameter()->RXTimeOut, 0);
}

TEST_F(ComportFake, BlockLongerThanTheStagingBufferIsRefused) {
    record.Handshake = ZNQ_XonXoff;
    com.InitParameter(&record, false);
    OpenCom1();
    std::string block(TransmitBufferSize - 1, 'a');
    EXPECT_EQ(com.Write(block.data(), static_cast<int>(block.size()), false), 0);
    EXPECT_EQ(com.Write(block.data(), static_cast<int>(block.size()) - 1, false),
              static_cast<int>(TransmitBufferSize));
    EXPECT_EQ(com.Write("a", -5, false), 0);
}

TEST_F(ComportFake, AutoSearchMovesOnThroughTheDeviceList) {
    std::ofstream(ports.Path() + "/com3-target").put('\n');
    ports.Link(2, ports.Path() + "/com3-target");
    com.Check_AllV24();
    {
        std::lock_guard lock(line->mutex);
        line->heldPaths.insert(ports.Path() + "/COM1");
    }
    record.Schnittstelle = 7;
    com.InitParameter(&record, true);
    ASSERT_NE(com.Open(window.Handle(), 0, -1, false), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.PortIndex(), 2);
    EXPECT_EQ(com.GetV24Parameter()->Schnittstelle, 2);
}

TEST_F(ComportFake, HangUpFailsReadAndWriteWithTheCauseWhileSilenceIsNoFailure) {
    OpenCom1();
    char buffer[8];
    EXPECT_EQ(com.Read(buffer, 7), 0) << "nothing arrived";
    EXPECT_EQ(com.Write("abc", 3, false), 3);

    line->Break(platform::SerialResult::HungUp, EIO);
    EXPECT_EQ(com.Read(buffer, 7), V24_LINE_FAILED);
    EXPECT_EQ(buffer[0], '\0') << "the buffer still holds a string";
    EXPECT_EQ(com.FailureText(), Com1() + "read: hung up (EIO)");
    EXPECT_EQ(com.Write("abc", 3, false), V24_LINE_FAILED);
    EXPECT_EQ(com.FailureText(), Com1() + "write: hung up (EIO)");
}

TEST_F(ComportFake, DriverFailureNamesItsErrno) {
    OpenCom1();
    line->Break(platform::SerialResult::Failed, EPROTO);
    EXPECT_EQ(com.Write("abc", 3, false), V24_LINE_FAILED);
    EXPECT_EQ(com.FailureText(), Com1() + "write: failed (EPROTO)");
    char buffer[8];
    EXPECT_EQ(com.Read(buffer, 7), V24_LINE_FAILED);
    EXPECT_EQ(com.FailureText(), Com1() + "read: failed (EPROTO)");
}

TEST_F(ComportFake, LineFailureOfAnAsyncBlockStandsUntilTheWriteStatusIsAsked) {
    OpenCom1();
    line->Break(platform::SerialResult::HungUp, EIO);
    EXPECT_EQ(com.Write("abc", 3, true), 3) << "an asynchronous block is taken";
    int next = V24_TX_BUSY;
    ASSERT_TRUE(
        PumpUntil([&] { return (next = com.Write("abc", 3, true)) != V24_TX_BUSY; }, 20000));
    EXPECT_EQ(next, V24_LINE_FAILED) << "its failure comes with the next write";
    EXPECT_EQ(com.FailureText(), Com1() + "write: hung up (EIO)");
    EXPECT_EQ(com.GetWriteStatus(), 1);
    line->Break(platform::SerialResult::Ok, 0);
    EXPECT_EQ(com.Write("abc", 3, false), 3);
}

TEST_F(ComportFake, ShortWriteAndClosedPortAreNamedToo) {
    OpenCom1();
    line->writeLimit = 1;
    EXPECT_EQ(com.Write("abc", 3, false), V24_SHORT_WRITE);
    EXPECT_EQ(com.FailureText(), Com1() + "write: short write");
    com.Close();
    char buffer[4];
    EXPECT_EQ(com.Read(buffer, 3), V24_PORT_CLOSED);
    EXPECT_EQ(com.FailureText(), Com1() + "read: port closed");
}

TEST_F(ComportFake, HangUpIsToldOnceAsReceivedBytesAndTheWatchEnds) {
    OpenCom1();
    line->Break(platform::SerialResult::HungUp, EIO);
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_RXCHAR) == 1; }, 20000));
    char buffer[8];
    EXPECT_EQ(com.Read(buffer, 7), V24_LINE_FAILED);
    line->Receive("x"); // nobody watches any more: nothing is told
    Pump(300);
    EXPECT_EQ(window.Count(V24_MSG_RXCHAR), 1u);
    com.Close();
    EXPECT_FALSE(com.IsOpen());
}

} // namespace
} // namespace serialtest
