#pragma once

// The serial line as the Windows communications API describes it: the device
// control block, the time-outs and the flag words, with their Windows values.
// The serial component is written against these; the termios device converts.

#include <cstdint>

namespace platform {

enum : std::uint8_t {
    NOPARITY = 0,
    ODDPARITY = 1,
    EVENPARITY = 2,
    MARKPARITY = 3,
    SPACEPARITY = 4,
};

enum : std::uint8_t {
    ONESTOPBIT = 0,
    ONE5STOPBITS = 1,
    TWOSTOPBITS = 2,
};

enum : std::uint8_t {
    DTR_CONTROL_DISABLE = 0,
    DTR_CONTROL_ENABLE = 1,
    DTR_CONTROL_HANDSHAKE = 2,
};

enum : std::uint8_t {
    RTS_CONTROL_DISABLE = 0,
    RTS_CONTROL_ENABLE = 1,
    RTS_CONTROL_HANDSHAKE = 2,
    RTS_CONTROL_TOGGLE = 3,
};

// Event mask bits (SetCommMask, WaitCommEvent).
constexpr std::uint32_t EV_RXCHAR = 0x0001;
constexpr std::uint32_t EV_ERR = 0x0080;
// Not a Windows bit: the line went away (unplugged, the pty master closed).
// Reported once per hang-up; the line never comes back for this open.
constexpr std::uint32_t EV_HANGUP = 0x00010000;

// Line error bits (ClearCommError).
constexpr std::uint32_t CE_RXOVER = 0x0001;
constexpr std::uint32_t CE_OVERRUN = 0x0002;
constexpr std::uint32_t CE_RXPARITY = 0x0004;
constexpr std::uint32_t CE_FRAME = 0x0008;
constexpr std::uint32_t CE_BREAK = 0x0010;

// PurgeComm flags.
constexpr std::uint32_t PURGE_TXABORT = 0x0001;
constexpr std::uint32_t PURGE_RXABORT = 0x0002;
constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

// The fields of the Windows DCB; a value-initialised DCB is all zero.
struct DCB {
    std::uint32_t DCBlength = 0;
    std::uint32_t BaudRate = 0;
    bool fBinary = false;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = DTR_CONTROL_DISABLE;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    std::uint8_t fRtsControl = RTS_CONTROL_DISABLE;
    bool fAbortOnError = false;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = NOPARITY;
    std::uint8_t StopBits = ONESTOPBIT;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;

    bool operator==(const DCB&) const = default;
};

// Milliseconds. A read waits at most ReadTotalTimeoutConstant +
// ReadTotalTimeoutMultiplier * bytes requested while nothing has arrived;
// both 0 means no limit, unless ReadIntervalTimeout is MAXDWORD (return at
// once). A write gets WriteTotalTimeoutConstant + WriteTotalTimeoutMultiplier
// * bytes; both 0 means no limit.
struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const COMMTIMEOUTS&) const = default;
};

} // namespace platform
