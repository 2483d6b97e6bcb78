#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim::rombsl {

// Bytes of the MSP430 ROM bootstrap loader's serial protocol.
inline constexpr std::uint8_t kSync = 0x80;   // also the frame header
inline constexpr std::uint8_t kAck = 0x90;    // DATA_ACK
inline constexpr std::uint8_t kRefuse = 0xA0; // DATA_NAK

inline constexpr std::uint8_t kCmdRxPassword = 0x10;
inline constexpr std::uint8_t kCmdRxData = 0x12;
inline constexpr std::uint8_t kCmdTxData = 0x14;
inline constexpr std::uint8_t kCmdEraseSegment = 0x16;
inline constexpr std::uint8_t kCmdMassErase = 0x18;
inline constexpr std::uint8_t kCmdLoadPc = 0x1A;
inline constexpr std::uint8_t kCmdEraseCheck = 0x1C;
inline constexpr std::uint8_t kCmdTxVersion = 0x1E;
inline constexpr std::uint8_t kCmdChangeBaud = 0x20;
inline constexpr std::uint8_t kCmdMemoryOffset = 0x21;

// Replies carry a dummy command byte.
inline constexpr std::uint8_t kReplyCmd = 0x00;

// Frame: 80 CMD L1 L2 AL AH LL LH data CKL CKH, L1 counting address, length and data.
inline constexpr std::size_t kFrameHead = 4; // 80 CMD L1 L2
inline constexpr std::size_t kMinL1 = 4;
inline constexpr std::size_t kMaxL1 = 254; // the loader's 256-byte frame buffer, minus the head
inline constexpr std::size_t kMaxReadLength = 250;
inline constexpr std::size_t kPasswordLength = 32;

// Inverted XOR of the little-endian 16-bit words of `bytes` (an odd tail counts as a low byte).
std::uint16_t Checksum(std::string_view bytes);

// A data frame as the loader sends it: header, dummy command, L1 = L2 = data size, data, checksum.
std::string DataFrame(std::string_view data);

// A received frame taken apart; valid only while the bytes it was built from live.
struct Frame {
    std::uint8_t cmd = 0;
    std::uint16_t address = 0; // AL AH
    std::uint8_t ll = 0, lh = 0;
    std::string_view data; // after LL LH

    std::uint16_t Length() const { return static_cast<std::uint16_t>(ll | lh << 8); }
};

// `bytes` is a whole frame with a right length; false when its checksum is wrong.
bool ParseFrame(std::string_view bytes, Frame& out);

} // namespace sim::rombsl
