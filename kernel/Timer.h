#pragma once

#include "kernel/Events.h"
#include "platform/TimerComponent.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kernel {

// Numbered software time-outs over the window's timer components; a slot's
// expiry reaches the event queue as an evTimer record (the window posts it).
class TTimerPool {
public:
    static constexpr int MaxSlots = 20;

    // Slots 1..timers.size() (at most 20); clears every in-use flag.
    void TimerInit(const std::vector<platform::TTimer*>& timers);
    // Returns the slot started; 0 when no slot was registered.
    int TimerStart(std::uint32_t interval);
    // Always returns 0, for the caller to store in its slot variable.
    int TimerStop(int slot);
    void TimerRestart(int slot);

    bool InUse(int slot) const;
    // False for a tick queued before its slot was stopped or started again:
    // a watchdog restarted by an event ahead of its tick must not fire.
    bool TickIsCurrent(const TEventRec& tick) const;
    int Count() const { return count_; }

private:
    std::array<platform::TTimer*, MaxSlots + 1> timers_{};
    std::array<bool, MaxSlots + 1> inUse_{};
    int count_ = 0;
};

} // namespace kernel
