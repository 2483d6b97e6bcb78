#pragma once

#include "programmers/ReplyBuffer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace programmers {

// The MSP430 ROM bootstrap loader's wire format, as the chip maker publishes
// it: commands, reply bytes and frames with an inverted-XOR checksum.
namespace rombsl {
inline constexpr std::uint8_t CmdSync = 0x80; // also the frame header
inline constexpr std::uint8_t CmdRxPassword = 0x10;
inline constexpr std::uint8_t CmdRxData = 0x12;
inline constexpr std::uint8_t CmdTxData = 0x14;
inline constexpr std::uint8_t CmdEraseSegment = 0x16;
inline constexpr std::uint8_t CmdLoadPc = 0x1A;
inline constexpr std::uint8_t CmdTxVersion = 0x1E;
inline constexpr std::uint8_t CmdChangeBaud = 0x20;
inline constexpr std::uint8_t CmdSetOffset = 0x21;
inline constexpr std::uint8_t Filler = 'X'; // unused address and length bytes

inline constexpr std::uint8_t ReplyAck = 0x90;
inline constexpr std::uint8_t ReplyNak = 0xA0;
inline constexpr std::uint8_t ReplyNakAlt = 0x70;
inline constexpr std::uint8_t FrameStart = 0x80;

inline constexpr std::size_t FrameHead = 4;     // 0x80, command, L1, L2
inline constexpr std::size_t FrameOverhead = 6; // head and checksum
inline constexpr std::size_t MaxBody = 255;     // L1 is one byte
} // namespace rombsl

// A frame as the ROM loader sends and takes it: 0x80, a byte, L1, L2, L1
// bytes, CKL, CKH.
struct TBslFrame {
    static constexpr std::size_t MaxSize = rombsl::FrameHead + rombsl::MaxBody + 2;
    std::array<std::uint8_t, MaxSize> Bytes{};
    std::size_t Size = 0;
    std::size_t DataCount() const { return Size >= rombsl::FrameOverhead ? Size - 6 : 0; }
    const std::uint8_t* Data() const { return Bytes.data() + rombsl::FrameHead; }
};

// The inverted XOR of the 16-bit words (even byte low) over count bytes; an
// odd last byte stands alone in its word.
std::uint16_t BslChecksum(const std::uint8_t* bytes, std::size_t count);

// A command frame: header, command, L1 = L2 = 4 + count, the four address
// and length bytes, the data, the checksum. Data beyond what L1 can count
// is cut off.
TBslFrame BuildBslFrame(std::uint8_t command, const std::array<std::uint8_t, 4>& head,
                        const std::uint8_t* data = nullptr, std::size_t count = 0);

// What the loader answered.
struct TBslReply {
    enum class Kind {
        Noise,   // bytes that answer nothing, or a frame with a wrong checksum
        Ack,     // 0x90
        Refusal, // 0xA0 or 0x70
        Frame,   // a complete frame with a correct checksum
    };
    Kind What = Kind::Noise;
    TBslFrame Frame;
};

// Collects the loader's bytes and takes its replies out of them. Everything
// in front of a frame start is a reply byte or noise and goes; a frame goes
// whole once it is complete. Only one reply is ever outstanding, so of
// several reply bytes the last one counts, and a good frame wins over them.
class TBslReplyParser : public TReplyBuffer {
public:
    // The next reply, or nothing while a frame is still arriving or the
    // buffer is empty.
    std::optional<TBslReply> Next();
};

} // namespace programmers
