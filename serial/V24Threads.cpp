#include "serial/V24Threads.h"

#include "platform/Application.h"
#include "platform/Tick.h"
#include "platform/WriteBound.h"
#include "serial/Comport.h"

#include <chrono>
#include <cstring>

namespace serial {

using platform::CE_BREAK;
using platform::CE_FRAME;
using platform::CE_OVERRUN;
using platform::CE_RXPARITY;
using platform::EV_ERR;
using platform::EV_HANGUP;
using platform::EV_RXCHAR;
using platform::SerialResult;

TV24Read_Thread::TV24Read_Thread(bool createSuspended, platform::HWND window,
                                 platform::SerialDevice* port, int portIndex)
    : window_(window), port_(port), portIndex_(portIndex), started_(!createSuspended) {
    thread_ = std::thread([this] { Execute(); });
}

TV24Read_Thread::~TV24Read_Thread() {
    Terminate();
    WaitFor();
}

void TV24Read_Thread::Resume() {
    {
        std::lock_guard lock(runMutex_);
        started_ = true;
    }
    runChanged_.notify_all();
}

void TV24Read_Thread::Terminate() {
    {
        std::lock_guard lock(runMutex_);
        terminate_ = true;
    }
    runChanged_.notify_all();
}

void TV24Read_Thread::WaitFor() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool TV24Read_Thread::GetAktiv() {
    std::lock_guard lock(aktivMutex_);
    return aktiv_;
}

void TV24Read_Thread::SetAktiv(bool aktiv) {
    std::lock_guard lock(aktivMutex_);
    aktiv_ = aktiv;
}

bool TV24Read_Thread::Post(std::uint32_t msg) {
    return platform::Application::Instance().PostMessage(
        window_, msg, static_cast<std::uintptr_t>(PortNumber()), 0);
}

void TV24Read_Thread::Pause(std::uint32_t ms) {
    if (ms == 0) {
        return;
    }
    std::unique_lock lock(runMutex_);
    runChanged_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminate_; });
}

void TV24Read_Thread::HandleLineErrors() {
    unsigned errors = port_->ClearError();
    if ((errors & CE_FRAME) != 0 || errors == 0) {
        Post(V24_MSG_FRAME_ERROR);
    }
    if ((errors & CE_OVERRUN) != 0) {
        Post(V24_MSG_OVERRUN);
    }
    if ((errors & CE_RXPARITY) != 0) {
        Post(V24_MSG_PARITY_ERROR);
    }
    if ((errors & CE_BREAK) != 0) {
        port_->EscapeCommFunction(platform::CLRBREAK);
    }
}

void TV24Read_Thread::Execute() {
    {
        std::unique_lock lock(runMutex_);
        runChanged_.wait(lock, [this] { return started_ || terminate_; });
        if (!started_) {
            return;
        }
    }
    bool seenWhileNotified = false;
    bool timerRunning = false;
    std::uint32_t timerStart = 0;
    unsigned remembered = 0;
    for (;;) {
        unsigned mask = port_->WaitEvent(EV_RXCHAR | EV_ERR | EV_HANGUP, WatchWaitMs);
        if ((mask & EV_HANGUP) != 0) {
            // The line never comes back for this open: watching it would
            // only turn round on its hang-up until Close.
            SetAktiv(true);
            Post(V24_MSG_RXCHAR);
            std::unique_lock lock(runMutex_);
            runChanged_.wait(lock, [this] { return terminate_; });
            break;
        }
        if (((mask | remembered) & EV_RXCHAR) != 0) {
            if (!GetAktiv()) {
                SetAktiv(true);
                if (!Post(V24_MSG_RXCHAR)) {
                    SetAktiv(false);
                }
                seenWhileNotified = false;
                timerRunning = false;
                remembered = 0;
                Pause(GetNotifyDelay());
            } else {
                // The first event after a notification is only noted; the
                // next starts the clock and keeps the passes checking it.
                std::uint32_t now = platform::GetTickCount();
                if (timerRunning && now - timerStart > RenotifyMs) {
                    SetAktiv(false);
                    seenWhileNotified = false;
                    timerRunning = false;
                }
                if (seenWhileNotified && !timerRunning) {
                    timerRunning = true;
                    timerStart = now;
                    remembered = mask | EV_RXCHAR;
                }
                seenWhileNotified = true;
            }
        }
        if ((mask & EV_ERR) != 0) {
            HandleLineErrors();
        }
        std::lock_guard lock(runMutex_);
        if (terminate_) {
            break;
        }
    }
}

TV24Read_Thread_ID::TV24Read_Thread_ID(bool createSuspended, unsigned long threadId,
                                       platform::SerialDevice* port, int portIndex)
    : TV24Read_Thread(createSuspended, 0, port, portIndex), threadId_(threadId) {}

