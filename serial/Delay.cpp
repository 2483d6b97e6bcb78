#include "serial/Delay.h"

#include "platform/Application.h"
#include "platform/Tick.h"

namespace serial {

TDelay::TDelay(platform::TComponent* owner, std::string name)
    : platform::TComponent(owner, std::move(name)) {}

void TDelay::DelayTime(long ms, bool processMessages) {
    if (!enable_ || ms <= 0) {
        return;
    }
    platform::Application& application = platform::Application::Instance();
    const auto wanted =
        static_cast<std::uint32_t>(ms / dividend_ / static_cast<long>(application.TimeDivisor()));
    auto now = [this] { return TickSource ? TickSource() : platform::GetTickCount(); };
    const std::uint32_t start = now();
    for (;;) {
        std::uint32_t elapsed = now() - start; // unsigned: survives the wrap
        if (elapsed >= wanted || !enable_) {
            return;
        }
        std::uint32_t remaining = wanted - elapsed;
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

} // namespace serial
