#include "tools/instrument-sim/Wire.h"

#include "tools/instrument-sim/UartModel.h"

#include <algorithm>

namespace sim {

void Wire::Send(Reply reply, Micros now) {
    const Micros start = std::max(now, freeAt_);
    freeAt_ = start + WireMicros(reply.bytes.size(), FrameOf(reply.line));
    inFlight_.push_back({freeAt_, std::move(reply)});
}

std::optional<Wire::Micros> Wire::NextArrival() const {
    if (inFlight_.empty())
        return std::nullopt;
    return inFlight_.front().arrives;
}

std::vector<Reply> Wire::TakeArrived(Micros now) {
    std::vector<Reply> arrived;
    while (!inFlight_.empty() && inFlight_.front().arrives <= now) {
        arrived.push_back(std::move(inFlight_.front().reply));
        inFlight_.pop_front();
    }
    return arrived;
}

} // namespace sim
