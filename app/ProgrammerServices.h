#pragma once

#include "programmers/ProgrammerHost.h"

namespace app {

class UpdateSession;

// The session's and its window's services as a programmer sees them.
class TSessionServices : public programmers::TProgrammerHost {
public:
    explicit TSessionServices(UpdateSession& session) : session_(session) {}

    kernel::TEventRec ProcessEvents() override;
    kernel::TEvents& EventQueue() override;
    kernel::TTimerPool& TimerPool() override;
    void AddLogLine(const std::string& text) override;
    void ShowLogLine(const std::string& text) override;
    void SetProgressMaximum(int maximum, programmers::ProgressUnit unit) override;
    void SetProgressPosition(int position) override;
    void AdvanceProgress(int steps) override;
    void AdvanceProgressBar(int steps) override;
    void ShowBaudText(const std::string& text) override;
    std::string BootErrorText(int step) override;
    std::string Text(programmers::ProgrammerText id) const override;
    platform::Dialogs& Dialogs() override;
    int Language() const override;
    std::string ProgramFolder() const override;
    std::string FindDefFile(std::uint32_t chipId) override;
    void ClearLog() override;
    void ShowTitleProgress(const std::string& prefix, double percent) override;
    void ShowTitleState(programmers::TitleState state) override;
    void ShowLoaderVersion(const std::string& version) override;
    int SessionPortNumber() const override;
    void ReleaseSessionPort() override;
    programmers::TFailure ReclaimSessionPort(bool lowSpeedAfter) override;
    void StartTitleEstimate(double ticksToFull) override;
    void StopTitleEstimate() override;
    void CountRetry() override;
    bool CurrentLineFailure(std::intptr_t data) const override;

private:
    UpdateSession& session_;
};

} // namespace app
