#pragma once

#include "platform/Application.h"

#include <condition_variable>
#include <mutex>

namespace platform {

// Waits on a condition variable; the loop of the console front-end and of
// every test.
class PosixLoop : public LoopBackend {
public:
    bool ProcessNative() override { return false; }
    bool WaitForWork(int timeoutMs) override;
    void Wake() override;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
};

} // namespace platform
