#pragma once

#include "platform/Component.h"

#include <cstdint>
#include <functional>

namespace serial {

// Waits on the calling thread, optionally keeping the loop's messages going.
class TDelay : public platform::TComponent {
public:
    explicit TDelay(platform::TComponent* owner, std::string name = {});
    const char* ClassName() const override { return "TDelay"; }

    bool Enable() const { return enable_; }
    void SetEnable(bool enable) { enable_ = enable; }
    long Dividend() const { return dividend_; }
    // Values below 1 are stored as 1.
    void SetDividend(long dividend) { dividend_ = dividend < 1 ? 1 : dividend; }

    // ms is divided by Dividend and by the application's time divisor.
    void DelayTime(long ms, bool processMessages);
    // The same wait for a long pause that nobody may cut short (an instrument
    // storing its firmware): OnCountdown hears the seconds left at the start
    // and after each second, and 0 when the wait ends. Seconds are those of
    // the undivided wait, so a divided test run counts the same steps.
    void CountdownTime(long ms, bool processMessages);
    std::function<void(long secondsLeft)> OnCountdown;

    // The tick source and the sleep; tests replace them to cross the 32-bit
    // wrap. Both empty: the platform's.
    std::function<std::uint32_t()> TickSource;
    std::function<void(std::uint32_t ms)> SleepSource;

private:
    // Divides ms as DelayTime does.
    std::uint32_t RealMs(long ms) const;
    std::uint32_t Now() const;
    // Waits until elapsed (from start) reaches until, or the delay is disabled.
    void WaitUntil(std::uint32_t start, std::uint32_t until, bool processMessages);

    bool enable_ = true;
    long dividend_ = 1;
};

} // namespace serial
