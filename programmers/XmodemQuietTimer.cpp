#include "programmers/XmodemQuietTimer.h"

namespace programmers {

std::uint32_t TXmodemQuietTimer::RoundTripMs(std::uint32_t baud) {
    const std::uint32_t packetMs =
        baud == 0
            ? 0
            : static_cast<std::uint32_t>(TXmodemSender::PacketSize * LineBitsPerByte * 1000 / baud);
    return packetMs + RoundTripMarginMs;
}

void TXmodemQuietTimer::Stop() {
    slot_ = pool_.TimerStop(slot_);
    roundTrip_ = false;
}

void TXmodemQuietTimer::Follow(const TXmodemSender& sender, std::uint32_t baud) {
    if (!sender.AwaitsQuiet()) {
        Stop();
        return;
    }
    const bool roundTrip = sender.AwaitsRoundTrip();
    if (slot_ != 0 && roundTrip_ == roundTrip) {
        // A round trip runs from the 'C' that began it: a receiver repeating
        // 'C' faster than that would otherwise never be answered. Text and a
        // held 'C' wait for silence after their last byte.
        if (!roundTrip) {
            pool_.TimerRestart(slot_);
        }
        return;
    }
    Stop();
    slot_ = pool_.TimerStart(roundTrip ? RoundTripMs(baud) : QuietMs);
    roundTrip_ = roundTrip;
}

std::span<const std::uint8_t> TXmodemQuietTimer::Received(TXmodemSender& sender,
                                                          std::span<const std::uint8_t> bytes,
                                                          std::uint32_t baud) {
    const std::span<const std::uint8_t> reply = sender.OnReceived(bytes);
    Follow(sender, baud);
    return reply;
}

std::span<const std::uint8_t> TXmodemQuietTimer::Expired(TXmodemSender& sender,
                                                         std::span<const std::uint8_t> bytes,
                                                         std::uint32_t baud) {
    const bool roundTripOver = roundTrip_;
    Stop();
    std::span<const std::uint8_t> reply;
    if (!bytes.empty()) {
        reply = sender.OnReceived(bytes);
    }
    // Bytes that came with the deadline end a short silence; a round trip
    // they bring no ACK or NAK for is over all the same.
    if (reply.empty() && (bytes.empty() || (roundTripOver && sender.AwaitsRoundTrip()))) {
        reply = sender.OnQuiet();
    }
    Follow(sender, baud);
    return reply;
}

} // namespace programmers
