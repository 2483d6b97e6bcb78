#include "SerialTestSupport.h"
#include "serial/Comport.h"
#include "serial/V24Threads.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace serialtest {
namespace {

using namespace serial;

// The main window's UpdateCom as its form declares it.
V24ParameterTag UpdateComRecord() {
    V24ParameterTag record;
    record.DatenBits = D_8;
    record.StopBits = S_2;
    record.Baudrate = B__4800;
    record.RXTimeOutproChar = 1;
    record.TXTimeOut = 10000;
    record.TXTimeOutproChar = 1;
    record.KeinNullZeichen = 1;
    return record;
}

// Bound of every wait for something that must come: generous, since only a
// failing test waits it out.
constexpr std::uint32_t Generous = 20000;

// The window's log with the tick at which each message came: checks of timing
// are lower bounds, which a slow machine cannot break.
class TimedLog : public MessageLog {
public:
    void Dispatch(platform::Message& message) override {
        MessageLog::Dispatch(message);
        ticks.push_back(platform::GetTickCount());
    }
    std::vector<std::uint32_t> ticks;
};

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class ComportPty : public ::testing::Test {
protected:
    ComportPty() {
        ports.Link(0, pty.SlavePath());
        com.InitParameter(&record, false);
    }

    HANDLE OpenCom1() { return com.Open(window.Handle(), 0, 0, false); }

    Pty pty;
    PortDirectory ports;
    TimedLog window;
    V24ParameterTag record = UpdateComRecord();
    TComPort com{nullptr, "UpdateCom"};
};

TEST_F(ComportPty, LineSettingsReachTheOtherEndAndOnlyV24ParameterChangesTheRecord) {
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pty.Baud(), 4800u);
    EXPECT_TRUE(pty.TwoStopBits());

    ASSERT_TRUE(com.ChangeV24Parameter(B__9600, S_1, Even, false));
    EXPECT_EQ(pty.Baud(), 9600u);
    EXPECT_FALSE(pty.TwoStopBits());
    EXPECT_EQ(com.LoadV24Parameter().Parity, platform::EVENPARITY);
    const V24ParameterTag* live = com.GetV24Parameter();
    EXPECT_EQ(live->Baudrate, B__9600);
    EXPECT_EQ(live->StopBits, S_1);
    EXPECT_EQ(live->Paritaet, Even);
    EXPECT_EQ(live->KeinNullZeichen, 0);

    V24ParameterTag before = *com.GetV24Parameter();
    ASSERT_TRUE(com.ChangeBaudrate(B_19200));
    ASSERT_TRUE(com.ChangeHandShake(RTS_CTS));
    EXPECT_EQ(pty.Baud(), 19200u);
    EXPECT_TRUE(pty.HardwareFlow());
    EXPECT_EQ(*com.GetV24Parameter(), before);
}

TEST_F(ComportPty, TimeOutChangeWithMarkersTouchesOnlyTheWriteMultiplier) {
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    COMMTIMEOUTS before = com.LoadV24TimeOut();
    V24ParameterTag recordBefore = *com.GetV24Parameter();
    ASSERT_EQ(before.WriteTotalTimeoutMultiplier, 1u);

    ASSERT_TRUE(com.ChangeV24TimeOut(-1, -1, -1, 0));
    COMMTIMEOUTS expected = before;
    expected.WriteTotalTimeoutMultiplier = 0;
    EXPECT_EQ(com.LoadV24TimeOut(), expected);
    recordBefore.TXTimeOutproChar = 0;
    EXPECT_EQ(*com.GetV24Parameter(), recordBefore);
}

TEST_F(ComportPty, CustomSpeedsGoThroughTheKernelsOwnCall) {
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(com.ChangeV24Parameter(B128000, S_2, NoParity, true));
    EXPECT_EQ(pty.Baud(), 128000u);
    ASSERT_TRUE(com.ChangeBaudrate(B256000));
    EXPECT_EQ(pty.Baud(), 256000u);
    EXPECT_EQ(com.LoadV24Parameter().BaudRate, 256000u);
    ASSERT_TRUE(com.ChangeBaudrate(B__9600));
    EXPECT_EQ(pty.Baud(), 9600u);
}

