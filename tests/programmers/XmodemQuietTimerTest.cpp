#include "programmers/XmodemQuietTimer.h"

#include "platform/TimerComponent.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace programmers {
namespace {

// The sender and its quiet timer on a pool whose timers never run on their
// own: the test keeps the time, notes every (re)arming of a slot as it
// happens and fires a slot when its deadline comes.
class QuietTimerOnFakeTime : public ::testing::Test {
protected:
    static constexpr std::uint32_t Baud115200 = 115200;

    QuietTimerOnFakeTime() {
        std::vector<platform::TTimer*> slots;
        for (int slot = 1; slot <= 3; ++slot) {
            timers_.push_back(std::make_unique<platform::TTimer>(nullptr));
            timers_.back()->SetEnabled(false);
            slots.push_back(timers_.back().get());
        }
        pool_.TimerInit(slots);
        image_.assign(3 * TXmodemSender::BlockSize, 0x5A);
        EXPECT_TRUE(sender_.Start(image_));
    }

    // The receiver sends text (one read) at the time given; the deadlines
    // before it fall first. A deadline at the same moment fires with the
    // bytes beside it, as the loader finds them when its timer comes.
    void At(std::uint32_t time, const std::string& text) {
        RunUntil(time);
        const std::span<const std::uint8_t> bytes{
            reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
        const int slot = DueSlot(time);
        if (slot != 0) {
            expiries_.push_back(time);
        }
        Note(time, slot != 0 ? quiet_.Expired(sender_, bytes, baud_)
                             : quiet_.Received(sender_, bytes, baud_));
    }
    // Fires every deadline before time.
    void RunUntil(std::uint32_t time) {
        for (int slot = NextSlot(); slot != 0 && due_[slot] < time; slot = NextSlot()) {
            const std::uint32_t now = due_[slot];
            ASSERT_TRUE(quiet_.Owns(slot));
            expiries_.push_back(now);
            Note(now, quiet_.Expired(sender_, {}, baud_));
        }
    }
    // The interval of the slot the quiet timer runs now, 0 when none.
    std::uint32_t ArmedInterval() const {
        for (const auto& [slot, due] : due_) {
            if (quiet_.Owns(slot)) {
                return timers_[slot - 1]->Interval();
            }
        }
        return 0;
    }
    // When packet number went out, in order.
    std::vector<std::uint32_t> SentTimes(std::uint8_t number) const {
        std::vector<std::uint32_t> times;
        for (const auto& [time, bytes] : written_) {
            if (bytes.size() == TXmodemSender::PacketSize && bytes[1] == number) {
                times.push_back(time);
            }
        }
        return times;
    }

    std::uint32_t baud_ = Baud115200;
    TXmodemSender sender_;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> written_;
    std::vector<std::uint32_t> expiries_; // when the quiet timer ran out

private:
    void Note(std::uint32_t now, std::span<const std::uint8_t> reply) {
        if (!reply.empty()) {
            written_.push_back({now, {reply.begin(), reply.end()}});
        }
        // Whatever the timer did is seen here: an enabled timer was (re)armed
        // just now; one out of use was stopped.
        for (int slot = 1; slot <= static_cast<int>(timers_.size()); ++slot) {
            platform::TTimer& timer = *timers_[slot - 1];
            if (timer.Enabled()) {
                due_[slot] = now + timer.Interval();
                timer.SetEnabled(false);
            } else if (!pool_.InUse(slot)) {
                due_.erase(slot);
            }
        }
    }
    int NextSlot() const {
        int next = 0;
        for (const auto& [slot, due] : due_) {
            if (next == 0 || due < due_.at(next)) {
                next = slot;
            }
        }
        return next;
    }
    int DueSlot(std::uint32_t time) const {
        const int slot = NextSlot();
        return slot != 0 && due_.at(slot) == time ? slot : 0;
    }

    std::vector<std::unique_ptr<platform::TTimer>> timers_;
    kernel::TTimerPool pool_;
    TXmodemQuietTimer quiet_{pool_};
    std::map<int, std::uint32_t> due_;
    std::vector<std::uint8_t> image_;
};

TEST_F(QuietTimerOnFakeTime, RoundTripWaitLastsPacketTimeOnAnEightNTwoLinePlusHalfASecond) {
    // 133 bytes of 11 bits each (start, 8 data, 2 stop), in whole ms.
    const std::pair<std::uint32_t, std::uint32_t> figures[] = {
        {115200, 1463 * 1000 / 115200 + 500}, // 512
        {9600, 1463 * 1000 / 9600 + 500},     // 652
        {1200, 1463 * 1000 / 1200 + 500},     // 1719
    };
    const std::vector<std::uint8_t> oneBlock(TXmodemSender::BlockSize, 1);
    for (const auto& [baud, roundTripMs] : figures) {
        SCOPED_TRACE(baud);
        baud_ = baud;
        ASSERT_TRUE(sender_.Start(oneBlock));
        At(0, "C");
        EXPECT_EQ(ArmedInterval(), 200u) << "before packet 1, a short silence decides";
        RunUntil(201);
        At(300, "C");
        EXPECT_EQ(ArmedInterval(), roundTripMs);
        At(300 + roundTripMs, "\x06");
        EXPECT_EQ(ArmedInterval(), 0u);
    }
}

TEST_F(QuietTimerOnFakeTime,
       ReceiverRepeatingCFasterThanTheRoundTripIsAnsweredAtTheFirstsDeadline) {
    // 'C' every 300 ms; packet 1 goes out 200 ms after the first. The round
    // trip at 115200 baud is 512 ms and runs from the 'C' that began it.
    for (std::uint32_t time = 0; time <= 1800; time += 300) {
        At(time, "C");
    }
    RunUntil(2000);
    EXPECT_EQ(SentTimes(1), (std::vector<std::uint32_t>{200, 300 + 512, 900 + 512}));
    // The receiver had packet 1 at last: its ACK brings packet 2 and ends the waiting.
    At(2100, "\x06");
    EXPECT_EQ(SentTimes(2), (std::vector<std::uint32_t>{2100}));
    EXPECT_EQ(ArmedInterval(), 0u);
    At(2200, "C");
    RunUntil(5000);
    EXPECT_EQ(SentTimes(2).size(), 1u) << "after packet 1's ACK a 'C' asks for nothing";
}

TEST_F(QuietTimerOnFakeTime, CArrivingWithTheDeadlineDoesNotPutTheRoundTripOff) {
    // Every 256 ms: the third 'C' after packet 1 comes just as the round
    // trip of the first ends, and is read with the expiry.
    for (std::uint32_t time = 0; time <= 768; time += 256) {
        At(time, "C");
    }
    EXPECT_EQ(SentTimes(1), (std::vector<std::uint32_t>{200, 768}));
}

TEST_F(QuietTimerOnFakeTime, AckCrossingTheCEndsTheWaitAndNakResendsAtOnce) {
    At(0, "C");
    RunUntil(201);
    At(300, "C");
    At(400, "\x15");
    EXPECT_EQ(SentTimes(1), (std::vector<std::uint32_t>{200, 400}));
    EXPECT_EQ(ArmedInterval(), 0u) << "the NAK answered packet 1";
    At(500, "C");
    At(600, "\x06");
    RunUntil(3000);
    EXPECT_EQ(SentTimes(1).size(), 2u) << "the 'C' crossed packet 1: its ACK answers it";
    EXPECT_EQ(SentTimes(2), (std::vector<std::uint32_t>{600}));
}

TEST_F(QuietTimerOnFakeTime, SlowTextLineKeepsPushingItsShortSilenceOff) {
    // A bootloader's late line, a byte every 150 ms, before packet 1: each
    // byte restarts the 200 ms, so the silence ends only after the last one.
    const std::string line = "boot ok";
    for (std::size_t at = 0; at < line.size(); ++at) {
        At(static_cast<std::uint32_t>(150 * at), line.substr(at, 1));
    }
    RunUntil(3000);
    EXPECT_EQ(expiries_, (std::vector<std::uint32_t>{900 + 200}));
    EXPECT_TRUE(written_.empty());
    EXPECT_EQ(sender_.GetState(), TXmodemSender::State::Waiting);
}

TEST_F(QuietTimerOnFakeTime, CEndingATextLineWaitsAFullRoundTripFromItself) {
    // Packet 1 is out; a line that began with the short silence ends, as it
    // runs out, in a 'C' that may have crossed packet 1. That 'C' begins its
    // own round trip: the short silence it came with is no round trip.
    At(0, "C");
    RunUntil(201);
    At(300, "x");
    At(500, "\r\nC");
    RunUntil(3000);
    EXPECT_EQ(SentTimes(1), (std::vector<std::uint32_t>{200, 500 + 512}));
}

} // namespace
} // namespace programmers
