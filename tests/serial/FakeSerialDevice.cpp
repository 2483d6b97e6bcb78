#include "FakeSerialDevice.h"

#include <chrono>
#include <cstring>

namespace serialtest {

using platform::SerialResult;

void FakeLine::Receive(const std::string& bytes) {
    {
        std::lock_guard lock(mutex);
        input += bytes;
        newInput = true;
    }
    changed.notify_all();
}

void FakeLine::RaiseError(unsigned errorWord) {
    {
        std::lock_guard lock(mutex);
        errorWords.push_back(errorWord);
    }
    changed.notify_all();
}

void FakeLine::Break(platform::SerialResult result, int error) {
    {
        std::lock_guard lock(mutex);
        fault = result;
        faultErrno = error;
    }
    changed.notify_all();
}

void FakeLine::ReleaseWrites() {
    {
        std::lock_guard lock(mutex);
        holdWrites = false;
    }
    changed.notify_all();
}

bool FakeLine::WaitForHeldWrite(int timeoutMs) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return writing; });
}

SerialResult FakeSerialDevice::Open(const std::string& path) {
    std::lock_guard lock(line_->mutex);
    if (line_->heldPaths.count(path) != 0) {
        return SerialResult::AccessDenied;
    }
    open_ = true;
    hangupReported_ = false;
    line_->cancelled = false;
    line_->rts = true;
    line_->dtr = true;
    return SerialResult::Ok;
}

SerialResult FakeSerialDevice::GetState(platform::DCB& dcb) {
    std::lock_guard lock(line_->mutex);
    dcb = line_->dcb;
    return SerialResult::Ok;
}

SerialResult FakeSerialDevice::SetState(const platform::DCB& dcb) {
    std::lock_guard lock(line_->mutex);
    if (line_->refusedBauds.count(dcb.BaudRate) != 0) {
        return SerialResult::NotSupported;
    }
    line_->dcb = dcb;
    line_->history.push_back("set " + std::to_string(dcb.BaudRate));
    if (dcb.fRtsControl != platform::RTS_CONTROL_HANDSHAKE) {
        line_->rts = dcb.fRtsControl == platform::RTS_CONTROL_ENABLE;
    }
    line_->dtr = dcb.fDtrControl == platform::DTR_CONTROL_ENABLE;
    return SerialResult::Ok;
}

SerialResult FakeSerialDevice::GetTimeouts(platform::COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(line_->mutex);
    timeouts = line_->timeouts;
    return SerialResult::Ok;
}

SerialResult FakeSerialDevice::SetTimeouts(const platform::COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(line_->mutex);
    line_->timeouts = timeouts;
    return SerialResult::Ok;
}

int FakeSerialDevice::LastError() const {
    std::lock_guard lock(line_->mutex);
    return line_->faultErrno;
}

SerialResult FakeSerialDevice::Read(void* buffer, std::size_t count, std::size_t& got) {
    std::lock_guard lock(line_->mutex);
    got = 0;
    if (line_->fault != SerialResult::Ok) {
        return line_->fault;
    }
    got = std::min(count, line_->input.size());
    std::memcpy(buffer, line_->input.data(), got);
    line_->input.erase(0, got);
    return SerialResult::Ok;
}

SerialResult FakeSerialDevice::Write(const void* data, std::size_t count, std::size_t& written) {
    std::unique_lock lock(line_->mutex);
    line_->writing = true;
    line_->changed.notify_all();
    line_->changed.wait(lock, [this] { return !line_->holdWrites || line_->cancelled; });
    line_->writing = false;
    written = 0;
    if (line_->fault != SerialResult::Ok) {
        return line_->fault;
    }
    written = std::min(count, line_->writeLimit);
    line_->output.append(static_cast<const char*>(data), written);
    line_->history.push_back("wrote " + std::string(static_cast<const char*>(data), written));
    return SerialResult::Ok;
}

SerialResult FakeSerialDevice::Drain() {
    std::lock_guard lock(line_->mutex);
    const bool drained = line_->drainResult == SerialResult::Ok;
    line_->history.push_back(drained ? "drained" : "drain timed out");
    return line_->drainResult;
}

unsigned FakeSerialDevice::WaitEvent(unsigned mask, std::uint32_t timeoutMs) {
    std::unique_lock lock(line_->mutex);
    const bool watchHangup = (mask & platform::EV_HANGUP) != 0 && !hangupReported_;
    auto hungUp = [this] { return line_->fault == SerialResult::HungUp; };
    auto ready = [&] {
        return line_->newInput || !line_->errorWords.empty() || line_->cancelled ||
               (watchHangup && hungUp());
    };
    line_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (watchHangup && hungUp() && !line_->cancelled) {
        hangupReported_ = true;
        return platform::EV_HANGUP;
    }
    unsigned events = 0;
    if (line_->newInput && (mask & platform::EV_RXCHAR) != 0) {
        line_->newInput = false;
        events |= platform::EV_RXCHAR;
    }
    if (!line_->errorWords.empty() && (mask & platform::EV_ERR) != 0) {
        pendingErrors_ |= line_->errorWords.front();
        line_->errorWords.pop_front();
        events |= platform::EV_ERR;
    }
    return events;
}

unsigned FakeSerialDevice::ClearError() {
    unsigned errors = pendingErrors_;
    pendingErrors_ = 0;
    return errors;
}

SerialResult FakeSerialDevice::Purge(unsigned flags) {
    std::lock_guard lock(line_->mutex);
    if ((flags & platform::PURGE_RXCLEAR) != 0) {
        line_->input.clear();
    }
    return SerialResult::Ok;
}

SerialResult FakeSerialDevice::EscapeCommFunction(unsigned function) {
    std::lock_guard lock(line_->mutex);
    switch (function) {
    case platform::SETRTS:
    case platform::CLRRTS:
        line_->rts = function == platform::SETRTS;
        break;
    case platform::SETDTR:
    case platform::CLRDTR:
        line_->dtr = function == platform::SETDTR;
        break;
    case platform::CLRBREAK:
        ++line_->clearBreaks;
        break;
    default:
        break;
    }
    return SerialResult::Ok;
}

void FakeSerialDevice::CancelIo() {
    {
        std::lock_guard lock(line_->mutex);
        line_->cancelled = true;
    }
    line_->changed.notify_all();
}

} // namespace serialtest