TV24Read_Thread_ID::~TV24Read_Thread_ID() {
    // Post is ours: the thread must be gone before this part of us is.
    Terminate();
    WaitFor();
}

bool TV24Read_Thread_ID::Post(std::uint32_t msg) {
    // One loop serves every thread here, so the id only documents the target.
    (void)threadId_;
    return platform::Application::Instance().PostThreadMessage(
        msg - platform::WM_APP + WM_USER, static_cast<std::uintptr_t>(PortNumber()), 0);
}

TV24Write_Thread::TV24Write_Thread(bool createSuspended, platform::HWND,
                                   platform::SerialDevice* port, int portIndex)
    : port_(port), portIndex_(portIndex), started_(!createSuspended) {
    thread_ = std::thread([this] { Execute(); });
}

TV24Write_Thread::~TV24Write_Thread() {
    Terminate();
    WaitFor();
}

void TV24Write_Thread::Resume() {
    {
        std::lock_guard lock(mutex_);
        started_ = true;
    }
    changed_.notify_all();
}

void TV24Write_Thread::Terminate() {
    {
        std::lock_guard lock(mutex_);
        terminate_ = true;
    }
    changed_.notify_all();
}

void TV24Write_Thread::WaitFor() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool TV24Write_Thread::IsIdle() {
    std::lock_guard lock(mutex_);
    return state_ == State::Idle;
}

bool TV24Write_Thread::WaitIdle() {
    platform::DCB dcb;
    platform::COMMTIMEOUTS timeouts;
    port_->GetState(dcb);
    port_->GetTimeouts(timeouts);
    std::unique_lock lock(mutex_);
    const auto count = static_cast<std::size_t>(count_);
    const std::chrono::milliseconds bound(platform::WriteBoundMs(dcb, timeouts, count));
    return changed_.wait_for(lock, bound, [this] { return state_ == State::Idle; });
}

void TV24Write_Thread::Suspend() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Busy || writing_) {
            return;
        }
        count_ = 0;
        state_ = State::Idle;
    }
    changed_.notify_all();
}

void TV24Write_Thread::ClearError() {
    std::lock_guard lock(mutex_);
    error_ = false;
    failure_ = {};
}

TLineFailure TV24Write_Thread::Failure() {
    std::lock_guard lock(mutex_);
    return failure_;
}

long TV24Write_Thread::WriteJob(int count, TLineFailure& failure) {
    std::size_t written = 0;
    SerialResult result = port_->Write(buffer_.data(), static_cast<std::size_t>(count), written);
    if (result == SerialResult::Aborted || result == SerialResult::Rejected) {
        return -1;
    }
    if (result != SerialResult::Ok) {
        failure = {result, port_->LastError()};
    }
    return static_cast<long>(written);
}

int TV24Write_Thread::Submit(const char* data, int count, bool async) {
    if (count < 0 || static_cast<std::size_t>(count) > buffer_.size()) {
        return 0;
    }
    std::unique_lock lock(mutex_);
    if (state_ != State::Idle) {
        return V24_TX_BUSY;
    }
    if (error_) {
        return failure_.Result != SerialResult::Ok ? V24_LINE_FAILED : V24_SHORT_WRITE;
    }
    std::memcpy(buffer_.data(), data, static_cast<std::size_t>(count));
    count_ = count;
    if (async) {
        state_ = State::Busy;
        lock.unlock();
        changed_.notify_all();
        return count;
    }
    // The thread stays idle and leaves the buffer alone meanwhile.
    lock.unlock();
    TLineFailure failure;
    long written = WriteJob(count, failure);
    lock.lock();
    count_ = 0;
    if (written < 0) {
        return 0;
    }
    if (failure.Result != SerialResult::Ok) {
        failure_ = failure;
        error_ = true;
        return V24_LINE_FAILED;
    }
    if (written < count) {
        error_ = true;
        return V24_SHORT_WRITE;
    }
    return static_cast<int>(written);
}

void TV24Write_Thread::Execute() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return started_ || terminate_; });
    if (!started_) {
        return;
    }
    for (;;) {
        changed_.wait(lock, [this] { return state_ == State::Busy || terminate_; });
        if (state_ == State::Busy && count_ > 0) {
            int count = count_;
            writing_ = true;
            lock.unlock();
            TLineFailure failure;
            long written = WriteJob(count, failure);
            lock.lock();
            writing_ = false;
            if (failure.Result != SerialResult::Ok) {
                failure_ = failure;
                error_ = true;
            } else if (written >= 0 && written < count) {
                failure_ = {};
                error_ = true;
            }
            count_ = 0;
        }
        state_ = State::Idle;
        changed_.notify_all(); // a line change may wait for the block to be out
        if (terminate_ && count_ == 0) {
            break;
        }
    }
}

} // namespace serial
