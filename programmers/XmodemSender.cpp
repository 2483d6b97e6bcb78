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

bool TXmodemSender::Start(std::span<const std::uint8_t> image) {
    if (image.empty() || image.size() % BlockSize != 0) {
        state_ = State::Idle;
        return false;
    }
    image_ = image;
    packetCount_ = static_cast<std::uint32_t>(image.size() / BlockSize);
    built_ = 0;
    BuildNext();
    state_ = State::Waiting;
    return true;
}

void TXmodemSender::BuildNext() {
    packet_ = BuildPacket(built_ + 1, image_.data() + std::size_t{built_} * BlockSize);
    ++built_;
}

std::span<const std::uint8_t> TXmodemSender::OnReceived(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return {};
    }
    switch (state_) {
    case State::Waiting:
        if (bytes[0] != CrcRequest && bytes[0] != Nak) {
            return {};
        }
        state_ = State::Sending;
        return packet_;
    case State::Sending:
        // A 'C' repeated before the first answer asks for packet 1 again;
        // once packets are under way it would only double the next one.
        if (bytes[0] == Nak || (bytes[0] == CrcRequest && built_ == 1)) {
            return packet_;
        }
        if (bytes[0] != Ack) {
            return {};
        }
        if (built_ < packetCount_) {
            BuildNext();
            return packet_;
        }
        state_ = State::EotSent;
        return {&Eot, 1};
    case State::EotSent:
        // A refused end of transfer is repeated alone, never with a packet.
        if (bytes[0] == Nak) {
            return {&Eot, 1};
        }
        if (bytes[0] == Ack) {
            state_ = State::Finished;
        }
        return {};
    case State::Idle:
    case State::Finished:
        return {};
    }
    return {};
}

} // namespace programmers
