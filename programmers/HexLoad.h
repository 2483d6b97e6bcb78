#pragma once

#include "platform/Message.h"
#include "platform/SharedLibrary.h"
#include "programmers/ProgrammerHost.h"
#include "programmers/ProgrammerResult.h"
#include "serial/Comport.h"
#include "serial/Delay.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

// The library's run: five stages, then its own percentage while it programs.
inline constexpr int UpdaterStages = 5;
// The wait bar while the library runs: its stages followed by its percentage.
inline constexpr int UpdaterBarMax = UpdaterStages + 100;
// A job still busy after this long is taken for hung: its call is left
// behind (it cannot be interrupted) and the step fails. As for the tools.
inline constexpr std::uint32_t UpdaterJobBoundMs = 30 * 60 * 1000;

// A report of the worker. Called on the worker thread: the receiver must
// hand it to its loop.
struct TUpdaterReport {
    enum class Kind : std::uint8_t { StageDone, Programmed };
    Kind What = Kind::StageDone;
    int Value = 0; // the stage, 1 to UpdaterStages, or the percentage programmed
};
using THexLoadReport = std::function<void(const TUpdaterReport&)>;

// Programs an instrument through the updater library on a worker thread;
// the caller polls Busy while its loop keeps running.
class THexLoad {
public:
    THexLoad(const std::string& libraryPath, serial::TDelay& wait, THexLoadReport report);
    THexLoad(const THexLoad&) = delete;
    THexLoad& operator=(const THexLoad&) = delete;
    // Waits for a job still running, unless it was abandoned.
    ~THexLoad();

    bool LibraryPresent() const;
    // Starts one job; false (nothing started) for a path longer than
    // MaxUpdaterPath or while a job runs.
    bool Start(const std::string& path, int comPort);
    bool Busy() const;
    bool Failed() const;
    // A library call cannot be interrupted: the job is left to end on its
    // own, its reports go nowhere, and this object no longer waits for it.
    // What the worker uses it owns with this object, so it may outlive it.
    void Abandon();
    // Whether a job abandoned earlier still runs in the library. The library
    // holds one job's state: a new job beside it could break both, and the
    // old call may still hold the port.
    static bool AbandonedJobRunning();

private:
    struct Job; // shared with the worker thread
    std::shared_ptr<Job> job_;
    serial::TDelay& wait_;
    bool abandoned_ = false;
};

// Takes the worker's reports on the loop thread, in order, and shows them
// through the host: the stages fill the bar's first steps, the library's
// percentage the rest of the bar and the title from the stages' 5 % on.
class TUpdaterProgress : public platform::MessageTarget {
public:
    explicit TUpdaterProgress(TProgrammerHost& host);
    ~TUpdaterProgress() override;
    TUpdaterProgress(const TUpdaterProgress&) = delete;
    TUpdaterProgress& operator=(const TUpdaterProgress&) = delete;

    // The report function for THexLoad: posts to this object's loop.
    THexLoadReport Reporter() const;
    void Show(const TUpdaterReport& report);
    void Dispatch(platform::Message& message) override;

private:
    TProgrammerHost& host_;
    platform::HWND handle_ = 0;
};

// One job of the loaded library for path on COM comPort (lent, as port),
// while the loop runs; a closing program leaves the call behind (aborted),
// and so do a job busy for longer than UpdaterJobBoundMs and one whose
// port's device went away (failed).
TProgrammerResult RunUpdaterJob(THexLoad& updater, TProgrammerHost& host, serial::TDelay& wait,
                                const serial::TComPort& port, const std::string& path, int comPort);

} // namespace programmers
