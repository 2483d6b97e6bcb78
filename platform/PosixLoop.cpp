#include "platform/PosixLoop.h"

#include <chrono>

namespace platform {

bool PosixLoop::WaitForWork(int timeoutMs) {
    std::unique_lock lock(mutex_);
    if (timeoutMs < 0) {
        wake_.wait(lock, [this] { return woken_; });
    } else {
        wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return woken_; });
    }
    woken_ = false;
    return false; // no native events here
}

void PosixLoop::Wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_one();
}

} // namespace platform
