#include "FormFixture.h"
#include "platform/Application.h"

#include <algorithm>

namespace {

using testing_support::CrLfLines;
using testing_support::StandardTextBlock;

// Records every event that reaches the front of the chain.
struct EventSpy {
    std::vector<kernel::TEventRec> Seen;
    static kernel::TEventRec Handle(void* context, kernel::TEvents&, kernel::TEventRec event) {
        static_cast<EventSpy*>(context)->Seen.push_back(event);
        return event;
    }
};

class EventSide : public testing_support::FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        WriteConfig(CrLfLines({"Language=0"}), StandardTextBlock);
        Build();
        TestView(*form).EventQueue().AddHandler(&EventSpy::Handle, &spy);
        platform::Application::Instance().OnThreadMessage = [this](platform::Message&) {
            ++windowMessages;
        };
    }
    void TearDown() override {
        platform::Application::Instance().OnThreadMessage = nullptr;
        TestView(*form).EventQueue().RemoveHandler(&EventSpy::Handle, &spy);
        FormFixture::TearDown();
    }
    EventSpy spy;
    int windowMessages = 0;
};

TEST_F(EventSide, OuterPumpLetsWindowMessagesInAfterTheSecondEvent) {
    platform::Application::Instance().PostThreadMessage(1, 0, 0);
    TestView(*form).EventQueue().PostMsg(20001, 0);
    TestView(*form).ProcessEvents();
    EXPECT_EQ(windowMessages, 0) << "one event: no message processing";
    TestView(*form).EventQueue().PostMsg(20001, 0);
    TestView(*form).EventQueue().PostMsg(20002, 0);
    TestView(*form).ProcessEvents();
    EXPECT_EQ(windowMessages, 1);
    EXPECT_EQ(TestView(*form).PumpDepth(), 0);
    EXPECT_EQ(spy.Seen.size(), 3u);
}

TEST_F(EventSide, NestedPumpSkipsWindowMessagesAndResetsAfterEleven) {
    platform::Application::Instance().PostThreadMessage(1, 0, 0);
    TestView(*form).SetPumpDepth(1);
    TestView(*form).EventQueue().PostMsg(20001, 0);
    TestView(*form).EventQueue().PostMsg(20002, 0);
    TestView(*form).ProcessEvents();
    EXPECT_EQ(windowMessages, 0);
    EXPECT_EQ(TestView(*form).PumpDepth(), 2);
    TestView(*form).SetPumpDepth(10);
    TestView(*form).EventQueue().PostMsg(20001, 0);
    TestView(*form).EventQueue().PostMsg(20002, 0);
    TestView(*form).ProcessEvents();
    EXPECT_EQ(TestView(*form).PumpDepth(), 0);
}

TEST_F(EventSide, CharsReceivedMessageBecomesEvent10000WithThePortNumber) {
    platform::Application::Instance().PostMessage(form->Handle(), app::WM_CHARS_RECEIVED, 4, 0);
    platform::Application::Instance().ProcessMessages();
    ASSERT_EQ(spy.Seen.size(), 1u);
    EXPECT_EQ(spy.Seen[0].Kind, kernel::evMessage);
    EXPECT_EQ(spy.Seen[0].Id, 10000);
    EXPECT_EQ(spy.Seen[0].Data, 4);
}

TEST_F(EventSide, OkButtonDisablesTheLanguageMenuAndPostsKey13) {
    form->OkBitBtn->Click();
    EXPECT_FALSE(form->Sprache->Enabled());
    ASSERT_EQ(spy.Seen.size(), 1u);
    EXPECT_EQ(spy.Seen[0].Kind, kernel::evKey);
    EXPECT_EQ(spy.Seen[0].Id, 13);
}

TEST_F(EventSide, TimerSlotExpiryArrivesAsATimerEvent) {
    int slot = TestView(*form).TimerPool().TimerStart(5);
    platform::Application& app = platform::Application::Instance();
    for (int i = 0; i < 100 && spy.Seen.empty(); ++i) {
        app.HandleMessage();
    }
    TestView(*form).TimerPool().TimerStop(slot);
    ASSERT_FALSE(spy.Seen.empty());
    EXPECT_EQ(spy.Seen[0].Kind, kernel::evTimer);
    EXPECT_EQ(spy.Seen[0].Id, slot);
}

TEST_F(EventSide, StoppedTimerWhoseTickIsUnderwayPostsNothing) {
    form->Timer2->SetEnabled(false);
    TestView(*form).TimerIntervall(*form->Timer2);
    EXPECT_TRUE(spy.Seen.empty());
}

// An event queued ahead of a tick restarts the tick's slot (an acknowledge
// restarting a watchdog), or stops it and the next step's timer takes the
// slot again: either way the queued tick belongs to no running arming.
struct SlotChanger {
    kernel::TTimerPool* Pool;
    int Slot;
    bool TakenAgain;
    static kernel::TEventRec Handle(void* context, kernel::TEvents&, kernel::TEventRec event) {
        auto* self = static_cast<SlotChanger*>(context);
        if (event.Kind != kernel::evMessage || event.Id != 20001) {
            return event;
        }
        if (self->TakenAgain) {
            self->Pool->TimerStop(self->Slot);
            self->Slot = self->Pool->TimerStart(30000);
        } else {
            self->Pool->TimerRestart(self->Slot);
        }
        return event;
    }
};

