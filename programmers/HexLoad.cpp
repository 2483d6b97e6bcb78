#include "programmers/HexLoad.h"

namespace programmers {

namespace {

constexpr long BootloaderRecheckMs = 200;
// Stage n: the bar one step on, the title at n percent.
constexpr int StepBar = 20;
constexpr int BarPosition = 21;
constexpr int TitlePercent = 22;
constexpr int TitleProgramPercent = 23;
// The five stages run the bar to 5 before the library's own 0..100.
constexpr int StageOffset = 5;

template <class Fn> Fn Entry(const platform::TSharedLibrary& library, const char* name) {
    return reinterpret_cast<Fn>(library.Symbol(name));
}

} // namespace

std::atomic<THexLoad*> THexLoad::running_{nullptr};

THexLoad::THexLoad(const std::string& libraryPath, serial::TDelay& wait, THexLoadReport report)
    : wait_(wait), report_(std::move(report)) {
    if (!library_.Open(libraryPath)) {
        return;
    }
    init_ = Entry<M16UpdInitFn>(library_, "M16Upd_Init");
    program_ = Entry<M16UpdProgramFn>(library_, "M16Upd_Program");
    deinit_ = Entry<M16UpdCallFn>(library_, "M16Upd_Deinit");
    isBtlActive_ = Entry<M16UpdCallFn>(library_, "M16Upd_IsBTLActive");
    clear_ = Entry<M16UpdCallFn>(library_, "M16Upd_Clear");
    makeValid_ = Entry<M16UpdCallFn>(library_, "M16Upd_MakeValid");
    exitAndStart_ = Entry<M16UpdCallFn>(library_, "M16Upd_ExitAndStartApplication");
}

THexLoad::~THexLoad() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool THexLoad::Start(const std::string& path, int comPort) {
    if (busy_ || path.size() > MaxUpdaterPath) {
        return false;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    std::size_t i = 0;
    for (; i < path.size(); ++i) {
        path_[i] = static_cast<char16_t>(static_cast<unsigned char>(path[i]));
    }
    path_[i] = u'\0';
    comPort_ = comPort;
    busy_ = true;
    worker_ = std::thread([this] { Job(); });
    return true;
}

void THexLoad::Job() {
    failed_ = false;
    Stage(1);
    bool ok = false;
    if (init_ != nullptr) {
        ok = RunSteps();
        if (deinit_ != nullptr) {
            deinit_();
        }
    }
    failed_ = !ok;
    busy_ = false;
}

// An entry point the library lacks fails its step, like a zero result.
bool THexLoad::RunSteps() {
    Stage(2);
    if (init_(comPort_) == 0) {
        return false;
    }
    Stage(3);
    if (isBtlActive_ == nullptr) {
        return false;
    }
    if (isBtlActive_() == 0) {
        wait_.DelayTime(BootloaderRecheckMs, false);
        if (isBtlActive_() == 0) {
            return false;
        }
    }
    Stage(4);
    if (clear_ == nullptr || clear_() == 0) {
        return false;
    }
    Stage(5);
    if (program_ == nullptr) {
        return false;
    }
    running_ = this;
    const int programmed = program_(path_, 0, &THexLoad::Progress);
    running_ = nullptr;
    if (programmed == 0) {
        return false;
    }
    if (makeValid_ != nullptr) {
        makeValid_();
    }
    return exitAndStart_ != nullptr && exitAndStart_() != 0;
}

void THexLoad::Stage(int stage) {
    report_(StepBar, 1);
    report_(TitlePercent, stage);
}

void THexLoad::Progress(int percent) {
    if (THexLoad* self = running_.load()) {
        self->report_(BarPosition, percent + StageOffset);
        self->report_(TitleProgramPercent, percent);
    }
}

} // namespace programmers
