#include "platform/Application.h"

#include "platform/PosixLoop.h"
#include "platform/Tick.h"
#include "platform/TimerComponent.h"

#include <algorithm>
#include <limits>

namespace platform {

namespace {

// Signed distance between two wrapping tick counts.
std::int32_t TicksUntil(std::uint32_t due, std::uint32_t now) {
    return static_cast<std::int32_t>(due - now);
}

} // namespace

Application::Application() : backend_(std::make_unique<PosixLoop>()) {}

Application::~Application() = default;

Application& Application::Instance() {
    // Never destroyed: objects with static lifetime (a front-end's form, a
    // fuzz target's fixture) may still unregister from it at exit.
    static Application* instance = new Application();
    return *instance;
}

void Application::SetBackend(std::unique_ptr<LoopBackend> backend) {
    backend_ = backend ? std::move(backend) : std::make_unique<PosixLoop>();
}

HWND Application::Register(MessageTarget* target) {
    HWND handle = nextHandle_++;
    if (nextHandle_ == 0) {
        nextHandle_ = 1;
    }
    targets_[handle] = target;
    return handle;
}

void Application::Unregister(HWND handle) {
    targets_.erase(handle);
}

bool Application::PostMessage(HWND target, std::uint32_t msg, std::uintptr_t wParam,
                              std::intptr_t lParam) {
    if (terminated_) {
        return false;
    }
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back({target, {msg, wParam, lParam}});
    }
    backend_->Wake();
    return true;
}

bool Application::PostThreadMessage(std::uint32_t msg, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
    return PostMessage(0, msg, wParam, lParam);
}

void Application::SetTitle(const std::string& title) {
    if (title_ == title) {
        return;
    }
    title_ = title;
    if (OnTitleChange) {
        OnTitleChange(title_);
    }
}

void Application::Terminate() {
    terminated_ = true;
    backend_->Wake();
}

bool Application::Terminated() const {
    return terminated_;
}

void Application::Reopen() {
    {
        std::lock_guard lock(postedMutex_);
        posted_.clear();
    }
    terminated_ = false;
}

bool Application::DeliverPosted() {
    // Only what was posted before this call: a handler that posts again must
    // not keep this call from returning.
    std::deque<Posted> batch;
    {
        std::lock_guard lock(postedMutex_);
        batch.swap(posted_);
    }
    for (Posted& item : batch) {
        if (item.target == 0) {
            if (OnThreadMessage) {
                OnThreadMessage(item.message);
            }
            continue;
        }
        auto found = targets_.find(item.target);
        if (found != targets_.end()) {
            found->second->Dispatch(item.message);
        }
    }
    return !batch.empty();
}

std::uint32_t Application::EffectiveInterval(const TTimer& timer) const {
    return std::max<std::uint32_t>(1, timer.Interval() / timeDivisor_);
}

void Application::TimerChanged(TTimer* timer) {
    auto found = std::find_if(timers_.begin(), timers_.end(),
                              [timer](const ArmedTimer& armed) { return armed.timer == timer; });
    if (found != timers_.end()) {
        timers_.erase(found);
    }
    if (timer->Enabled() && timer->Interval() > 0) {
        timers_.push_back({timer, GetTickCount() + EffectiveInterval(*timer), ++armings_});
    }
}

void Application::TimerDestroyed(TTimer* timer) {
    std::erase_if(timers_, [timer](const ArmedTimer& armed) { return armed.timer == timer; });
}

bool Application::DeliverDueTimers() {
    // Collect first: a handler may enable, disable or destroy timers.
    // A timer an earlier handler stopped, restarted or destroyed is passed
    // over: only the arming that fell due may fire.
    std::uint32_t now = GetTickCount();
    std::vector<ArmedTimer> due;
    for (ArmedTimer& armed : timers_) {
        if (TicksUntil(armed.due, now) <= 0) {
            armed.due = now + EffectiveInterval(*armed.timer);
            due.push_back(armed);
        }
    }
    for (const ArmedTimer& fallen : due) {
        bool sameArming = std::any_of(timers_.begin(), timers_.end(), [&](const ArmedTimer& armed) {
            return armed.timer == fallen.timer && armed.arming == fallen.arming;
        });
        if (sameArming) {
            fallen.timer->Fire();
        }
    }
    return !due.empty();
}

int Application::MillisecondsToNextTimer() const {
    if (timers_.empty()) {
        return -1;
    }
    std::uint32_t now = GetTickCount();
    std::int32_t nearest = std::numeric_limits<std::int32_t>::max();
    for (const ArmedTimer& armed : timers_) {
        nearest = std::min(nearest, TicksUntil(armed.due, now));
    }
    return nearest < 0 ? 0 : nearest;
}

bool Application::HandleAvailable() {
    bool handled = backend_->ProcessNative();
    handled = DeliverPosted() || handled;
    handled = DeliverDueTimers() || handled;
    return handled;
}

void Application::ProcessMessages() {
    HandleAvailable();
}

void Application::HandleMessage() {
    while (!terminated_) {
        if (HandleAvailable()) {
            return;
        }
        // A native event handled inside the wait (a click, a toolkit timer)
        // is handled work as well: waiting on would leave its effect unseen
        // until the next core timer or post.
        if (backend_->WaitForWork(MillisecondsToNextTimer())) {
            HandleAvailable();
            return;
        }
    }
}

void Application::ProcessMessagesFor(std::uint32_t ms, const std::function<bool()>& stop) {
    const std::uint32_t deadline = GetTickCount() + ms;
    bool handledInWait = false;
    while (!terminated_) {
        const bool handled = HandleAvailable() || handledInWait;
        if (handled && stop && stop()) {
            return;
        }
        std::int32_t left = TicksUntil(deadline, GetTickCount());
        if (left <= 0) {
            return;
        }
        int next = MillisecondsToNextTimer();
        handledInWait = backend_->WaitForWork(next < 0 ? left : std::min<int>(left, next));
    }
}

void Application::Run() {
    while (!terminated_) {
        HandleMessage();
    }
}

} // namespace platform
