#include "kernel/Bufferunit.h"

#include <cstring>

namespace kernel {

TRingBuffer RingCreate(std::uint32_t start, std::uint32_t end, std::uint8_t* storage) {
    TRingBuffer ring;
    ring.Start = start;
    ring.End = end;
    ring.Data = storage;
    return ring;
}

// Wraps only when a write does not fit: after exactly End bytes WritePos
// stands at End, and the next write starts over at Start.
void RingPut(TRingBuffer& ring, const void* source, std::uint32_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(source);
    if (ring.WritePos + length > ring.End) {
        std::uint32_t part = ring.End - ring.WritePos;
        std::memcpy(ring.Data + ring.WritePos, bytes, part);
        bytes += part;
        length -= part;
        ring.WritePos = ring.Start;
        ring.Wrapped = true;
    }
    std::memcpy(ring.Data + ring.WritePos, bytes, length);
    ring.WritePos += length;
}

std::uint32_t RingGet(TRingBuffer& ring, void* dest, std::uint32_t length) {
    if (!(ring.ReadPos < ring.WritePos || ring.Wrapped)) {
        return 0;
    }
    auto* bytes = static_cast<std::uint8_t*>(dest);
    std::uint32_t left = length;
    if (ring.ReadPos + left > ring.End) {
        std::uint32_t part = ring.End - ring.ReadPos;
        std::memcpy(bytes, ring.Data + ring.ReadPos, part);
        bytes += part;
        left -= part;
        ring.ReadPos = ring.Start;
        ring.Wrapped = false;
    }
    std::memcpy(bytes, ring.Data + ring.ReadPos, left);
    ring.ReadPos += left;
    return length;
}

std::uint8_t Crc8Step(std::uint8_t crc, std::uint8_t value, int steps) {
    crc ^= value;
    for (int i = 0; i < steps; ++i) {
        bool top = (crc & 0x80) != 0;
        crc = static_cast<std::uint8_t>(crc << 1);
        if (top) {
            crc ^= 0x1D;
        }
    }
    return crc;
}

} // namespace kernel
