#include "programmers/XmodemSender.h"

#include "programmers/Crc16.h"

#include <algorithm>

namespace programmers {

std::array<std::uint8_t, TXmodemSender::PacketSize>
TXmodemSender::BuildPacket(std::uint32_t number, const std::uint8_t* data) {
    std::array<std::uint8_t, PacketSize> packet{};
    packet[0] = Soh;
    packet[1] = static_cast<std::uint8_t>(number);
    packet[2] = static_cast<std::uint8_t>(~number);
    std::copy(data, data + BlockSize, packet.begin() + 3);
    const std::uint16_t crc = Crc16(data, BlockSize, Crc16InitXmodem);
    packet[PacketSize - 2] = static_cast<std::uint8_t>(crc >> 8);
    packet[PacketSize - 1] = static_cast<std::uint8_t>(crc);
    return packet;
}

namespace {

bool Printable(std::uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F;
}

bool IsAnswer(std::uint8_t byte) {
    return byte == TXmodemSender::Ack || byte == TXmodemSender::Nak || byte == TXmodemSender::Can;
}

// What follows a 'C' tells a text line ("CRC ok") from a receiver's 'C',
// which stands alone or before another answer.
bool ContinuesText(std::uint8_t next) {
    return next == '\r' || next == '\n' || (Printable(next) && next != TXmodemSender::CrcRequest);
}

} // namespace

bool TXmodemSender::Start(std::span<const std::uint8_t> image) {
    refusals_ = 0;
    restarts_ = 0;
    canPending_ = false;
    inText_ = false;
    heldC_ = false;
    crossingC_ = false;
    failure_ = Failure::None;
    if (image.empty() || image.size() % BlockSize != 0) {
        state_ = State::Idle;
        return false;
    }
    image_ = image;
    packetCount_ = static_cast<std::uint32_t>(image.size() / BlockSize);
    built_ = 0;
    acknowledged_ = 0;
    BuildNext();
    state_ = State::Waiting;
    return true;
}

void TXmodemSender::BuildNext() {
    packet_ = BuildPacket(built_ + 1, image_.data() + std::size_t{built_} * BlockSize);
    ++built_;
    refusals_ = 0;
}

bool TXmodemSender::Refused() {
    return ++refusals_ < MaxRefusals;
}

std::span<const std::uint8_t> TXmodemSender::Fail(Failure failure) {
    state_ = State::Failed;
    failure_ = failure;
    return {};
}

bool TXmodemSender::Running() const {
    return state_ == State::Waiting || state_ == State::Sending || state_ == State::EotSent;
}

bool TXmodemSender::Packet1Unacknowledged() const {
    return state_ == State::Sending && acknowledged_ == 0;
}

bool TXmodemSender::AwaitsQuiet() const {
    return Running() && (heldC_ || inText_ || crossingC_);
}

bool TXmodemSender::AwaitsRoundTrip() const {
    return Packet1Unacknowledged() && (heldC_ || crossingC_);
}

std::span<const std::uint8_t> TXmodemSender::OnReceived(std::span<const std::uint8_t> bytes) {
    std::span<const std::uint8_t> reply;
    const auto answer = [&](std::uint8_t byte) {
        if (!reply.empty() && byte != Can) {
            return;
        }
        if (byte == CrcRequest && Packet1Unacknowledged()) {
            crossingC_ = true;
            return;
        }
        if (byte == Ack || byte == Nak) {
            crossingC_ = false; // the receiver had packet 1 after all
        }
        const std::span<const std::uint8_t> out = Judge(byte);
        if (!out.empty()) {
            reply = out;
        }
    };
    if (heldC_ && !bytes.empty()) {
        heldC_ = false;
        if (ContinuesText(bytes.front())) {
            inText_ = true;
        } else {
            answer(CrcRequest);
        }
    }
    for (std::size_t at = 0; at < bytes.size() && Running(); ++at) {
        const std::uint8_t byte = bytes[at];
        if (IsAnswer(byte)) {
            inText_ = false; // control bytes never stand in a text line: one ends it
            answer(byte);
            continue;
        }
        if (byte == CrcRequest && !inText_) {
            if (at + 1 == bytes.size()) {
                // After a reply it is stale either way; else the next read
                // or the silence after it tells.
                heldC_ = reply.empty();
                continue;
            }
            if (!ContinuesText(bytes[at + 1])) {
                answer(byte);
                continue;
            }
        }
        canPending_ = false; // text and noise break a row of CANs
        inText_ = byte != '\n' && byte != '\r' && (inText_ || Printable(byte));
    }
    return state_ == State::Failed ? std::span<const std::uint8_t>() : reply;
}

std::span<const std::uint8_t> TXmodemSender::OnQuiet() {
    const bool request = (heldC_ || crossingC_) && Running();
    heldC_ = false;
    crossingC_ = false;
    inText_ = false;
    if (!request) {
        return {};
    }
    const std::span<const std::uint8_t> out = Judge(CrcRequest);
    return state_ == State::Failed ? std::span<const std::uint8_t>() : out;
}

std::span<const std::uint8_t> TXmodemSender::Judge(std::uint8_t answer) {
    // A receiver cancels with two CANs in a row; one alone may be line noise.
    if (answer == Can) {
        if (canPending_) {
            return Fail(Failure::Cancelled);
        }
        canPending_ = true;
        return {};
    }
    canPending_ = false;
    if (answer == CrcRequest && state_ != State::Waiting && ++restarts_ >= MaxRestarts) {
        return Fail(Failure::Restarted);
    }
    switch (state_) {
    case State::Waiting:
        if (answer != CrcRequest && answer != Nak) {
            return {};
        }
        state_ = State::Sending;
        return packet_;
    case State::Sending:
        if (answer == Nak) {
            return Refused() ? std::span<const std::uint8_t>(packet_) : Fail(Failure::Refused);
        }
        // A repeated 'C' says packet 1 did not arrive. Once it is
        // acknowledged, only NAK asks for a packet again: a packet sent twice
        // draws a second ACK that would pass for the next packet's. A
        // receiver that keeps asking runs into the bound above.
        if (answer == CrcRequest) {
            return acknowledged_ == 0 ? std::span<const std::uint8_t>(packet_)
                                      : std::span<const std::uint8_t>();
        }
        if (answer != Ack) {
            return {};
        }
        ++acknowledged_;
        if (built_ < packetCount_) {
            BuildNext();
            return packet_;
        }
        state_ = State::EotSent;
        refusals_ = 0;
        return {&Eot, 1};
    case State::EotSent:
        // A refused end of transfer is repeated alone, never with a packet.
        if (answer == Nak) {
            return Refused() ? std::span<const std::uint8_t>(&Eot, 1) : Fail(Failure::Refused);
        }
        if (answer == Ack) {
            ++acknowledged_;
            state_ = State::Finished;
        }
        return {};
    default:
        return {};
    }
}

} // namespace programmers
