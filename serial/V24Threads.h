#pragma once

#include "platform/Message.h"
#include "platform/SerialDevice.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace serial {

constexpr std::uint32_t WM_USER = 0x0400;

// Posted with the port number (index + 1) as the first parameter and 0 as the
// second. The window variant goes to a window handle, the _ID variant to the
// loop's thread messages.
constexpr std::uint32_t V24_MSG_RXCHAR = platform::WM_APP + 2000;       // 0x87D0
constexpr std::uint32_t V24_MSG_FRAME_ERROR = platform::WM_APP + 2020;  // 0x87E4
constexpr std::uint32_t V24_MSG_OVERRUN = platform::WM_APP + 2030;      // 0x87EE
constexpr std::uint32_t V24_MSG_PARITY_ERROR = platform::WM_APP + 2040; // 0x87F8
constexpr std::uint32_t V24_MSG_RXCHAR_ID = WM_USER + 2000;             // 0x0BD0
constexpr std::uint32_t V24_MSG_FRAME_ERROR_ID = WM_USER + 2020;        // 0x0BE4
constexpr std::uint32_t V24_MSG_OVERRUN_ID = WM_USER + 2030;            // 0x0BEE
constexpr std::uint32_t V24_MSG_PARITY_ERROR_ID = WM_USER + 2040;       // 0x0BF8

constexpr std::size_t TransmitBufferSize = 32768;
// Longest single wait of the receive watch; Close is honoured within it.
constexpr std::uint32_t WatchWaitMs = 1000;
// A notification nobody read is repeated after this long.
constexpr std::uint32_t RenotifyMs = 5000;

// Why a write failed on the line; Result Ok while none did.
struct TLineFailure {
    platform::SerialResult Result = platform::SerialResult::Ok;
    int Error = 0; // errno, 0 when there was none
};

// Watches the line for received bytes and line errors and tells the
// application, once per unread batch. A hang-up is told once as received
// bytes, so that the reader's Read finds it; the watch then ends.
class TV24Read_Thread {
public:
    TV24Read_Thread(bool createSuspended, platform::HWND window, platform::SerialDevice* port,
                    int portIndex);
    virtual ~TV24Read_Thread();
    TV24Read_Thread(const TV24Read_Thread&) = delete;
    TV24Read_Thread& operator=(const TV24Read_Thread&) = delete;

    void Resume();
    void Terminate();
    // Joins; safe to call more than once.
    void WaitFor();

    bool GetAktiv();
    void SetAktiv(bool aktiv);
    std::uint32_t GetNotifyDelay() const { return notifyDelay_.load(); }
    void SetNotifyDelay(std::uint32_t ms) { notifyDelay_ = ms; }

protected:
    // Posts one of the V24_MSG_ numbers (window variant); false if it failed.
    virtual bool Post(std::uint32_t msg);
    int PortNumber() const { return portIndex_ + 1; }

private:
    void Execute();
    void HandleLineErrors();
    // Sleeps, but wakes early for Terminate.
    void Pause(std::uint32_t ms);

    platform::HWND window_;
    platform::SerialDevice* port_;
    int portIndex_;
    std::atomic<std::uint32_t> notifyDelay_{0};

    std::mutex aktivMutex_; // the notification flag's critical section
    bool aktiv_ = false;

    std::mutex runMutex_;
    std::condition_variable runChanged_;
    bool started_ = false;
    bool terminate_ = false;
    std::thread thread_;
};

// The variant that posts thread messages instead of window messages.
class TV24Read_Thread_ID : public TV24Read_Thread {
public:
    TV24Read_Thread_ID(bool createSuspended, unsigned long threadId, platform::SerialDevice* port,
                       int portIndex);
    ~TV24Read_Thread_ID() override;

protected:
    bool Post(std::uint32_t msg) override;

private:
    unsigned long threadId_;
};

// Writes blocks handed over by TComPort::Write so that the caller need not
// wait for the line. Idle until a submission or Close wakes it.
class TV24Write_Thread {
public:
    TV24Write_Thread(bool createSuspended, platform::HWND window, platform::SerialDevice* port,
                     int portIndex);
    ~TV24Write_Thread();
    TV24Write_Thread(const TV24Write_Thread&) = delete;
    TV24Write_Thread& operator=(const TV24Write_Thread&) = delete;

    // -1 busy with an earlier block, -100 after an unacknowledged short write,
    // -20 after an unacknowledged line failure (hung up, I/O error);
    // async: count as soon as the block is taken; sync: bytes written, -100
    // for a short write, -20 when the line failed, 0 when the driver
    // rejected the write.
    int Submit(const char* data, int count, bool async);
    bool IsIdle();
    // Waits until the block taken last has been handed to the line, at most
    // the time its write may take (WriteBoundMs); false when it still has not.
    bool WaitIdle();
    // Drops a block not yet begun and returns to idle; never blocks.
    void Suspend();
    void ClearError();
    bool Error() const { return error_.load(); }
    // The cause of the last line failure that Submit reported.
    TLineFailure Failure();

    void Resume();
    void Terminate();
    void WaitFor();
    int PortIndex() const { return portIndex_; }

private:
    enum class State { Idle, Busy };

    void Execute();
    // One attempt at the job in the buffer; bytes written, or -1 when the
    // write was given up (aborted or refused) without a fault of the line.
    // A fault of the line fills failure.
    long WriteJob(int count, TLineFailure& failure);

    platform::SerialDevice* port_;
    int portIndex_;
    std::array<char, TransmitBufferSize> buffer_{};
    int count_ = 0;
    std::atomic<bool> error_{false};

    std::mutex mutex_; // guards failure_ and the members below
    TLineFailure failure_;
    std::condition_variable changed_;
    State state_ = State::Idle;
    bool writing_ = false;
    bool started_ = false;
    bool terminate_ = false;
    std::thread thread_;
};

} // namespace serial
