#include "programmers/Bsl5xxFrame.h"

#include "programmers/Crc16.h"

#include <algorithm>

namespace programmers {

using namespace bsl5xx;

TBsl5xxFrame Build5xxFrame(std::uint8_t command, const std::uint8_t* data, std::size_t count) {
    TBsl5xxFrame frame;
    count = data != nullptr ? std::min(count, MaxCore - 1) : 0;
    const std::size_t core = count + 1;
    frame.Bytes[0] = FrameStart;
    frame.Bytes[1] = static_cast<std::uint8_t>(core & 0xFF);
    frame.Bytes[2] = static_cast<std::uint8_t>(core >> 8);
    frame.Bytes[3] = command;
    std::copy_n(data, count, frame.Bytes.begin() + 4);
    const std::uint16_t crc = Crc16(frame.Bytes.data() + 3, core, Crc16InitBsl5xx);
    frame.Bytes[3 + core] = static_cast<std::uint8_t>(crc & 0xFF);
    frame.Bytes[4 + core] = static_cast<std::uint8_t>(crc >> 8);
    frame.Size = core + FrameOverhead;
    return frame;
}

std::optional<TBsl5xxReply> TBsl5xxReplyParser::Next() {
    const std::size_t count = Pending();
    if (count == 0) {
        return std::nullopt;
    }
    TBsl5xxReply reply;
    const std::uint8_t first = At(0);
    if (first != FrameStart) {
        if (first == ReplyAck) {
            reply.What = TBsl5xxReply::Kind::Ack;
        } else if ((first & ErrorBits) != 0) {
            reply.What = TBsl5xxReply::Kind::Error;
            reply.Code = first;
        }
        Drop(1);
        return reply;
    }
    if (count < 3) {
        return std::nullopt;
    }
    const std::size_t core = At(1) | static_cast<std::size_t>(At(2)) << 8;
    if (core == 0 || core > MaxCore) {
        Drop(3); // no response has that length: a damaged header
        return reply;
    }
    if (count < core + FrameOverhead) {
        return std::nullopt;
    }
    const std::uint16_t crc = Crc16(Bytes() + 3, core, Crc16InitBsl5xx);
    const bool crcGood = At(3 + core) == (crc & 0xFF) && At(4 + core) == crc >> 8;
    if (!crcGood) {
        // Whole, so that no byte of it is taken for an acknowledge.
        Drop(core + FrameOverhead);
        return reply;
    }
    reply.Frame.Size = core + FrameOverhead;
    std::copy_n(Bytes(), reply.Frame.Size, reply.Frame.Bytes.begin());
    Drop(reply.Frame.Size);
    const std::uint8_t kind = reply.Frame.Core()[0];
    if (kind == CoreData) {
        reply.What = TBsl5xxReply::Kind::Data;
    } else if (kind == CoreMessage && core >= 2) {
        reply.What = TBsl5xxReply::Kind::Message;
        reply.Code = reply.Frame.Core()[1];
    }
    return reply;
}

} // namespace programmers
