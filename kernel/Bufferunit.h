#pragma once

#include <cstddef>
#include <cstdint>

namespace kernel {

// Byte ring over storage it does not own. The writer never checks the
// reader; the event queue keeps it from overrunning by growing first.
struct TRingBuffer {
    std::uint32_t WritePos = 0;
    std::uint32_t ReadPos = 0;
    std::uint32_t Start = 0;
    std::uint32_t End = 0;
    bool Wrapped = false;
    std::uint8_t* Data = nullptr;
};

TRingBuffer RingCreate(std::uint32_t start, std::uint32_t end, std::uint8_t* storage);
void RingPut(TRingBuffer& ring, const void* source, std::uint32_t length);
// Bytes copied: length, or 0 when nothing is pending.
std::uint32_t RingGet(TRingBuffer& ring, void* dest, std::uint32_t length);

// One step of CRC-8 with the polynomial x^8+x^4+x^3+x^2+1, most significant
// bit first: xors value into crc, then shifts steps times.
std::uint8_t Crc8Step(std::uint8_t crc, std::uint8_t value, int steps);

} // namespace kernel