TEST_F(ComportPty, OneAndAHalfStopBitsAreRefusedAndChangeNothing) {
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(com.ChangeV24Parameter(B__9600, S1_5, NoParity, false));
    EXPECT_EQ(com.LastResult(), platform::SerialResult::NotSupported);
    EXPECT_EQ(pty.Baud(), 4800u);
    EXPECT_EQ(com.GetV24Parameter()->StopBits, S_2);
}

TEST_F(ComportPty, CloseRestoresTheSettingsFromBeforeOpen) {
    ASSERT_TRUE(pty.SetLine(19200, false));

    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    com.Close();
    EXPECT_FALSE(com.IsOpen());
    EXPECT_EQ(pty.Baud(), 19200u);
    EXPECT_FALSE(pty.TwoStopBits());
    com.Close(); // closing twice does nothing
}

TEST_F(ComportPty, OpenWithoutPortTakesTheRecordsAndAnExplicitPortIsWrittenBack) {
    Pty second;
    ports.Link(1, second.SlavePath());
    record.Schnittstelle = Com__2;
    com.InitParameter(&record, false);
    ASSERT_NE(com.Open(window.Handle(), 0, -1, false), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.PortIndex(), 1);
    com.Close();
    ASSERT_NE(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.GetV24Parameter()->Schnittstelle, Com__1);
}

TEST_F(ComportPty, OneNotificationPerUnreadBatch) {
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    pty.Send("ab");
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_RXCHAR) == 1; }, Generous));
    EXPECT_EQ(window.messages[0].WParam, 1u);
    pty.Send("cd");
    const std::uint32_t moreSent = platform::GetTickCount();
    Pump(300);
    pty.Send("ef");
    Pump(1200);
    // Data while the notification is unread brings no new one; only the
    // repeat for unread data may, and not before its time.
    for (std::size_t i = 1; i < window.messages.size(); ++i) {
        if (window.messages[i].Msg == V24_MSG_RXCHAR) {
            EXPECT_GE(window.ticks[i] - moreSent, RenotifyMs) << "notification " << i;
        }
    }

    std::string got;
    ASSERT_TRUE(PumpUntil(
        [&] {
            char buffer[16];
            const int n = com.Read(buffer, sizeof buffer - 1);
            got.append(buffer, static_cast<std::size_t>(std::max(n, 0)));
            return got.size() >= 6;
        },
        Generous));
    EXPECT_EQ(got, "abcdef");

    const std::size_t afterRead = window.Count(V24_MSG_RXCHAR);
    pty.Send("g");
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_RXCHAR) == afterRead + 1; }, Generous))
        << "read data lets the next batch notify";
    com.Reset_SetAktiv();
    pty.Send("h");
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_RXCHAR) == afterRead + 2; }, Generous))
        << "so does Reset_SetAktiv without a read";
}

TEST_F(ComportPty, AnUnreadNotificationIsRepeatedAfterFiveSeconds) {
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    pty.Send("a");
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_RXCHAR) == 1; }, Generous));
    pty.Send("b");
    const std::uint32_t moreSent = platform::GetTickCount();
    Pump(300);
    pty.Send("c");
    ASSERT_TRUE(
        PumpUntil([&] { return window.Count(V24_MSG_RXCHAR) == 2; }, RenotifyMs + Generous));
    ASSERT_EQ(window.messages[1].Msg, V24_MSG_RXCHAR);
    EXPECT_GE(window.ticks[1] - moreSent, RenotifyMs) << "repeated before its time";
}

TEST_F(ComportPty, WithoutWindowTheNotificationIsAThreadMessage) {
    std::vector<platform::Message> threadMessages;
    platform::Application::Instance().OnThreadMessage = [&](platform::Message& message) {
        threadMessages.push_back(message);
    };
    ASSERT_NE(com.Open(0, 77, 0, false), INVALID_HANDLE_VALUE);
    pty.Send("x");
    bool seen = PumpUntil([&] { return !threadMessages.empty(); }, Generous);
    com.Close();
    platform::Application::Instance().OnThreadMessage = nullptr;
    ASSERT_TRUE(seen);
    EXPECT_EQ(threadMessages[0].Msg, V24_MSG_RXCHAR_ID);
    EXPECT_EQ(threadMessages[0].WParam, 1u);
}

