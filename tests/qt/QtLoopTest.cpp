#include "QtTestSupport.h"
#include "frontends/qt/QtDialogs.h"
#include "frontends/qt/V24DialogView.h"
#include "platform/Tick.h"
#include "platform/TimerComponent.h"
#include "serial/V24Dialog.h"

#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <ctime>
#include <functional>
#include <thread>

namespace qttest {
namespace {

class Counter : public platform::MessageTarget {
public:
    void Dispatch(platform::Message& message) override { received += message.Msg == 4711 ? 1 : 0; }
    int received = 0;
};

constexpr std::uint32_t LoopBoundMs = 10000; // generous for a loaded machine

// HandleMessage until done holds. HandleMessage blocks until it has handled
// something, so a timer at the bound wakes it: what never comes fails the
// test instead of hanging it. Ending by the bound is a failure even when done
// holds then, since the bound's wake-up may have carried it.
::testing::AssertionResult HandleUntil(platform::Application& loop,
                                       const std::function<bool()>& done, const char* what) {
    bool expired = false;
    platform::TTimer bound(nullptr, "bound");
    bound.SetInterval(LoopBoundMs);
    bound.OnTimer = [&](platform::TTimer& self) {
        expired = true;
        self.SetEnabled(false);
    };
    bound.SetEnabled(true);
    while (!done() && !expired) {
        loop.HandleMessage();
    }
    if (!expired) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << what << " did not happen within " << LoopBoundMs << " ms";
}

class QtLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        QtApp();
        loop.Reopen();
        loop.SetBackend(std::make_unique<qtfront::QtLoop>());
        handle = loop.Register(&counter);
    }
    void TearDown() override {
        loop.Unregister(handle);
        loop.SetBackend(nullptr);
        loop.Reopen();
    }
    platform::Application& loop = platform::Application::Instance();
    Counter counter;
    platform::HWND handle = 0;
};

TEST_F(QtLoopTest, APostFromAnotherThreadWakesAWaitingLoop) {
    std::thread poster([this] {
        platform::SleepMs(50);
        loop.PostMessage(handle, 4711, 0, 0);
    });
    EXPECT_TRUE(HandleUntil(
        loop, [this] { return counter.received != 0; }, "the post's wake-up of HandleMessage"));
    poster.join();
    EXPECT_EQ(counter.received, 1);
}

TEST_F(QtLoopTest, WaitingLeavesTheProcessorIdle) {
    // Lenient: a spinning wait burns the whole 400 ms.
    const std::clock_t before = std::clock();
    loop.ProcessMessagesFor(400);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    EXPECT_LT(cpuMs, 200.0);
}

TEST_F(QtLoopTest, QtTimersAndCoreTimersRunInTheSameLoop) {
    bool qtFired = false;
    QTimer::singleShot(10, [&] { qtFired = true; });
    platform::TTimer timer(nullptr, "probe");
    int coreFired = 0;
    timer.SetInterval(10);
    timer.OnTimer = [&](platform::TTimer& self) {
        ++coreFired;
        self.SetEnabled(false);
    };
    timer.SetEnabled(true);
    EXPECT_TRUE(HandleUntil(
        loop, [&] { return qtFired && coreFired != 0; }, "both timers firing"));
    EXPECT_TRUE(qtFired);
    EXPECT_EQ(coreFired, 1);
}

// The core's next timer is the bound, so only the toolkit timer can end
// these waits early: its event, handled inside the wait, must count as work.
TEST_F(QtLoopTest, AToolkitEventHandledWhileWaitingEndsTheWait) {
    bool qtFired = false;
    QTimer::singleShot(20, [&] { qtFired = true; });
    EXPECT_TRUE(HandleUntil(
        loop, [&] { return qtFired; }, "the toolkit timer's wake-up"));

    qtFired = false;
    QTimer::singleShot(20, [&] { qtFired = true; });
    const std::uint32_t before = platform::GetTickCount();
    loop.ProcessMessagesFor(LoopBoundMs, [&] { return qtFired; });
    EXPECT_TRUE(qtFired);
    EXPECT_LT(platform::GetTickCount() - before, LoopBoundMs / 2);
}

TEST_F(QtLoopTest, SettingsDialogViewEditsTheRecordThroughTheModel) {
    const std::int32_t devices[] = {0, 2};
    qtfront::QtDialogs dialogs;
    serial::TV24_Dialog model(&dialogs, 1, devices, 2);
    serial::TDlgParameter flags;
    flags.TXTimeOut = true;
    flags.Schnittstelle = true;
    serial::V24ParameterTag record;
    record.TXTimeOut = 5000;

    WhenModalShows<QDialog>([](QDialog& view) {
        EXPECT_EQ(view.windowTitle(), "Settings");
        auto* tx = view.findChild<QSpinBox*>("TX_TimeoutEdit");
        auto* rx = view.findChild<QSpinBox*>("RX_TimeoutEdit");
        auto* ports = view.findChild<QComboBox*>("Schnittstellen_Box");
        ASSERT_TRUE(tx && rx && ports);
        EXPECT_EQ(tx->value(), 1000);
        EXPECT_TRUE(tx->isEnabled());
        EXPECT_FALSE(rx->isEnabled());
        EXPECT_EQ(ports->count(), 2);
        EXPECT_EQ(ports->itemText(1), "COM3");
        tx->setValue(300);
        ports->setCurrentIndex(1);
        view.findChild<QPushButton*>("V24_Adjust_okay")->click();
    });
    EXPECT_EQ(model.Execute(flags, record), platform::IDOK);
    EXPECT_EQ(record.TXTimeOut, 300);
    EXPECT_EQ(record.Schnittstelle, 2);

    // Escape is Cancel: the record stays.
    WhenModalShows<QDialog>([](QDialog& view) {
        view.findChild<QSpinBox*>("TX_TimeoutEdit")->setValue(100);
        view.reject();
    });
    EXPECT_EQ(model.Execute(flags, record), platform::IDCANCEL);
    EXPECT_EQ(record.TXTimeOut, 300);
}

} // namespace
} // namespace qttest
