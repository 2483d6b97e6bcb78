#pragma once

#include "platform/Message.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class TTimer;

// How a loop waits for work. The POSIX backend waits on a condition variable;
// the Qt front-end supplies one that runs Qt's own event processing, so that
// the window stays alive during every wait of the core.
class LoopBackend {
public:
    virtual ~LoopBackend() = default;
    // Handles pending native events without blocking; true if any were handled.
    virtual bool ProcessNative() = 0;
    // Blocks until Wake() is called, a native event was handled, or timeoutMs
    // passes (-1: no limit). True if native events were handled while waiting.
    virtual bool WaitForWork(int timeoutMs) = 0;
    // Callable from any thread.
    virtual void Wake() = 0;
};

// The message loop of the one logic thread: posted messages, timer
// components and the title. All members except PostMessage, PostThreadMessage
// and Terminate must be called on the loop thread.
class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The process-wide instance, created on first use.
    static Application& Instance();

    // Replaces the waiting strategy; nullptr restores the POSIX one.
    void SetBackend(std::unique_ptr<LoopBackend> backend);

    // Handles every posted message and due timer, then returns; never blocks.
    void ProcessMessages();
    // Blocks until at least one thing was handled or Terminate was called.
    void HandleMessage();
    // Handles things as they come for at most ms milliseconds; returns
    // earlier once stop (if given) turns true after something was handled.
    void ProcessMessagesFor(std::uint32_t ms, const std::function<bool()>& stop = {});
    // HandleMessage until Terminate.
    void Run();
    void Terminate();
    bool Terminated() const;
    // Clears a Terminate and drops what was still posted, so that one process
    // can run several programs in turn (tests do).
    void Reopen();

    // Registers a receiver of posted messages; the handle stays valid until
    // Unregister. Messages for an unregistered handle are dropped.
    HWND Register(MessageTarget* target);
    void Unregister(HWND handle);

    // Thread-safe and never blocks; false once the loop was terminated.
    bool PostMessage(HWND target, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
    // Thread-safe: a message for the loop itself, handed to OnThreadMessage.
    bool PostThreadMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
    std::function<void(Message&)> OnThreadMessage;

    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);
    std::function<void(const std::string&)> OnTitleChange;

    // Divides every timer interval and every delay (tests and the demo run
    // sessions faster with unchanged logic). At least 1.
    std::uint32_t TimeDivisor() const { return timeDivisor_; }
    void SetTimeDivisor(std::uint32_t divisor) { timeDivisor_ = divisor < 1 ? 1 : divisor; }

    // Called by TTimer when it is enabled, disabled or its interval changes.
    void TimerChanged(TTimer* timer);
    void TimerDestroyed(TTimer* timer);

private:
    struct Posted {
        HWND target;
        Message message;
    };
    struct ArmedTimer {
        TTimer* timer;
        std::uint32_t due; // tick count
        // Which arming this is: a timer stopped or restarted since it fell
        // due is armed anew and must wait its new interval.
        std::uint64_t arming;
    };

    bool DeliverPosted();
    bool DeliverDueTimers();
    bool HandleAvailable();
    // Milliseconds until the next timer is due (0 when one is due), -1 if none.
    int MillisecondsToNextTimer() const;
    std::uint32_t EffectiveInterval(const TTimer& timer) const;

    std::unique_ptr<LoopBackend> backend_;
    std::mutex postedMutex_;
    std::deque<Posted> posted_;
    std::map<HWND, MessageTarget*> targets_;
    HWND nextHandle_ = 1;
    std::vector<ArmedTimer> timers_;
    std::uint64_t armings_ = 0;
    std::string title_;
    std::uint32_t timeDivisor_ = 1;
    std::atomic<bool> terminated_{false};
};

} // namespace platform
