#include "kernel/Timer.h"

namespace kernel {

void TTimerPool::TimerInit(const std::vector<platform::TTimer*>& timers) {
    count_ = 0;
    timers_.fill(nullptr);
    inUse_.fill(false);
    for (platform::TTimer* timer : timers) {
        if (count_ == MaxSlots) {
            break;
        }
        timers_[++count_] = timer;
    }
}

int TTimerPool::TimerStart(std::uint32_t interval) {
    if (count_ == 0) {
        return 0;
    }
    // The last slot is shared by whoever finds all others busy.
    int slot = count_;
    for (int candidate = 1; candidate < count_; ++candidate) {
        if (!inUse_[candidate]) {
            slot = candidate;
            break;
        }
    }
    inUse_[slot] = true;
    platform::TTimer* timer = timers_[slot];
    timer->SetEnabled(false);
    timer->SetInterval(interval);
    timer->SetEnabled(true);
    return slot;
}

int TTimerPool::TimerStop(int slot) {
    if (slot >= 1 && slot <= count_) {
        inUse_[slot] = false;
        timers_[slot]->SetEnabled(false);
    }
    return 0;
}

void TTimerPool::TimerRestart(int slot) {
    if (slot >= 1 && slot <= count_ && inUse_[slot]) {
        platform::TTimer* timer = timers_[slot];
        timer->SetEnabled(false);
        timer->SetInterval(timer->Interval());
        timer->SetEnabled(true);
    }
}

bool TTimerPool::InUse(int slot) const {
    return slot >= 1 && slot <= count_ && inUse_[slot];
}

bool TTimerPool::TickIsCurrent(const TEventRec& tick) const {
    if (tick.Kind != evTimer) {
        return true;
    }
    if (!InUse(tick.Id)) {
        return false;
    }
    const platform::TTimer* timer = timers_[tick.Id];
    return timer->Enabled() && static_cast<std::intptr_t>(timer->Arming()) == tick.Data;
}

} // namespace kernel
