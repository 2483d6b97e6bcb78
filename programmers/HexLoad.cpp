#include "programmers/HexLoad.h"

#include "platform/Application.h"
#include "platform/Tick.h"

#include <mutex>
#include <thread>

namespace programmers {

namespace {

constexpr long BootloaderRecheckMs = 200;

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
    std::lock_guard lock(job_->ReportLock);
    job_->Report = nullptr;
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
    Busy = false;
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

} // namespace programmers