TEST_F(EventSide, ATickQueuedBehindAChangeOfItsSlotIsDroppedAndTheNextOneArrives) {
    kernel::TTimerPool& pool = TestView(*form).TimerPool();
    kernel::TEvents& queue = TestView(*form).EventQueue();
    for (bool takenAgain : {false, true}) {
        SCOPED_TRACE(takenAgain ? "stopped and taken again" : "restarted");
        spy.Seen.clear();
        SlotChanger changer{&pool, pool.TimerStart(60000), takenAgain};
        ASSERT_EQ(changer.Slot, 1);
        queue.AddHandler(&SlotChanger::Handle, &changer);
        queue.PostMsg(20001, 0);
        TestView(*form).TimerIntervall(*form->Timer1);
        const auto ticks = [&] {
            return std::count_if(spy.Seen.begin(), spy.Seen.end(), [](const kernel::TEventRec& e) {
                return e.Kind == kernel::evTimer;
            });
        };
        EXPECT_EQ(spy.Seen.size(), 1u);
        EXPECT_EQ(ticks(), 0);
        ASSERT_EQ(changer.Slot, 1);
        TestView(*form).TimerIntervall(*form->Timer1);
        EXPECT_EQ(ticks(), 1);
        pool.TimerStop(changer.Slot);
        queue.RemoveHandler(&SlotChanger::Handle, &changer);
    }
}

TEST_F(EventSide, StartTimerStartsTheUpdateOnlyWithAutoStart) {
    form->StartTimer->SetEnabled(true);
    TestView(*form).StartTimerTimer();
    EXPECT_FALSE(form->StartTimer->Enabled());
    EXPECT_TRUE(spy.Seen.empty());
    TestView(*form).ConfigToStandFor().AutoStartActive = true;
    TestView(*form).StartTimerTimer();
    ASSERT_EQ(spy.Seen.size(), 1u);
    EXPECT_EQ(spy.Seen[0].Id, 13);
}

TEST_F(EventSide, AnAcknowledgeOnlyCountsWhileASessionRuns) {
    TestView(*form).ConfigToStandFor().DebugInfo = true; // commands sent show in the memo
    auto dialogueSent = [this] {
        const std::vector<std::string> lines = MemoLines();
        return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind(app::command::Dialogue, 0) == 0 || line.rfind("A.1000", 0) == 0;
        });
    };
    // A late answer, say to an earlier run's exit command.
    TestView(*form).EventQueue().PostMsg(app::event::Acknowledge, 0);
    TestView(*form).ProcessEvents();
    EXPECT_EQ(TestView(*form).SessionState().AckStep, app::AckStep::OpenDialogue);
    EXPECT_FALSE(dialogueSent());

    TestView(*form).Session().State().Running = true;
    TestView(*form).EventQueue().PostMsg(app::event::Acknowledge, 0);
    TestView(*form).ProcessEvents();
    EXPECT_EQ(TestView(*form).SessionState().AckStep, app::AckStep::QueryIdentity);
    EXPECT_TRUE(dialogueSent());
}

TEST_F(EventSide, SecTimerStepsTheProgressBarWhileEnabled) {
    TestView(*form).SecTimerTimer();
    EXPECT_EQ(form->WaitProgressBar->Position(), 0);
    form->SecTimer->SetEnabled(true);
    TestView(*form).SecTimerTimer();
    TestView(*form).SecTimerTimer();
    form->SecTimer->SetEnabled(false);
    EXPECT_EQ(form->WaitProgressBar->Position(), 2);
}

TEST_F(EventSide, ExpandTextUsesCurrentValuesAndNeverReexpandsThem) {
    const std::string stored = "NAME an COM X: DATEI\\r";
    EXPECT_EQ(TestView(*form).ExpandText(stored), "Ger\xE4t an COM 0: \r\n");
    TestView(*form).Session().State().DeviceNameText = "NAME 2";
    TestView(*form).Session().State().PortNumber = 3;
    TestView(*form).Session().State().CurrentFile = "DATEI.TXT";
    EXPECT_EQ(TestView(*form).ExpandText(stored), "NAME 2 an COM 3: DATEI.TXT\r\n");
    TestView(*form).Session().State().DeviceNameText = "Meter B";
    TestView(*form).Session().State().PortNumber = 7;
    EXPECT_EQ(TestView(*form).ExpandText(stored), "Meter B an COM 7: DATEI.TXT\r\n");
    TestView(*form).ConfigToStandFor().Language = 1;
    TestView(*form).Session().State().DeviceNameText.clear();
    EXPECT_EQ(TestView(*form).ExpandText("NAME"), "device");
}

} // namespace
