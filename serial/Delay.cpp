#include "serial/Delay.h"

#include "platform/Application.h"
#include "platform/Tick.h"

#include <algorithm>

namespace serial {

namespace {

constexpr long CountdownStepMs = 1000;

} // namespace

TDelay::TDelay(platform::TComponent* owner, std::string name)
    : platform::TComponent(owner, std::move(name)) {}

std::uint32_t TDelay::RealMs(long ms) const {
    const long divisor = static_cast<long>(platform::Application::Instance().TimeDivisor());
    return static_cast<std::uint32_t>(ms / dividend_ / divisor);
}

std::uint32_t TDelay::Now() const {
    return TickSource ? TickSource() : platform::GetTickCount();
}

void TDelay::WaitUntil(std::uint32_t start, std::uint32_t until, bool processMessages) {
    platform::Application& application = platform::Application::Instance();
    for (;;) {
        std::uint32_t elapsed = Now() - start; // unsigned: survives the wrap
        if (elapsed >= until || !enable_) {
            return;
        }
        std::uint32_t remaining = until - elapsed;
        // A terminated loop returns at once from ProcessMessagesFor; sleep
        // then so that the wait still lasts and does not turn round.
        if (processMessages && !application.Terminated()) {
            application.ProcessMessagesFor(remaining, [this] { return !enable_; });
        } else if (SleepSource) {
            SleepSource(remaining);
        } else {
            platform::SleepMs(remaining);
        }
    }
}

void TDelay::DelayTime(long ms, bool processMessages) {
    if (!enable_ || ms <= 0) {
        return;
    }
    WaitUntil(Now(), RealMs(ms), processMessages);
}

void TDelay::CountdownTime(long ms, bool processMessages) {
    if (!enable_ || ms <= 0) {
        return;
    }
    const long steps = (ms / dividend_ + CountdownStepMs - 1) / CountdownStepMs;
    if (!OnCountdown || steps == 0) {
        DelayTime(ms, processMessages);
        return;
    }
    const std::uint32_t start = Now();
    const std::uint32_t wanted = RealMs(ms);
    for (long step = 0; step < steps && enable_; ++step) {
        OnCountdown(steps - step);
        // Each step ends at its share of the whole, so rounding never adds up.
        const auto until = static_cast<std::uint32_t>(
            std::min<long long>(wanted, static_cast<long long>(wanted) * (step + 1) *
                                            CountdownStepMs / (ms / dividend_)));
        WaitUntil(start, until, processMessages);
    }
    OnCountdown(0);
}

} // namespace serial
