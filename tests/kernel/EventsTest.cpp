#include "kernel/Events.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using kernel::TEventRec;
using kernel::TEvents;

TEST(RingBuffer, WrapsOnlyWhenAWriteDoesNotFit) {
    std::uint8_t storage[32];
    auto ring = kernel::RingCreate(0, 32, storage);
    std::uint8_t block[16] = {1};
    kernel::RingPut(ring, block, 16);
    kernel::RingPut(ring, block, 16);
    EXPECT_EQ(ring.WritePos, 32u);
    EXPECT_FALSE(ring.Wrapped);
    std::uint8_t out[16];
    EXPECT_EQ(kernel::RingGet(ring, out, 16), 16u);
    EXPECT_EQ(kernel::RingGet(ring, out, 16), 16u);
    EXPECT_EQ(kernel::RingGet(ring, out, 16), 0u);
    block[0] = 9;
    kernel::RingPut(ring, block, 16);
    EXPECT_TRUE(ring.Wrapped);
    EXPECT_EQ(ring.WritePos, 16u);
    ASSERT_EQ(kernel::RingGet(ring, out, 16), 16u);
    EXPECT_EQ(out[0], 9);
    EXPECT_FALSE(ring.Wrapped);
}

TEST(EventQueue, EmptyQueueGivesTheEmptyRecord) {
    TEvents events;
    TEventRec event = events.GetEvent();
    EXPECT_EQ(event.Kind, 0);
    EXPECT_EQ(event.Id, 0);
    EXPECT_EQ(event.Data, 0);
}

TEST(EventQueue, PostsWithIdZeroAreDropped) {
    TEvents events;
    events.PostMsg(0, 5);
    events.PostTimer(0, 1);
    EXPECT_EQ(events.Pending(), 0u);
}

TEST(EventQueue, FiftyRecordsComeBackInOrderAndTheNextPostWraps) {
    TEvents events;
    for (int i = 1; i <= 50; ++i) {
        events.PostMsg(i, i * 10);
    }
    EXPECT_EQ(events.Capacity(), 50u);
    for (int i = 1; i <= 50; ++i) {
        TEventRec event = events.GetEvent();
        ASSERT_EQ(event.Kind, kernel::evMessage);
        ASSERT_EQ(event.Id, i);
        ASSERT_EQ(event.Data, i * 10);
    }
    events.PostKey(13);
    EXPECT_TRUE(events.Ring().Wrapped);
    EXPECT_EQ(events.GetEvent().Id, 13);
    EXPECT_FALSE(events.Ring().Wrapped);
}

TEST(EventQueue, GrowsInsteadOfOverwritingUnreadRecords) {
    TEvents events;
    // Start mid-ring so that growth has to unwrap the pending records.
    for (int i = 0; i < 30; ++i) {
        events.PostTimer(1, 1);
        events.GetEvent();
    }
    for (int i = 1; i <= 130; ++i) {
        events.PostMsg(i, 0);
    }
    EXPECT_GE(events.Capacity(), 130u);
    for (int i = 1; i <= 130; ++i) {
        ASSERT_EQ(events.GetEvent().Id, i);
    }
    EXPECT_EQ(events.GetEvent().Kind, 0);
}

// Handlers that record their calls into a shared journal.
struct Probe {
    std::string Name;
    std::vector<std::string>* Journal;
    bool Consume = false;
    std::function<void(TEvents&)> Action;
    static TEventRec Handle(void* context, TEvents& events, TEventRec event) {
        auto* probe = static_cast<Probe*>(context);
        probe->Journal->push_back(probe->Name + ":" + std::to_string(event.Kind));
        if (probe->Action) {
            probe->Action(events);
        }
        return probe->Consume ? TEvents::ClearEvent() : event;
    }
};

TEST(HandlerChain, AddingTheSamePairTwiceKeepsOneNode) {
    TEvents events;
    std::vector<std::string> journal;
    Probe a{"A", &journal, false, {}};
    EXPECT_TRUE(events.AddHandler(&Probe::Handle, &a));
    EXPECT_TRUE(events.AddHandler(&Probe::Handle, &a));
    EXPECT_EQ(events.HandlerCount(), 1u);
    Probe b{"B", &journal, false, {}};
    EXPECT_FALSE(events.RemoveHandler(&Probe::Handle, &b));
    EXPECT_EQ(events.HandlerCount(), 1u);
}

TEST(HandlerChain, NewestHandlerRunsFirstAndCanConsume) {
    TEvents events;
    std::vector<std::string> journal;
    Probe a{"A", &journal, false, {}};
    Probe b{"B", &journal, true, {}};
    events.AddHandler(&Probe::Handle, &a);
    events.AddHandler(&Probe::Handle, &b);
    TEventRec result = events.DispatchEvent({kernel::evKey, 0, 13, 0});
    EXPECT_EQ(journal, (std::vector<std::string>{"B:16", "A:0"}));
    EXPECT_EQ(result.Kind, 0);
}

TEST(HandlerChain, WithoutHandlersTheRecordComesBackUnchanged) {
    TEvents events;
    TEventRec result = events.DispatchEvent({kernel::evTimer, 0, 4, 0});
    EXPECT_EQ(result.Kind, kernel::evTimer);
    EXPECT_EQ(result.Id, 4);
}

TEST(HandlerChain, ChangesDuringADispatchTakeEffectWithTheNextEvent) {
    TEvents events;
    std::vector<std::string> journal;
    Probe head{"Head", &journal, false, {}};
    Probe late{"Late", &journal, false, {}};
    Probe removed{"Removed", &journal, false, {}};
    Probe changer{"Changer", &journal, false, {}};
    events.AddHandler(&Probe::Handle, &head);
    events.AddHandler(&Probe::Handle, &removed);
    events.AddHandler(&Probe::Handle, &changer);
    changer.Action = [&](TEvents& queue) {
        queue.AddHandler(&Probe::Handle, &late);
        queue.RemoveHandler(&Probe::Handle, &removed);
        queue.RemoveHandler(&Probe::Handle, &changer);
        changer.Action = nullptr;
    };
    events.DispatchEvent({kernel::evKey, 0, 13, 0});
    EXPECT_EQ(journal, (std::vector<std::string>{"Changer:16", "Removed:16", "Head:16"}));
    journal.clear();
    events.DispatchEvent({kernel::evKey, 0, 13, 0});
    EXPECT_EQ(journal, (std::vector<std::string>{"Late:16", "Head:16"}));
}

TEST(Crc8, MatchesTheCrc8OfThePolynomial0x1D) {
    // The published check value of CRC-8/GSM-A (polynomial 0x1D, initial 0).
    std::uint8_t crc = 0;
    for (char c : std::string("123456789")) {
        crc = kernel::Crc8Step(crc, static_cast<std::uint8_t>(c), 8);
    }
    EXPECT_EQ(crc, 0x37);
    EXPECT_EQ(kernel::Crc8Step(0x80, 0, 1), 0x1D);
    EXPECT_EQ(kernel::Crc8Step(0x12, 0x34, 0), 0x26);
}

} // namespace
