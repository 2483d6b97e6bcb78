#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace console {

// Reads standard input on a thread of its own and hands each line to the
// loop thread through a posted thread message.
class ConsoleInput {
public:
    static constexpr std::uint32_t WM_INPUT = 0x8000 + 100;
    static constexpr std::uint32_t WM_CHECK_IDLE = 0x8000 + 101;

    ConsoleInput();
    ~ConsoleInput();
    void Start();
    // On the loop thread: the lines read so far; ended is set once input ended.
    std::deque<std::string> TakeLines(bool& ended);

private:
    void ReadLoop();

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::deque<std::string> lines_;
    bool ended_ = false;
    int stopPipe_[2] = {-1, -1};
};

} // namespace console
