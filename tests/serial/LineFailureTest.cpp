#include "SerialTestSupport.h"
#include "serial/Comport.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace serialtest {
namespace {

using namespace serial;
using platform::SerialResult;

// Bound of every wait for something that must come; only a failing test
// waits it out.
constexpr std::uint32_t Generous = 20000;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// TComPort over a pseudo-terminal whose master end goes away, as an
// unplugged adapter does.
class LineFailurePty : public ::testing::Test {
protected:
    LineFailurePty() {
        ports.Link(0, pty.SlavePath());
        record.TXTimeOut = 10000;
        com.InitParameter(&record, false);
    }
    std::string Com1() const { return "COM1 (" + ports.Path() + "/COM1): "; }

    Pty pty;
    PortDirectory ports;
    MessageLog window;
    V24ParameterTag record;
    TComPort com{nullptr, "UpdateCom"};
};

TEST_F(LineFailurePty, ClosedMasterIsToldOnceAndFailsReadAndWriteWithItsCause) {
    ASSERT_NE(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    pty.CloseMaster();
    // Nobody wrote and nothing arrived: only the hang-up can be told.
    ASSERT_TRUE(PumpUntil([&] { return window.Count(V24_MSG_RXCHAR) == 1; }, Generous));
    char buffer[8];
    EXPECT_EQ(com.Read(buffer, 7), V24_LINE_FAILED);
    EXPECT_EQ(com.FailureText(), Com1() + "read: hung up");
    EXPECT_EQ(com.Write("abc", 3, false), V24_LINE_FAILED);
    EXPECT_EQ(com.FailureText(), Com1() + "write: hung up (EIO)");

    double cpuBefore = ProcessCpuSeconds();
    Pump(1500);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.4) << "no thread turns round on the hang-up";
    EXPECT_EQ(window.Count(V24_MSG_RXCHAR), 1u) << "told once";
    com.Close();
    EXPECT_FALSE(com.IsOpen());
}

TEST_F(LineFailurePty, OpenFailureNamesTheDeviceAndTheCause) {
    std::vector<TOpenFailure> told;
    com.SetOnOpenFailure([&](const TOpenFailure& failure) { told.push_back(failure); });

    int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(com.Open(window.Handle(), 0, 0, true), INVALID_HANDLE_VALUE);
    ::close(holder);
    ports.Link(2, ports.Path() + "/gone");
    EXPECT_EQ(com.Open(window.Handle(), 0, 2, true), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.Open(window.Handle(), 0, 3, false), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.LastOpenFailure().PortIndex, 3);

    ASSERT_EQ(told.size(), 2u) << "only when the box is wanted";
    EXPECT_EQ(told[0].PortIndex, 0);
    EXPECT_EQ(told[0].Path, ports.Path() + "/COM1");
    EXPECT_EQ(told[0].Result, SerialResult::AccessDenied);
    EXPECT_EQ(told[0].Error, EWOULDBLOCK);
    EXPECT_EQ(told[1].PortIndex, 2);
    EXPECT_EQ(told[1].Path, ports.Path() + "/COM3") << "a link to nothing is still named";
    EXPECT_EQ(told[1].Result, SerialResult::NotFound);
    com.Close();
}

// A tool had the port meanwhile; the adapter was pulled then.
TEST_F(LineFailurePty, AReopenOfADeviceThatWentAwayFailsAsHungUp) {
    ASSERT_NE(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    com.Close();
    EXPECT_FALSE(com.DeviceGone());
    pty.CloseMaster();
    ASSERT_TRUE(com.DeviceGone());
    EXPECT_EQ(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.FailureText(), Com1() + "reopen: hung up, the device is gone (ENOENT)");
    EXPECT_EQ(com.FailureResult(), SerialResult::HungUp);
    EXPECT_EQ(com.FailureErrno(), ENOENT);
    EXPECT_EQ(com.LastOpenFailure().Result, SerialResult::NotFound) << "the box stays as it was";
    EXPECT_EQ(com.LastOpenFailure().Path, ports.Path() + "/COM1") << "the device that was open";
    EXPECT_EQ(com.LastOpenFailure().Error, ENOENT) << "as the log has it";

    // A port never opened is missing, not hung up, also when tried again.
    TComPort other{nullptr, "Other"};
    other.InitParameter(&record, false);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(other.Open(window.Handle(), 0, 3, false), INVALID_HANDLE_VALUE);
        EXPECT_EQ(other.FailureText(), "COM4 (" + ports.Path() + "/COM4): open: not found");
        EXPECT_EQ(other.FailureResult(), SerialResult::NotFound);
        EXPECT_FALSE(other.DeviceGone());
    }
}

// Held by another program while the port was closed: the reopen says so.
TEST_F(LineFailurePty, AReopenOfAHeldDeviceSaysItIsHeld) {
    ASSERT_NE(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    com.Close();
    int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    ::close(holder);
    EXPECT_EQ(com.FailureText(), Com1() + "reopen: access denied (EAGAIN)");
    EXPECT_EQ(com.FailureResult(), SerialResult::AccessDenied);
    EXPECT_FALSE(com.DeviceGone());
    ASSERT_NE(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.FailureText(), Com1() + "no failure") << "an open clears it";
    com.Close();
}

} // namespace
} // namespace serialtest
