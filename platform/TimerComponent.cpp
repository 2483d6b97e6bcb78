#include "platform/TimerComponent.h"

#include "platform/Application.h"

namespace platform {

TTimer::TTimer(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {
    Application::Instance().TimerChanged(this);
}

TTimer::~TTimer() {
    Application::Instance().TimerDestroyed(this);
}

void TTimer::SetInterval(std::uint32_t ms) {
    if (interval_ == ms) {
        return;
    }
    interval_ = ms;
    if (enabled_) {
        ++arming_;
    }
    Changed("Interval", std::to_string(ms));
    Application::Instance().TimerChanged(this);
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled_ == enabled) {
        return;
    }
    enabled_ = enabled;
    if (enabled) {
        ++arming_;
    }
    Changed("Enabled", enabled ? "true" : "false");
    Application::Instance().TimerChanged(this);
}

void TTimer::Fire() {
    if (enabled_ && OnTimer) {
        OnTimer(*this);
    }
}

} // namespace platform
