#pragma once

#include "kernel/Timer.h"
#include "programmers/XmodemSender.h"

#include <cstdint>
#include <span>

namespace programmers {

// Times the receiver's silence that the sender waits for (see
// TXmodemSender::AwaitsQuiet) on one slot of the timer pool, and hands the
// sender what arrives and what the silence decides. The owner stops it when
// the transfer ends.
class TXmodemQuietTimer {
public:
    // A 'C' at the end of a read is a request only when nothing follows it
    // for this long; a text line's bytes follow each other closely.
    static constexpr std::uint32_t QuietMs = 200;
    // A 'C' that may have crossed packet 1 is a request only when no ACK or
    // NAK came within the packet's way out, the receiver's work and its ACK's
    // way back, counted from the first such 'C'; this is the margin beyond
    // the packet's own time on the line. Far more than a block's flash write,
    // and short enough that a receiver repeating 'C' every 3 s still gets
    // packet 1 again a few times before the 10 s watchdog ends the upload.
    static constexpr std::uint32_t RoundTripMarginMs = 500;
    // The bootloader's line is 8N2 at either speed: a start bit, 8 data bits
    // and 2 stop bits, 11 bits a byte; a packet is 133 bytes.
    static constexpr std::uint32_t LineBitsPerByte = 11;

    explicit TXmodemQuietTimer(kernel::TTimerPool& pool) : pool_(pool) {}
    TXmodemQuietTimer(const TXmodemQuietTimer&) = delete;
    TXmodemQuietTimer& operator=(const TXmodemQuietTimer&) = delete;

    // The round trip of packet 1 at the line's speed (bits per second).
    static std::uint32_t RoundTripMs(std::uint32_t baud);

    // The receiver's bytes of one read; the result is what to write.
    std::span<const std::uint8_t> Received(TXmodemSender& sender,
                                           std::span<const std::uint8_t> bytes, std::uint32_t baud);
    // The timer ran out; bytes are those that came with it, not yet handed
    // over. The result is what to write.
    std::span<const std::uint8_t> Expired(TXmodemSender& sender,
                                          std::span<const std::uint8_t> bytes, std::uint32_t baud);

    bool Owns(int slot) const { return slot_ != 0 && slot == slot_; }
    void Stop();

private:
    // Arms, keeps or stops the timer for what the sender waits for now.
    void Follow(const TXmodemSender& sender, std::uint32_t baud);

    kernel::TTimerPool& pool_;
    int slot_ = 0;
    bool roundTrip_ = false; // slot_ runs a round-trip wait
};

} // namespace programmers
