#pragma once

#include "platform/SharedLibrary.h"
#include "serial/Delay.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace programmers {

// The maker's updater library, looked for in the program folder.
inline constexpr const char* UpdaterLibraryName = "ZNQM16Updater.dll";
// The library takes the file path in a buffer of 80 code units.
inline constexpr std::size_t MaxUpdaterPath = 79;

// The library's entry points, plain C symbols; non-zero is success.
extern "C" {
using M16UpdInitFn = int (*)(int comPort);
using M16UpdProgressFn = void (*)(int percent);
using M16UpdProgramFn = int (*)(const char16_t* path, int reserved, M16UpdProgressFn progress);
using M16UpdCallFn = int (*)();
}

// A stage or progress report, with the code and value of the window's
// ShowProgress. Called on the worker thread: the receiver must hand it to
// its loop.
using THexLoadReport = std::function<void(int code, std::intptr_t value)>;

// Programs an instrument through the updater library on a worker thread;
// the caller polls Busy while its loop keeps running.
class THexLoad {
public:
    THexLoad(const std::string& libraryPath, serial::TDelay& wait, THexLoadReport report);
    THexLoad(const THexLoad&) = delete;
    THexLoad& operator=(const THexLoad&) = delete;
    // Waits for a job still running.
    ~THexLoad();

    bool LibraryPresent() const { return library_.Loaded(); }
    // Starts one job; false (nothing started) for a path longer than
    // MaxUpdaterPath or while a job runs.
    bool Start(const std::string& path, int comPort);
    bool Busy() const { return busy_; }
    bool Failed() const { return failed_; }

private:
    void Job();
    bool RunSteps();
    void Stage(int stage);
    static void Progress(int percent);

    platform::TSharedLibrary library_;
    serial::TDelay& wait_;
    THexLoadReport report_;
    M16UpdInitFn init_ = nullptr;
    M16UpdProgramFn program_ = nullptr;
    M16UpdCallFn deinit_ = nullptr, isBtlActive_ = nullptr, clear_ = nullptr, makeValid_ = nullptr,
                 exitAndStart_ = nullptr;
    char16_t path_[MaxUpdaterPath + 1] = {};
    int comPort_ = 0;
    std::atomic<bool> busy_{false};
    std::atomic<bool> failed_{false};
    std::thread worker_;
    // The progress callback carries no context: the job that runs it.
    static std::atomic<THexLoad*> running_;
};

} // namespace programmers
