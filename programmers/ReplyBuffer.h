#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace programmers {

// The bytes a loader has sent and no parser has taken yet.
class TReplyBuffer {
public:
    static constexpr std::size_t Capacity = 2048;

    // Where the next bytes go and how many fit; Commit says how many came.
    std::uint8_t* Free() { return bytes_.data() + count_; }
    std::size_t FreeSpace() const { return Capacity - count_; }
    void Commit(std::size_t count) { count_ = std::min(Capacity, count_ + count); }
    void Clear() { count_ = 0; }
    std::size_t Pending() const { return count_; }

protected:
    const std::uint8_t* Bytes() const { return bytes_.data(); }
    std::uint8_t At(std::size_t i) const { return bytes_[i]; }
    // Removes the first count bytes.
    void Drop(std::size_t count) {
        count = std::min(count, count_);
        std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(count),
                  bytes_.begin() + static_cast<std::ptrdiff_t>(count_), bytes_.begin());
        count_ -= count;
    }

private:
    std::array<std::uint8_t, Capacity> bytes_{};
    std::size_t count_ = 0;
};

} // namespace programmers