TEST_F(ComportPty, ReadEndsTheDataWithNulAndDropsNulBytesWhenAsked) {
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    pty.Send(std::string("ab\0cd", 5));
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_RXCHAR) == 1; }, Generous));
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(com.Read(buffer, 7), 4);
    EXPECT_EQ(std::string(buffer, 5), std::string("abcd\0", 5));
}

TEST_F(ComportPty, ZnqFramingWrapsTheBlockInXoffAndXon) {
    record.Handshake = ZNQ_XonXoff;
    com.InitParameter(&record, false);
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.Write("abc", 3, true), 5);
    EXPECT_EQ(pty.Receive(5), "\x13"
                              "abc\x11");
    EXPECT_TRUE(PumpUntil([&] { return com.Write("", -1, false) == 2; }, Generous));
}

TEST_F(ComportPty, ClosedPortAnswersMinusTen) {
    char buffer[4];
    EXPECT_EQ(com.Read(buffer, 3), V24_PORT_CLOSED);
    EXPECT_EQ(com.Write("a", 1, false), V24_PORT_CLOSED);
    EXPECT_EQ(com.GetWriteStatus(), 0);
}

TEST_F(ComportPty, UnpluggingNeitherCrashesNorSpins) {
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    pty.CloseMaster();
    double cpuBefore = ProcessCpuSeconds();
    Pump(2000);
    double cpuUsed = ProcessCpuSeconds() - cpuBefore;
    EXPECT_LT(cpuUsed, 0.5);

    char buffer[8];
    EXPECT_EQ(com.Read(buffer, 7), V24_LINE_FAILED);
    EXPECT_EQ(com.Write("abc", 3, false), V24_LINE_FAILED);
    EXPECT_EQ(com.Write("abc", 3, true), V24_LINE_FAILED);
    EXPECT_EQ(com.GetWriteStatus(), 1);
    EXPECT_EQ(com.Write("abc", 3, true), 3);
    com.Close();
    EXPECT_FALSE(com.IsOpen());
}

TEST_F(ComportPty, PortHeldByAnotherProgramIsListedButNotUsable) {
    Pty held;
    ports.Link(2, held.SlavePath());
    int holder = ::open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    com.Check_AllV24();
    ASSERT_EQ(com.GetMaxV24Devices(), 2);
    EXPECT_EQ(com.Get_DeviceV24(0), 0);
    EXPECT_EQ(com.Get_DeviceV24(1), 2);
    ASSERT_EQ(com.GetMaxV24Useable(), 1);
    EXPECT_EQ(com.Get_UseableV24(0), 0);
    EXPECT_EQ(com.Get_UseableV24(1), -1);

    std::vector<platform::PortMapEntry> map = platform::ListPortMap();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[1].name, "COM3");
    EXPECT_FALSE(map[0].busy);
    EXPECT_TRUE(map[1].busy);

    std::vector<TOpenFailure> told;
    com.SetOnOpenFailure([&](const TOpenFailure& f) { told.push_back(f); });
    EXPECT_EQ(com.Open(window.Handle(), 0, 2, true), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.Open(window.Handle(), 0, 2, false), INVALID_HANDLE_VALUE);
    ::close(holder);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].Path, ports.Path() + "/COM3");
    EXPECT_EQ(told[0].Result, platform::SerialResult::AccessDenied);
    EXPECT_FALSE(com.IsOpen());
}

TEST_F(ComportPty, StreamedRecordIsKeptInTheConfigFolder) {
    std::string folder = ports.Path(); // any writable folder
    com.SetStreamOn(true);
    com.SetNewConfigPath(folder.c_str());
    EXPECT_EQ(com.ConfigPath(), folder + "/");
    ASSERT_NE(OpenCom1(), INVALID_HANDLE_VALUE);
    std::ifstream file(folder + "/ComData.cfg", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 48u);
    V24ParameterTag::Bytes expected = com.GetV24Parameter()->ToBytes();
    EXPECT_EQ(bytes, std::string(expected.begin(), expected.end()));
}

} // namespace
} // namespace serialtest
