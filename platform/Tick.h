#pragma once

#include <cstdint>

namespace platform {

// Milliseconds from the monotonic clock, wrapping at 2^32 like the Windows
// counter; callers compare with unsigned differences.
std::uint32_t GetTickCount();

// Sleeps the calling thread; never spins.
void SleepMs(std::uint32_t ms);

} // namespace platform
