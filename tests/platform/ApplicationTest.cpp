#include "platform/Application.h"

#include "platform/Tick.h"
#include "platform/TimerComponent.h"

#include <ctime>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using platform::Application;

struct RecordingTarget : platform::MessageTarget {
    std::vector<platform::Message> Received;
    std::thread::id Thread;
    void Dispatch(platform::Message& message) override {
        Received.push_back(message);
        Thread = std::this_thread::get_id();
    }
};

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override { app.Reopen(); }
    Application& app = Application::Instance();
};

TEST_F(ApplicationTest, MessagesPostedFromAnotherThreadAreDispatchedOnTheLoopThread) {
    RecordingTarget target;
    platform::HWND handle = app.Register(&target);
    std::thread poster([&] { app.PostMessage(handle, 34768, 3, 0); });
    poster.join();
    app.HandleMessage();
    ASSERT_EQ(target.Received.size(), 1u);
    EXPECT_EQ(target.Received[0].Msg, 34768u);
    EXPECT_EQ(target.Received[0].WParam, 3u);
    EXPECT_EQ(target.Thread, std::this_thread::get_id());
    app.Unregister(handle);
}

TEST_F(ApplicationTest, MessagesForAnUnregisteredTargetAreDropped) {
    RecordingTarget target;
    platform::HWND handle = app.Register(&target);
    app.PostMessage(handle, 1, 0, 0);
    app.Unregister(handle);
    app.ProcessMessages();
    EXPECT_TRUE(target.Received.empty());
}

TEST_F(ApplicationTest, ThreadMessagesReachTheLoopHandler) {
    int seen = 0;
    app.OnThreadMessage = [&](platform::Message& message) {
        seen = static_cast<int>(message.WParam);
    };
    app.PostThreadMessage(5, 42, 0);
    app.ProcessMessages();
    app.OnThreadMessage = nullptr;
    EXPECT_EQ(seen, 42);
}

TEST_F(ApplicationTest, EnabledTimerFiresRepeatedlyAndStopsWhenDisabled) {
    platform::TTimer timer(nullptr, "T");
    timer.SetEnabled(false);
    timer.SetInterval(10);
    int ticks = 0;
    timer.OnTimer = [&](platform::TTimer& sender) {
        if (++ticks == 3) {
            sender.SetEnabled(false);
        }
    };
    timer.SetEnabled(true);
    std::uint32_t start = platform::GetTickCount();
    while (ticks < 3 && platform::GetTickCount() - start < 5000) {
        app.HandleMessage();
    }
    EXPECT_EQ(ticks, 3);
    app.ProcessMessagesFor(50);
    EXPECT_EQ(ticks, 3);
}

TEST_F(ApplicationTest, TimerDestroyedByAnEarlierTimerOfTheSamePassDoesNotFire) {
    platform::TTimer killer(nullptr, "Killer");
    killer.SetInterval(1);
    auto* victim = new platform::TTimer(nullptr, "Victim");
    victim->SetInterval(1);
    bool victimFired = false;
    victim->OnTimer = [&](platform::TTimer&) { victimFired = true; };
    killer.OnTimer = [&](platform::TTimer& sender) {
        delete victim;
        sender.SetEnabled(false);
    };
    platform::SleepMs(5);
    app.ProcessMessages();
    EXPECT_FALSE(victimFired);
    EXPECT_FALSE(killer.Enabled());
}

TEST_F(ApplicationTest, TimerRestartedByAnEarlierTimerOfTheSamePassWaitsItsNewInterval) {
    platform::TTimer restarter(nullptr, "Restarter");
    restarter.SetInterval(1);
    platform::TTimer watchdog(nullptr, "Watchdog");
    watchdog.SetInterval(1);
    bool watchdogFired = false;
    watchdog.OnTimer = [&](platform::TTimer&) { watchdogFired = true; };
    restarter.OnTimer = [&](platform::TTimer& sender) {
        watchdog.SetEnabled(false);
        watchdog.SetInterval(60000);
        watchdog.SetEnabled(true);
        sender.SetEnabled(false);
    };
    platform::SleepMs(5);
    app.ProcessMessages();
    EXPECT_FALSE(restarter.Enabled()) << "the restarter fired";
    EXPECT_FALSE(watchdogFired);
    EXPECT_TRUE(watchdog.Enabled());
}

TEST_F(ApplicationTest, TimeDivisorShortensTimerIntervals) {
    app.SetTimeDivisor(100);
    platform::TTimer timer(nullptr, "Fast");
    timer.SetInterval(10000);
    bool fired = false;
    timer.OnTimer = [&](platform::TTimer& sender) {
        fired = true;
        sender.SetEnabled(false);
    };
    app.ProcessMessagesFor(2000);
    app.SetTimeDivisor(1);
    EXPECT_TRUE(fired);
}

TEST_F(ApplicationTest, WaitingForMessagesUsesNoProcessorTime) {
    platform::TTimer idle(nullptr, "Idle");
    idle.SetInterval(60000);
    std::clock_t before = std::clock();
    app.ProcessMessagesFor(300);
    double cpuMs = 1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    EXPECT_LT(cpuMs, 100.0) << "the loop spins while it waits";
}

TEST_F(ApplicationTest, TerminateEndsRunAndHandleMessage) {
    std::thread stopper([&] {
        platform::SleepMs(20);
        app.Terminate();
    });
    app.Run();
    stopper.join();
    EXPECT_TRUE(app.Terminated());
    EXPECT_FALSE(app.PostMessage(1, 1, 0, 0));
    app.Reopen();
    EXPECT_FALSE(app.Terminated());
}

TEST(TickCount, WrapsLikeAThirtyTwoBitCounter) {
    std::uint32_t first = platform::GetTickCount();
    platform::SleepMs(5);
    EXPECT_GE(platform::GetTickCount() - first, 4u);
}

} // namespace
