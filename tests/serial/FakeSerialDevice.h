#pragma once

#include "platform/SerialDevice.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace serialtest {

// What a fake line shows and what a test makes it do. Shared between the
// test and every device the factory hands out.
struct FakeLine {
    std::mutex mutex;
    std::condition_variable changed;

    platform::DCB dcb;
    platform::COMMTIMEOUTS timeouts;
    bool rts = false;
    bool dtr = false;
    int clearBreaks = 0;
    std::set<std::string> heldPaths;
    std::set<std::uint32_t> refusedBauds;

    std::string input;
    std::string output;
    std::deque<unsigned> errorWords;   // each one raises EV_ERR
    std::size_t writeLimit = SIZE_MAX; // a write puts out at most this many bytes
    bool holdWrites = false;           // writes wait until released
    // What a drain answers: Ok, or TimedOut as for a line held by flow control.
    platform::SerialResult drainResult = platform::SerialResult::Ok;
    // In order: "wrote BYTES", "drained" (or "drain timed out"), "set BAUD".
    std::vector<std::string> history;
    bool writing = false;
    bool newInput = false;
    bool cancelled = false;
    // Once set, reads and writes fail with it and errno; HungUp also raises
    // EV_HANGUP once per opened device.
    platform::SerialResult fault = platform::SerialResult::Ok;
    int faultErrno = 0;

    void Receive(const std::string& bytes);
    void RaiseError(unsigned errorWord);
    void Break(platform::SerialResult result, int error);
    void ReleaseWrites();
    // Waits until a write is held in the device.
    bool WaitForHeldWrite(int timeoutMs);
};

class FakeSerialDevice : public platform::SerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}

    platform::SerialResult Open(const std::string& path) override;
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    platform::SerialResult GetState(platform::DCB& dcb) override;
    platform::SerialResult SetState(const platform::DCB& dcb) override;
    platform::SerialResult GetTimeouts(platform::COMMTIMEOUTS& timeouts) override;
    platform::SerialResult SetTimeouts(const platform::COMMTIMEOUTS& timeouts) override;
    platform::SerialResult SetupComm(std::uint32_t, std::uint32_t) override {
        return platform::SerialResult::Ok;
    }
    platform::SerialResult Read(void* buffer, std::size_t count, std::size_t& got) override;
    platform::SerialResult Write(const void* data, std::size_t count,
                                 std::size_t& written) override;
    platform::SerialResult Drain() override;
    unsigned WaitEvent(unsigned mask, std::uint32_t timeoutMs) override;
    unsigned ClearError() override;
    platform::SerialResult Purge(unsigned flags) override;
    platform::SerialResult EscapeCommFunction(unsigned function) override;
    void CancelIo() override;
    int LastError() const override;

private:
    std::shared_ptr<FakeLine> line_;
    bool open_ = false;
    unsigned pendingErrors_ = 0;
    bool hangupReported_ = false;
};

} // namespace serialtest
