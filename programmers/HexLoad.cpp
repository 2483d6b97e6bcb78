#include "programmers/HexLoad.h"

#include "platform/Application.h"
#include "platform/Tick.h"
#include "programmers/DeviceWatch.h"
#include "programmers/Programmerunit.h"

#include <mutex>
#include <thread>

namespace programmers {

namespace {

constexpr long BootloaderRecheckMs = 200;
// How often the loop looks whether the job is still busy.
constexpr std::uint32_t UpdaterPollMs = 1000;
// A report of the worker: its kind in wParam, its value in lParam.
constexpr std::uint32_t WM_UPDATER_REPORT = platform::WM_APP + 2030;

// Jobs abandoned while busy that have not ended yet, across the process.
std::mutex abandonedLock;
int abandonedRunning = 0;

template <class Fn> Fn Entry(const platform::TSharedLibrary& library, const char* name) {
    return reinterpret_cast<Fn>(library.Symbol(name));
}

} // namespace

// Everything the worker touches: the loaded library stays loaded, and the
// reports stay guarded, for as long as the worker holds the job.
struct THexLoad::Job {
    platform::TSharedLibrary Library;
    M16UpdInitFn Init = nullptr;
    M16UpdProgramFn Program = nullptr;
    M16UpdCallFn Deinit = nullptr, IsBtlActive = nullptr, Clear = nullptr, MakeValid = nullptr,
                 ExitAndStart = nullptr;
    char16_t Path[MaxUpdaterPath + 1] = {};
    int ComPort = 0;
    std::uint32_t RecheckMs = BootloaderRecheckMs; // divided as the delay component would
    std::atomic<bool> Busy{false};
    std::atomic<bool> Failed{false};
    bool LeftBusy = false; // under abandonedLock
    std::thread Worker;

    std::mutex ReportLock;
    THexLoadReport Report; // empty once abandoned

