#pragma once

#include "tools/instrument-sim/LineSettings.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace sim {

// Replies on their way from the instrument to the tool. Each starts when the
// line is free and takes its time at the line it was sent at, so replies
// arrive in the order they were sent, one after the other.
class Wire {
public:
    using Micros = std::uint64_t;

    void Send(Reply reply, Micros now);
    std::optional<Micros> NextArrival() const;
    // The replies whose last bit has arrived by now, in order.
    std::vector<Reply> TakeArrived(Micros now);

private:
    struct InFlight {
        Micros arrives;
        Reply reply;
    };

    std::deque<InFlight> inFlight_;
    Micros freeAt_ = 0;
};

} // namespace sim
