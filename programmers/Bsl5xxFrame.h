#pragma once

#include "programmers/ReplyBuffer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace programmers {

// The MSP430 5xx/6xx UART bootstrap loader's wire format, as the chip maker
// publishes it: 0x80, a 16-bit core length, the core (command and data) and
// a CRC-16 over the core, all low byte first.
namespace bsl5xx {
inline constexpr std::uint8_t CmdRxData = 0x10;
inline constexpr std::uint8_t CmdRxPassword = 0x11;
inline constexpr std::uint8_t CmdEraseSegment = 0x12;
inline constexpr std::uint8_t CmdLoadPc = 0x17;
inline constexpr std::uint8_t CmdTxData = 0x18;
inline constexpr std::uint8_t CmdTxVersion = 0x19;
inline constexpr std::uint8_t CmdChangeBaud = 0x52;
inline constexpr std::uint8_t Baud38400 = 0x04;

inline constexpr std::uint8_t FrameStart = 0x80;
inline constexpr std::uint8_t ReplyAck = 0x00;
inline constexpr std::uint8_t ErrorBits = 0x50; // any of them set: the frame was refused
inline constexpr std::uint8_t CoreData = 0x3A;
inline constexpr std::uint8_t CoreMessage = 0x3B;

// Message codes.
inline constexpr std::uint8_t MsgSuccess = 0;
inline constexpr std::uint8_t MsgWriteCheckFailed = 1;
inline constexpr std::uint8_t MsgFlashFailBit = 2;
inline constexpr std::uint8_t MsgVoltageChange = 3;
inline constexpr std::uint8_t MsgPasswordError = 5;

inline constexpr std::size_t FrameOverhead = 5; // start, length, CRC
inline constexpr std::size_t MaxCore = 260;     // command, 3 address bytes, 256 data bytes
} // namespace bsl5xx

struct TBsl5xxFrame {
    static constexpr std::size_t MaxSize = bsl5xx::MaxCore + bsl5xx::FrameOverhead;
    std::array<std::uint8_t, MaxSize> Bytes{};
    std::size_t Size = 0;
    std::size_t CoreSize() const { return Size >= bsl5xx::FrameOverhead ? Size - 5 : 0; }
    const std::uint8_t* Core() const { return Bytes.data() + 3; }
};

// A command frame; data beyond what one frame may carry is cut off.
TBsl5xxFrame Build5xxFrame(std::uint8_t command, const std::uint8_t* data = nullptr,
                           std::size_t count = 0);

struct TBsl5xxReply {
    enum class Kind {
        Ack,     // the byte 0x00
        Error,   // a refusal byte
        Data,    // a response frame 0x3A: Data() holds what follows it
        Message, // a response frame 0x3B with its Code
        Noise,   // anything else, dropped
    };
    Kind What = Kind::Noise;
    std::uint8_t Code = 0;
    TBsl5xxFrame Frame;
    const std::uint8_t* Data() const { return Frame.Core() + 1; }
    std::size_t DataCount() const { return Frame.CoreSize() > 0 ? Frame.CoreSize() - 1 : 0; }
};

// Takes the loader's replies out of its bytes. A byte in front of a frame
// start that is neither an acknowledge nor a refusal, a frame with a wrong
// CRC or a length no response has, is dropped, so that nothing stalls.
class TBsl5xxReplyParser : public TReplyBuffer {
public:
    // The next reply; nothing while a frame is still arriving or the buffer
    // is empty.
    std::optional<TBsl5xxReply> Next();
};

} // namespace programmers
