#pragma once

#include "../support/ScriptedDialogs.h"
#include "kernel/Events.h"
#include "kernel/Timer.h"
#include "platform/Application.h"
#include "platform/TimerComponent.h"
#include "programmers/ProgrammerHost.h"
#include "serial/Comport.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bsltest {

// One call on the wait bar, in the order the programmer made them.
struct BarCall {
    enum class Op { Maximum, Position, Advance, AdvanceBar };
    Op op;
    int value;
    programmers::ProgressUnit unit = programmers::ProgressUnit::Percent; // of a maximum
    bool operator==(const BarCall&) const = default;
};

// The main window as a programmer sees it: a real event queue and timer pool,
// the receive notification turned into event 10000, and at the bottom of the
// handler chain a small reply parser standing in for the sequencer's.
class FakeHost : public programmers::TProgrammerHost, public platform::MessageTarget {
public:
    static constexpr std::uint32_t WmCharsReceived = platform::WM_APP + 2000;

    FakeHost();
    ~FakeHost() override;

    kernel::TEventRec ProcessEvents() override;
    kernel::TEvents& EventQueue() override { return events; }
    kernel::TTimerPool& TimerPool() override { return pool; }
    void AddLogLine(const std::string& text) override;
    void ShowLogLine(const std::string& text) override { shownLines.push_back(text); }
    void SetProgressMaximum(int maximum, programmers::ProgressUnit unit) override {
        progress.push_back({BarCall::Op::Maximum, maximum, unit});
    }
    void SetProgressPosition(int position) override {
        progress.push_back({BarCall::Op::Position, position});
    }
    void AdvanceProgress(int steps) override { progress.push_back({BarCall::Op::Advance, steps}); }
    void AdvanceProgressBar(int steps) override {
        progress.push_back({BarCall::Op::AdvanceBar, steps});
    }
    void ShowBaudText(const std::string& text) override { baudTexts.push_back(text); }
    std::string BootErrorText(int step) override;
    std::string Text(programmers::ProgrammerText id) const override;
    platform::Dialogs& Dialogs() override { return dialogs; }
    int Language() const override { return language; }
    std::string ProgramFolder() const override { return folder; }
    std::string FindDefFile(std::uint32_t chipId) override;
    void ClearLog() override { shownLines.clear(); }
    void ShowTitleProgress(const std::string& prefix, double percent) override {
        titles.push_back({prefix, percent});
    }
    void ShowTitleState(programmers::TitleState state) override { titleStates.push_back(state); }
    void ShowLoaderVersion(const std::string& version) override {
        loaderVersions.push_back(version);
    }
    int SessionPortNumber() const override { return portNumber; }
    void ReleaseSessionPort() override { portCalls.push_back("release"); }
    programmers::TFailure ReclaimSessionPort(bool lowSpeedAfter) override {
        portCalls.push_back(lowSpeedAfter ? "reclaim at 9600" : "reclaim");
        return reclaimFailure;
    }
    void StartTitleEstimate(double ticksToFull) override { estimates.push_back(ticksToFull); }
    void StopTitleEstimate() override {}
    void CountRetry() override { ++retries; }
    // The bar as the window would hold it: the first step that comes before
    // a maximum or takes it past its maximum, empty when none does.
    std::string BarOverrun() const { return BarFault(false); }
    // The same where the maximum is the method's estimate, which the steps
    // may outrun (the window holds the bar full): only a step before any
    // maximum counts.
    std::string StepBeforeMaximum() const { return BarFault(true); }
    // Whether the bar had a maximum and every one of them counts unit.
    bool BarCountsOnly(programmers::ProgressUnit unit) const;
    void Dispatch(platform::Message& message) override;

    platform::HWND Handle() const { return handle_; }
    // The port whose replies the bottom handler parses.
    serial::TComPort* port = nullptr;

    kernel::TEvents events;
    kernel::TTimerPool pool;
    testing_support::ScriptedDialogs dialogs;
    std::vector<std::string> logLines;
    std::vector<std::string> shownLines;
    std::vector<BarCall> progress;
    std::vector<std::string> baudTexts;
    std::vector<std::pair<std::string, double>> titles;
    std::vector<programmers::TitleState> titleStates;
    std::vector<std::string> loaderVersions;
    std::map<std::uint32_t, std::string> defFiles;
    int language = 0;
    std::string folder;
    std::function<void(const std::string&)> onLog;
    std::vector<std::string> replyLines; // every line the bottom parser took
    // The session port as a tool borrows it.
    int portNumber = 1;
    std::vector<std::string> portCalls;
    programmers::TFailure reclaimFailure; // what taking it back gives
    std::vector<double> estimates;
    int retries = 0;

private:
    static kernel::TEventRec Sequencer(void* context, kernel::TEvents& events,
                                       kernel::TEventRec event);
    void ParseReplies();
    std::string BarFault(bool maximumIsEstimate) const;

    std::vector<std::unique_ptr<platform::TTimer>> timers_;
    platform::HWND handle_ = 0;
    std::string lineBuffer_;
    std::vector<std::unique_ptr<std::string>> texts_; // alive until the host goes
};

} // namespace bsltest