    void Run();
    bool RunSteps();
    void Tell(TUpdaterReport::Kind what, int value) {
        std::lock_guard lock(ReportLock);
        if (Report) {
            Report({what, value});
        }
    }
    void Stage(int stage) { Tell(TUpdaterReport::Kind::StageDone, stage); }
    // The progress callback carries no context: the job its thread runs.
    static thread_local Job* Running;
    static void Progress(int percent) {
        if (Running != nullptr) {
            Running->Tell(TUpdaterReport::Kind::Programmed, percent);
        }
    }
};

thread_local THexLoad::Job* THexLoad::Job::Running = nullptr;

THexLoad::THexLoad(const std::string& libraryPath, serial::TDelay& wait, THexLoadReport report)
    : job_(std::make_shared<Job>()), wait_(wait) {
    job_->Report = std::move(report);
    const platform::TSharedLibrary& library = job_->Library;
    if (!job_->Library.Open(libraryPath)) {
        return;
    }
    job_->Init = Entry<M16UpdInitFn>(library, "M16Upd_Init");
    job_->Program = Entry<M16UpdProgramFn>(library, "M16Upd_Program");
    job_->Deinit = Entry<M16UpdCallFn>(library, "M16Upd_Deinit");
    job_->IsBtlActive = Entry<M16UpdCallFn>(library, "M16Upd_IsBTLActive");
    job_->Clear = Entry<M16UpdCallFn>(library, "M16Upd_Clear");
    job_->MakeValid = Entry<M16UpdCallFn>(library, "M16Upd_MakeValid");
    job_->ExitAndStart = Entry<M16UpdCallFn>(library, "M16Upd_ExitAndStartApplication");
}

THexLoad::~THexLoad() {
    if (!job_->Worker.joinable()) {
        return;
    }
    if (abandoned_) {
        job_->Worker.detach();
    } else {
        job_->Worker.join();
    }
}

bool THexLoad::LibraryPresent() const {
    return job_->Library.Loaded();
}

bool THexLoad::Busy() const {
    return job_->Busy;
}

bool THexLoad::Failed() const {
    return job_->Failed;
}

bool THexLoad::Start(const std::string& path, int comPort) {
    Job& job = *job_;
    if (job.Busy || path.size() > MaxUpdaterPath) {
        return false;
    }
    if (job.Worker.joinable()) {
        job.Worker.join();
    }
    std::size_t i = 0;
    for (; i < path.size(); ++i) {
        job.Path[i] = static_cast<char16_t>(static_cast<unsigned char>(path[i]));
    }
    job.Path[i] = u'\0';
    job.ComPort = comPort;
    // The worker must not read the loop's delay component: it is worked out here.
    job.RecheckMs = static_cast<std::uint32_t>(
        BootloaderRecheckMs / wait_.Dividend() /
        static_cast<long>(platform::Application::Instance().TimeDivisor()));
    job.Busy = true;
    job.Worker = std::thread([held = job_] { held->Run(); });
    return true;
}

void THexLoad::Abandon() {
    abandoned_ = true;
    {
        std::lock_guard lock(abandonedLock);
        if (job_->Busy && !job_->LeftBusy) {
            job_->LeftBusy = true;
            ++abandonedRunning;
        }
    }
    std::lock_guard lock(job_->ReportLock);
    job_->Report = nullptr;
}

bool THexLoad::AbandonedJobRunning() {
    std::lock_guard lock(abandonedLock);
    return abandonedRunning > 0;
}

void THexLoad::Job::Run() {
    Failed = false;
    Stage(1);
    bool ok = false;
    if (Init != nullptr) {
        ok = RunSteps();
        if (Deinit != nullptr) {
            Deinit();
        }
    }
    Failed = !ok;
    std::lock_guard lock(abandonedLock);
    Busy = false;
    if (LeftBusy) {
        LeftBusy = false;
        --abandonedRunning;
    }
}

// An entry point the library lacks fails its step, like a zero result.
bool THexLoad::Job::RunSteps() {
    Stage(2);
    if (Init(ComPort) == 0) {
        return false;
    }
    Stage(3);
    if (IsBtlActive == nullptr) {
        return false;
    }
    if (IsBtlActive() == 0) {
        platform::SleepMs(RecheckMs);
        if (IsBtlActive() == 0) {
            return false;
        }
    }
    Stage(4);
    if (Clear == nullptr || Clear() == 0) {
        return false;
    }
    Stage(5);
    if (Program == nullptr) {
        return false;
    }
    Running = this;
    const int programmed = Program(Path, 0, &Job::Progress);
    Running = nullptr;
    if (programmed == 0) {
        return false;
    }
    if (MakeValid != nullptr) {
        MakeValid();
    }
    return ExitAndStart != nullptr && ExitAndStart() != 0;
}

TUpdaterProgress::TUpdaterProgress(TProgrammerHost& host)
    : host_(host), handle_(platform::Application::Instance().Register(this)) {}

// What is still on its way to the handle is dropped with it.
TUpdaterProgress::~TUpdaterProgress() {
    platform::Application::Instance().Unregister(handle_);
}

THexLoadReport TUpdaterProgress::Reporter() const {
    const platform::HWND target = handle_;
    return [target](const TUpdaterReport& report) {
        platform::Application::Instance().PostMessage(
            target, WM_UPDATER_REPORT, static_cast<std::uintptr_t>(report.What), report.Value);
    };
}

void TUpdaterProgress::Dispatch(platform::Message& message) {
    if (message.Msg == WM_UPDATER_REPORT) {
        Show({static_cast<TUpdaterReport::Kind>(message.WParam), static_cast<int>(message.LParam)});
    }
}

void TUpdaterProgress::Show(const TUpdaterReport& report) {
    switch (report.What) {
    case TUpdaterReport::Kind::StageDone:
        host_.AdvanceProgressBar(1);
        host_.ShowTitleProgress("", report.Value);
        break;
    case TUpdaterReport::Kind::Programmed:
        host_.SetProgressPosition(report.Value + UpdaterStages);
        host_.ShowTitleProgress("", report.Value / 100.0 * (100 - UpdaterStages) + UpdaterStages);
        break;
    }
}

namespace {

// The library call cannot be interrupted: it is left to end on its own.
void LeaveBehind(THexLoad& updater, TProgrammerHost& host, const std::string& logLine) {
    updater.Abandon();
    host.StopTitleEstimate();
    host.ShowLogLine(logLine);
}

} // namespace

TProgrammerResult RunUpdaterJob(THexLoad& updater, TProgrammerHost& host, serial::TDelay& wait,
                                const serial::TComPort& port, const std::string& path,
                                int comPort) {
    if (path.size() > MaxUpdaterPath) {
        host.ShowLogLine(host.Text(ProgrammerText::UpdaterPathTooLong) + path);
        return TProgrammerResult::Failed(
            TransferFailure("the updater library takes paths of up to " +
                            std::to_string(MaxUpdaterPath) + " characters: " + path));
    }
    if (THexLoad::AbandonedJobRunning()) {
        const std::string cause = std::string(UpdaterLibraryName) +
                                  ": a call left behind earlier still runs; try again once it "
                                  "has returned";
        host.ShowLogLine(cause);
        return TProgrammerResult::Failed(TransferFailure(cause));
    }
    host.SetProgressPosition(0);
    host.SetProgressMaximum(UpdaterBarMax, ProgressUnit::Percent);
    wait.DelayTime(1000, true);
    updater.Start(path, comPort);
    platform::Application& application = platform::Application::Instance();
    TDeviceWatch device(port);
    // Counted in the wait's own milliseconds, as every other bound.
    for (std::uint32_t waitedMs = 0; updater.Busy(); waitedMs += UpdaterPollMs) {
        wait.DelayTime(UpdaterPollMs, true);
        if (application.Terminated() && updater.Busy()) {
            // The program must end all the same.
            LeaveBehind(updater, host, host.Text(ProgrammerText::UpdaterLeftBehind));
            return TProgrammerResult::Aborted(TransferFailure(
                std::string(UpdaterLibraryName) + " left behind: the program is closing"));
        }
        if (device.GoneForGrace(platform::GetTickCount()) && updater.Busy()) {
            const std::string cause =
                std::string(UpdaterLibraryName) + " left behind: the device of its port is gone";
            LeaveBehind(updater, host, cause);
            return TProgrammerResult::Failed(TransferFailure(cause));
        }
        if (waitedMs + UpdaterPollMs >= UpdaterJobBoundMs && updater.Busy()) {
            const std::string cause = std::string(UpdaterLibraryName) + " still busy after " +
                                      std::to_string(UpdaterJobBoundMs / 1000) +
                                      " s: its call was left behind";
            LeaveBehind(updater, host, cause);
            return TProgrammerResult::Failed(TransferFailure(cause));
        }
    }
    application.ProcessMessages();
    host.StopTitleEstimate();
    // The library's failure fails the step: a session must not report an
    // instrument as updated that the library did not program.
    if (updater.Failed()) {
        return TProgrammerResult::Failed(TransferFailure(std::string(UpdaterLibraryName) +
                                                         " failed to program " + path + " on " +
                                                         serial::TComPort::PortName(comPort - 1)));
    }
    return TProgrammerResult::Success();
}

} // namespace programmers
