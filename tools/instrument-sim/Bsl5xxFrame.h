#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim::bsl5xx {

// Bytes of the MSP430 5xx/6xx UART bootstrap loader's protocol.
inline constexpr std::uint8_t kHeader = 0x80;

// The single byte that answers every frame.
inline constexpr std::uint8_t kAck = 0x00;
inline constexpr std::uint8_t kErrHeader = 0x51;
inline constexpr std::uint8_t kErrChecksum = 0x52;
inline constexpr std::uint8_t kErrSizeZero = 0x53;
inline constexpr std::uint8_t kErrSizeTooLarge = 0x54;
inline constexpr std::uint8_t kErrUnknown = 0x55;
inline constexpr std::uint8_t kErrBaudRate = 0x56;

inline constexpr std::uint8_t kCmdRxData = 0x10;
inline constexpr std::uint8_t kCmdRxPassword = 0x11;
inline constexpr std::uint8_t kCmdEraseSegment = 0x12;
inline constexpr std::uint8_t kCmdToggleInfoLock = 0x13;
inline constexpr std::uint8_t kCmdMassErase = 0x15;
inline constexpr std::uint8_t kCmdLoadPc = 0x17;
inline constexpr std::uint8_t kCmdTxData = 0x18;
inline constexpr std::uint8_t kCmdTxVersion = 0x19;
inline constexpr std::uint8_t kCmdChangeBaud = 0x52;

// First core byte of a response frame.
inline constexpr std::uint8_t kRespData = 0x3A;
inline constexpr std::uint8_t kRespMessage = 0x3B;

// Codes of a message response.
inline constexpr std::uint8_t kMsgOk = 0;
inline constexpr std::uint8_t kMsgWriteCheckFailed = 1;
inline constexpr std::uint8_t kMsgFailBit = 2;
inline constexpr std::uint8_t kMsgLocked = 4;
inline constexpr std::uint8_t kMsgPasswordError = 5;
inline constexpr std::uint8_t kMsgUnknownCommand = 7;

inline constexpr std::size_t kBufferSize = 260; // core bytes the loader can take in one frame
inline constexpr std::size_t kPasswordLength = 32;

// CRC-16 with polynomial 0x1021, start 0xFFFF, no reflection, no final XOR.
std::uint16_t Crc16(std::string_view bytes);

// 80, N low first, core, CRC of the core low first.
std::string WrapCore(std::string_view core);

} // namespace sim::bsl5xx
