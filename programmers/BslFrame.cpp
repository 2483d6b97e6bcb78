#include "programmers/BslFrame.h"

#include <algorithm>

namespace programmers {

using namespace rombsl;

std::uint16_t BslChecksum(const std::uint8_t* bytes, std::size_t count) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < count; i += 2) {
        const std::uint16_t high = i + 1 < count ? bytes[i + 1] : 0;
        sum ^= static_cast<std::uint16_t>(bytes[i] | high << 8);
    }
    return static_cast<std::uint16_t>(sum ^ 0xFFFF);
}

TBslFrame BuildBslFrame(std::uint8_t command, const std::array<std::uint8_t, 4>& head,
                        const std::uint8_t* data, std::size_t count) {
    TBslFrame frame;
    count = data != nullptr ? std::min(count, MaxBody - head.size()) : 0;
    const auto l1 = static_cast<std::uint8_t>(head.size() + count);
    frame.Bytes[0] = FrameStart;
    frame.Bytes[1] = command;
    frame.Bytes[2] = l1;
    frame.Bytes[3] = l1;
    std::copy(head.begin(), head.end(), frame.Bytes.begin() + FrameHead);
    std::copy_n(data, count, frame.Bytes.begin() + FrameHead + head.size());
    const std::uint16_t sum = BslChecksum(frame.Bytes.data(), FrameHead + l1);
    frame.Bytes[FrameHead + l1] = static_cast<std::uint8_t>(sum & 0xFF);
    frame.Bytes[FrameHead + l1 + 1] = static_cast<std::uint8_t>(sum >> 8);
    frame.Size = FrameHead + l1 + 2;
    return frame;
}

std::optional<TBslReply> TBslReplyParser::Next() {
    const std::size_t count = Pending();
    if (count == 0) {
        return std::nullopt;
    }
    const std::uint8_t* bytes = Bytes();
    const auto start =
        static_cast<std::size_t>(std::find(bytes, bytes + count, FrameStart) - bytes);
    std::uint8_t replyByte = 0;
    for (std::size_t i = 0; i < start; ++i) {
        if (bytes[i] == ReplyAck || bytes[i] == ReplyNak || bytes[i] == ReplyNakAlt) {
            replyByte = bytes[i];
        }
    }
    TBslReply reply;
    std::size_t drop = start;
    bool frameGood = false;
    if (count - start >= FrameHead) {
        const std::size_t l1 = bytes[start + 2];
        if (bytes[start + 3] != l1) {
            drop = start + 1; // a stray 0x80, not a frame
        } else if (count - start >= l1 + FrameOverhead) {
            reply.Frame.Size = l1 + FrameOverhead;
            std::copy_n(bytes + start, reply.Frame.Size, reply.Frame.Bytes.begin());
            drop = start + reply.Frame.Size;
            const std::uint16_t sum = BslChecksum(reply.Frame.Bytes.data(), l1 + FrameHead);
            frameGood =
                reply.Frame.Bytes[l1 + 4] == (sum & 0xFF) && reply.Frame.Bytes[l1 + 5] == sum >> 8;
        }
    }
    if (drop == 0) {
        return std::nullopt; // a frame is still coming
    }
    Drop(drop);

    if (frameGood) {
        reply.What = TBslReply::Kind::Frame;
    } else if (replyByte == ReplyAck) {
        reply.What = TBslReply::Kind::Ack;
    } else if (replyByte != 0) {
        reply.What = TBslReply::Kind::Refusal;
    } else {
        reply.What = TBslReply::Kind::Noise;
    }
    return reply;
}

} // namespace programmers
