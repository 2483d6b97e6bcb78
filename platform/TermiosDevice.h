#pragma once

#include "platform/SerialDevice.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace platform {

// A serial device node driven through termios.
class TermiosDevice : public SerialDevice {
public:
    TermiosDevice();
    ~TermiosDevice() override;
    TermiosDevice(const TermiosDevice&) = delete;
    TermiosDevice& operator=(const TermiosDevice&) = delete;

    SerialResult Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }

    SerialResult GetState(DCB& dcb) override;
    SerialResult SetState(const DCB& dcb) override;
    SerialResult GetTimeouts(COMMTIMEOUTS& timeouts) override;
    SerialResult SetTimeouts(const COMMTIMEOUTS& timeouts) override;
    SerialResult SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;

    SerialResult Read(void* buffer, std::size_t count, std::size_t& got) override;
    SerialResult Write(const void* data, std::size_t count, std::size_t& written) override;
    SerialResult Drain() override;
    unsigned WaitEvent(unsigned mask, std::uint32_t timeoutMs) override;
    unsigned ClearError() override;
    SerialResult Purge(unsigned flags) override;
    SerialResult EscapeCommFunction(unsigned function) override;
    void CancelIo() override;

    int LastError() const override { return lastError_.load(); }

private:
    struct Counters {
        int frame = 0;
        int overrun = 0;
        int parity = 0;
        int brk = 0;
        int bufOverrun = 0;
    };

    SerialResult Fail(SerialResult result);
    void RestoreOriginalSettings();
    // Bytes the driver still holds for the line; 0 when it cannot tell.
    int QueuedOutput() const;
    // False when the driver's output queue is not empty within boundMs.
    bool WaitForEmptyOutput(std::uint32_t boundMs);
    SerialResult ApplyModemLines(const DCB& dcb);
    bool NewInputArrived();
    void CollectLineErrors();
    bool ReadCounters(Counters& counters);
    // Waits for events on the line and the cancel descriptor; false on
    // time-out or cancel.
    bool WaitFor(short events, int timeoutMs, bool cancellable, short& revents);
    bool Cancelled() const { return cancelled_.load(); }

    int fd_ = -1;
    // The line as it was found, given back on Close. Kept out of this header:
    // <termios.h> macros would rename the serial layer's baud names.
    struct FoundLine;
    std::unique_ptr<FoundLine> found_;
    int cancelFd_ = -1; // readable for good once CancelIo ran
    int readFd_ = -1;   // Read tells the watch that queued bytes were taken
    std::atomic<bool> cancelled_{false};
    std::atomic<int> lastError_{0};

    std::mutex mutex_; // guards the members below
    DCB dcb_;
    COMMTIMEOUTS timeouts_;
    bool hasCounters_ = true;
    Counters counters_;
    unsigned pendingErrors_ = 0;

    // Watch-thread state for telling new input from input not yet read.
    std::atomic<std::size_t> consumed_{0};
    std::size_t known_ = 0;
    bool hangupReported_ = false;
};

} // namespace platform
