#pragma once

// Converts between the Windows line settings (DCB) and termios. Pure
// functions, so that the mapping is tested without a device.

#include "platform/SerialTypes.h"

#include <cstdint>
#include <optional>
#include <termios.h>

namespace platform {

// The termios speed constant for a baud rate, or nothing when the rate needs
// the kernel's custom-speed interface (128000 and 256000 among them).
std::optional<speed_t> StandardSpeed(std::uint32_t baudRate);
// The baud rate of a speed constant; 0 for B0 or an unknown constant.
std::uint32_t BaudRateOfSpeed(speed_t speed);

// Raw mode with the DCB's framing and flow control. Reading never blocks
// (VMIN 0, VTIME 0); the device waits with poll(). The speed is set when it
// is standard; otherwise it is left as it was for the custom-speed call.
// fNull, fDtrControl and fRtsControl ENABLE/DISABLE are not termios matters:
// the read path drops NUL bytes and the modem-line ioctls set DTR and RTS.
void ApplyDcb(const DCB& dcb, termios& tio);

// The DCB that describes a termios state; baudRate is the line's speed in
// baud (termios cannot carry custom speeds).
DCB DcbFromTermios(const termios& tio, std::uint32_t baudRate);

// True when two termios states agree in everything a pty keeps: a pty
// clears PARENB and forces CS8, so those bits are not compared.
bool SameExceptPtyLimits(const termios& wanted, const termios& actual);

} // namespace platform
