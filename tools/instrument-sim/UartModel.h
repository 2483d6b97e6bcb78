#pragma once

#include "tools/instrument-sim/LineSettings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

enum class Parity { None, Odd, Even, Mark, Space };

// The character format of one end of the line.
struct UartFrame {
    unsigned baud = 9600;
    int dataBits = 8; // 5..8
    Parity parity = Parity::None;
    int stopBits = 1; // 1 or 2

    bool operator==(const UartFrame&) const = default;
};

// Which stop bits a receiver tests: common UARTs test the first only; a strict
// receiver tests every one its format has.
enum class StopCheck { First, Every };

// What a pty shows of a line: its speed and stop bits; data bits and parity
// are invisible there, so both ends count as 8 data bits without parity.
UartFrame FrameOf(const LineSettings& line);

// Bits of one character: start, data, parity when set, stop.
int BitsPerCharacter(const UartFrame& frame);
// Microseconds that count characters take back to back (0 at speed 0).
std::uint64_t WireMicros(std::size_t count, const UartFrame& frame);

// What a receiver at its own settings reads of bytes sent back to back at the
// sender's, the line idle before and after: it waits for a falling edge,
// tests the start bit in its middle (a high level there was a glitch), samples
// each further bit in its middle at its own speed and reads a character whose
// tested stop bit is low (a framing error) as NUL, as Linux delivers it without
// PARMRK or INPCK. Parity is not tested. Equal settings give the bytes back; a
// speed of 0 on either end reads nothing. A sample that falls on the sender's
// bit boundary sees the later bit, as a receiver that noticed the edge late.
std::string ReadAs(std::string_view bytes, const UartFrame& sender, const UartFrame& receiver,
                   StopCheck check = StopCheck::First);

} // namespace sim
