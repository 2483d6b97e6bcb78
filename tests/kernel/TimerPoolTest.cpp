#include "kernel/Timer.h"
#include "platform/Application.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

class TimerPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 1; i <= 5; ++i) {
            auto timer = std::make_unique<platform::TTimer>(nullptr, "Timer" + std::to_string(i));
            timer->SetEnabled(false);
            timer->SetTag(i);
            components.push_back(timer.get());
            owned.push_back(std::move(timer));
        }
        pool.TimerInit(components);
    }
    std::vector<std::unique_ptr<platform::TTimer>> owned;
    std::vector<platform::TTimer*> components;
    kernel::TTimerPool pool;
};

TEST_F(TimerPoolTest, TakesTheFirstFreeSlotAndSharesTheLastWhenFull) {
    EXPECT_EQ(pool.TimerStart(100), 1);
    EXPECT_EQ(pool.TimerStart(100), 2);
    EXPECT_EQ(pool.TimerStart(100), 3);
    EXPECT_EQ(pool.TimerStart(100), 4);
    EXPECT_EQ(pool.TimerStart(100), 5);
    EXPECT_EQ(pool.TimerStart(250), 5);
    EXPECT_EQ(components[4]->Interval(), 250u);
    EXPECT_EQ(pool.TimerStop(3), 0);
    EXPECT_FALSE(components[2]->Enabled());
    EXPECT_EQ(pool.TimerStart(100), 3);
}

TEST_F(TimerPoolTest, StopAndRestartIgnoreSlotsOutsideThePool) {
    EXPECT_EQ(pool.TimerStop(0), 0);
    EXPECT_EQ(pool.TimerStop(-4), 0);
    EXPECT_EQ(pool.TimerStop(21), 0);
    pool.TimerRestart(0);
    pool.TimerRestart(2);
    EXPECT_FALSE(components[1]->Enabled());
}

TEST_F(TimerPoolTest, RestartStartsTheFullIntervalAnew) {
    platform::Application& app = platform::Application::Instance();
    app.Reopen();
    int fired = 0;
    components[0]->OnTimer = [&](platform::TTimer&) { ++fired; };
    int slot = pool.TimerStart(200);
    ASSERT_EQ(slot, 1);
    // Keep restarting before it can expire: it must never fire.
    for (int i = 0; i < 6; ++i) {
        app.ProcessMessagesFor(50);
        pool.TimerRestart(slot);
    }
    EXPECT_EQ(fired, 0);
    app.ProcessMessagesFor(600);
    EXPECT_GE(fired, 1);
    pool.TimerStop(slot);
}

TEST_F(TimerPoolTest, StartedSlotKeepsFiringUntilStopped) {
    platform::Application& app = platform::Application::Instance();
    app.Reopen();
    int fired = 0;
    components[0]->OnTimer = [&](platform::TTimer&) { ++fired; };
    int slot = pool.TimerStart(5);
    for (int i = 0; i < 200 && fired < 3; ++i) {
        app.HandleMessage();
    }
    EXPECT_GE(fired, 3);
    slot = pool.TimerStop(slot);
    int before = fired;
    app.ProcessMessagesFor(30);
    EXPECT_EQ(fired, before);
    EXPECT_FALSE(pool.InUse(1));
}

} // namespace
