#pragma once

#include "platform/SerialTypes.h"

#include <cstddef>
#include <cstdint>

namespace platform {

// How long count bytes may take to be written and leave the line: their time
// on the line at the DCB's speed and format, twice over, plus the write
// time-out for them (one second where the port has none).
std::uint32_t WriteBoundMs(const DCB& dcb, const COMMTIMEOUTS& timeouts, std::size_t count);

} // namespace platform
