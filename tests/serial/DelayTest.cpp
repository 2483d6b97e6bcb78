#include "serial/Delay.h"

#include "platform/Application.h"
#include "platform/Tick.h"
#include "platform/TimerComponent.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace serialtest {
namespace {

using serial::TDelay;

// A clock that only moves when the delay sleeps.
struct FakeClock {
    std::uint32_t now = 0;
    std::uint32_t slept = 0;
    void Attach(TDelay& delay) {
        delay.TickSource = [this] { return now; };
        delay.SleepSource = [this](std::uint32_t ms) {
            now += ms;
            slept += ms;
        };
    }
};

TEST(TDelay, DividendDividesAndIsAtLeastOne) {
    TDelay delay(nullptr);
    FakeClock clock;
    clock.Attach(delay);
    delay.SetDividend(2);
    delay.DelayTime(1000, false);
    EXPECT_EQ(clock.slept, 500u);
    delay.SetDividend(0);
    EXPECT_EQ(delay.Dividend(), 1);
    delay.SetDividend(-5);
    EXPECT_EQ(delay.Dividend(), 1);
}

TEST(TDelay, NothingToWaitReturnsAtOnce) {
    TDelay delay(nullptr);
    FakeClock clock;
    clock.Attach(delay);
    delay.SetDividend(10);
    delay.DelayTime(9, false);
    delay.DelayTime(0, false);
    delay.DelayTime(-100, false);
    delay.SetEnable(false);
    delay.DelayTime(10000, false);
    EXPECT_EQ(clock.slept, 0u);
}

TEST(TDelay, WaitAcrossTheTickWrapLastsTheRequestedTime) {
    TDelay delay(nullptr);
    FakeClock clock;
    clock.now = 0xFFFFFF00u;
    clock.Attach(delay);
    delay.DelayTime(1000, false);
    EXPECT_EQ(clock.slept, 1000u);
}

TEST(TDelay, TimeDivisorOfTheApplicationShortensToo) {
    TDelay delay(nullptr);
    FakeClock clock;
    clock.Attach(delay);
    platform::Application::Instance().SetTimeDivisor(4);
    delay.SetDividend(2);
    delay.DelayTime(1000, false);
    platform::Application::Instance().SetTimeDivisor(1);
    EXPECT_EQ(clock.slept, 125u);
}

TEST(TDelay, CountdownTellsWholeSecondsLeftAndEndsAtZero) {
    TDelay delay(nullptr);
    FakeClock clock;
    clock.Attach(delay);
    std::vector<std::pair<long, std::uint32_t>> told; // seconds left, time then
    delay.OnCountdown = [&](long left) { told.emplace_back(left, clock.now); };
    delay.CountdownTime(2500, false);
    const std::vector<std::pair<long, std::uint32_t>> expected = {
        {3, 0}, {2, 1000}, {1, 2000}, {0, 2500}};
    EXPECT_EQ(told, expected);

    // A divided run counts the same seconds in a shorter time.
    told.clear();
    clock.now = 0;
    platform::Application::Instance().SetTimeDivisor(10);
    delay.CountdownTime(2000, false);
    platform::Application::Instance().SetTimeDivisor(1);
    const std::vector<std::pair<long, std::uint32_t>> divided = {{2, 0}, {1, 100}, {0, 200}};
    EXPECT_EQ(told, divided);
}

TEST(TDelay, MessagesAreHandledWhileWaiting) {
    struct Target : platform::MessageTarget {
        int seen = 0;
        void Dispatch(platform::Message&) override { ++seen; }
    } target;
    platform::Application& application = platform::Application::Instance();
    platform::HWND handle = application.Register(&target);
    application.PostMessage(handle, platform::WM_APP + 1, 0, 0);

    TDelay delay(nullptr);
    std::uint32_t start = platform::GetTickCount();
    delay.DelayTime(200, true);
    std::uint32_t elapsed = platform::GetTickCount() - start;
    application.Unregister(handle);
    EXPECT_EQ(target.seen, 1);
    EXPECT_GE(elapsed, 200u);
}

TEST(TDelay, DisablingDuringAWaitEndsIt) {
    // Closing the window disables the delays: a wait under way must end too.
    platform::Application& application = platform::Application::Instance();
    TDelay delay(nullptr);
    platform::TTimer closer(nullptr, "Closer");
    closer.SetInterval(20);
    closer.OnTimer = [&](platform::TTimer& sender) {
        delay.SetEnable(false);
        sender.SetEnabled(false);
    };
    std::uint32_t start = platform::GetTickCount();
    delay.DelayTime(20000, true);
    EXPECT_LT(platform::GetTickCount() - start, 10000u);
    EXPECT_FALSE(application.Terminated());
}

} // namespace
} // namespace serialtest
