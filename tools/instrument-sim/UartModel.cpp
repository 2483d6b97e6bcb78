#include "tools/instrument-sim/UartModel.h"

#include <algorithm>
#include <bit>

namespace sim {
namespace {

bool ParityBit(unsigned data, Parity parity) {
    const bool oddOnes = std::popcount(data) % 2 != 0;
    switch (parity) {
    case Parity::Odd:
        return !oddOnes;
    case Parity::Even:
        return oddOnes;
    case Parity::Mark:
        return true;
    case Parity::Space:
    case Parity::None:
        break;
    }
    return false;
}

// The sender's line, one level per sender bit, idle (high) outside the bytes.
class SentLine {
public:
    SentLine(std::string_view bytes, const UartFrame& frame)
        : bytes_(bytes), frame_(frame), perChar_(static_cast<unsigned>(BitsPerCharacter(frame))) {}

    std::uint64_t Bits() const { return bytes_.size() * perChar_; }

    bool Level(std::uint64_t bit) const {
        if (bit >= Bits())
            return true;
        const unsigned data =
            static_cast<unsigned char>(bytes_[bit / perChar_]) & ((1u << frame_.dataBits) - 1);
        const auto at = static_cast<int>(bit % perChar_);
        if (at == 0)
            return false; // start bit
        if (at <= frame_.dataBits)
            return (data >> (at - 1)) & 1u;
        if (frame_.parity != Parity::None && at == frame_.dataBits + 1)
            return ParityBit(data, frame_.parity);
        return true; // stop bits
    }

private:
    std::string_view bytes_;
    UartFrame frame_;
    unsigned perChar_;
};

} // namespace

UartFrame FrameOf(const LineSettings& line) {
    return {line.baud, 8, Parity::None, line.stopBits};
}

int BitsPerCharacter(const UartFrame& frame) {
    return 1 + frame.dataBits + (frame.parity == Parity::None ? 0 : 1) + frame.stopBits;
}

std::uint64_t WireMicros(std::size_t count, const UartFrame& frame) {
    if (frame.baud == 0)
        return 0;
    const std::uint64_t bits = count * static_cast<std::uint64_t>(BitsPerCharacter(frame));
    return (bits * 1'000'000 + frame.baud - 1) / frame.baud;
}

std::string ReadAs(std::string_view bytes, const UartFrame& sender, const UartFrame& receiver,
                   StopCheck check) {
    if (sender.baud == 0 || receiver.baud == 0)
        return {};
    if (sender == receiver)
        return std::string(bytes);
    const SentLine line(bytes, sender);
    // Time in units of 1 / (2 * sender baud * receiver baud) s keeps every bit
    // edge and every mid-bit sample on a whole number.
    const std::uint64_t sentBit = 2ull * receiver.baud;
    const std::uint64_t readBit = 2ull * sender.baud;
    const std::uint64_t halfReadBit = sender.baud;
    auto levelAt = [&](std::uint64_t t) { return line.Level(t / sentBit); };

    const int parityBits = receiver.parity == Parity::None ? 0 : 1;
    const int testedStops = check == StopCheck::Every ? receiver.stopBits : 1;
    std::string read;
    std::uint64_t edge = 0; // the next candidate bit boundary, in sender bits
    while (edge < line.Bits()) {
        // A falling edge: a low bit after a high one (the line is idle before 0).
        if (line.Level(edge) || (edge > 0 && !line.Level(edge - 1))) {
            ++edge;
            continue;
        }
        const std::uint64_t start = edge * sentBit;
        auto sample = [&](int bit) {
            return levelAt(start + halfReadBit + static_cast<std::uint64_t>(bit) * readBit);
        };
        if (sample(0)) {
            edge = (start + halfReadBit) / sentBit + 1;
            continue;
        }
        unsigned value = 0;
        for (int i = 0; i < receiver.dataBits; ++i)
            value |= (sample(1 + i) ? 1u : 0u) << i;
        const int firstStop = 1 + receiver.dataBits + parityBits;
        bool framed = true;
        for (int s = 0; s < testedStops; ++s)
            framed = framed && sample(firstStop + s);
        read.push_back(static_cast<char>(framed ? value : 0));
        // Hunting starts again after the last tested stop bit's sample.
        const std::uint64_t lastSample =
            start + halfReadBit + static_cast<std::uint64_t>(firstStop + testedStops - 1) * readBit;
        edge = lastSample / sentBit + 1;
    }
    return read;
}

} // namespace sim
