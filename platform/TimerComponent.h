#pragma once

#include "platform/Component.h"

#include <cstdint>
#include <functional>

namespace platform {

// A window-framework timer: while enabled, OnTimer runs on the loop thread
// every Interval milliseconds (divided by the application's time divisor).
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner, std::string name = {});
    ~TTimer() override;
    const char* ClassName() const override { return "TTimer"; }

    std::uint32_t Interval() const { return interval_; }
    void SetInterval(std::uint32_t ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    // Counts the times the timer was armed: a tick of an earlier arming that
    // is still queued somewhere can be told from one of the current. It moves
    // on the same changes that make the loop arm the timer afresh.
    std::uint32_t Arming() const { return arming_; }

    std::function<void(TTimer& sender)> OnTimer;

    // Called by the loop when the timer is due.
    void Fire();

private:
    std::uint32_t interval_ = 1000;
    bool enabled_ = true;
    std::uint32_t arming_ = 0;
};

} // namespace platform
