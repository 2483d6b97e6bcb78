#pragma once

#include "UpdateSessionTestView.h"
#include "app/ProgrammerServices.h"
#include "app/Updatemain.h"

#include <cstddef>
#include <string>
#include <vector>

namespace app {

// The tests' way into the window: the handlers they call as an operator or
// a timer would, the configuration, port table and session as start-up left
// them, and the few places where a test stands for a configuration read
// differently or a pump nested deeper.
class TUpdateFormTestView {
public:
    explicit TUpdateFormTestView(TUpdateForm& form) : form_(form) {}

    // --- the session: its steps and writable state, or read only
    UpdateSessionTestView Session() { return UpdateSessionTestView(form_.session_); }
    const TSessionState& SessionState() const { return form_.session_.State(); }
    const SessionReport& Report() const { return form_.session_.Report(); }
    // The host a programmer of this window's session is given.
    TSessionServices ProgrammerHost() { return TSessionServices(form_.session_); }

    // --- the event side
    kernel::TEventRec ProcessEvents() { return form_.ProcessEvents(); }
    // The queue the window's own handlers post keys and messages to.
    kernel::TEvents& EventQueue() { return form_.events_; }
    // The timer slots of the window's Timer1..Timer5.
    kernel::TTimerPool& TimerPool() { return form_.timers_; }
    void TimerIntervall(platform::TTimer& sender) { form_.TimerIntervall(sender); }
    void StartTimerTimer() { form_.StartTimerTimer(); }
    void SecTimerTimer() { form_.SecTimerTimer(); }
    void TitleTimerTimer() { form_.TitleTimerTimer(); }
    // How deep the event pump is nested, and a pump nested that deep.
    int PumpDepth() const { return form_.pumpDepth_; }
    void SetPumpDepth(int depth) { form_.pumpDepth_ = depth; }

    // --- menu items and the log
    void LabXXXClick(platform::TMenuItem* sender) { form_.LabXXXClick(sender); }
    std::string GuideFileName() const { return form_.GuideFileName(); }
    void AddLogLine(const std::string& text) { form_.session_.AddLogLine(text); }
    std::string ExpandText(const std::string& text) const { return form_.ExpandText(text); }

    // --- progress, title and loader version, as a programmer shows them
    void SetProgressMaximum(int maximum, programmers::ProgressUnit unit) {
        form_.SetProgressMaximum(maximum, unit);
    }
    void SetProgressPosition(int position) { form_.SetProgressPosition(position); }
    void AdvanceProgress(int steps) { form_.AdvanceProgress(steps); }
    void AdvanceProgressBar(int steps) { form_.AdvanceProgressBar(steps); }
    std::string ShowTitleProgress(const std::string& prefix, double percent) {
        return form_.ShowTitleProgress(prefix, percent);
    }
    void ShowTitleState(programmers::TitleState state) { form_.ShowTitleState(state); }
    void ShowLoaderVersion(const std::string& version) { form_.ShowLoaderVersion(version); }

    // --- the configuration as start-up read it, and writable, so that a test
    // stands for one read differently
    const Settings& Config() const { return form_.config_; }
    Settings& ConfigToStandFor() { return form_.config_; }
    void SetStartModeAsRead(int startMode) { form_.startModeAsRead_ = startMode; }
    const std::vector<DeviceRow>& DeviceTable() const { return form_.deviceTable_; }
    // So that the readers can run again on an empty table.
    void ClearDeviceTable() { form_.deviceTable_.clear(); }
    const std::vector<std::string>& FirmwareFiles() const { return form_.firmwareFiles_; }
    const std::string& StartText() const { return form_.StartText(); }
    bool CloseOnInfo() const { return form_.closeOnInfo_; }
    bool AnyFileMode() const { return form_.anyFileMode_; }
    const std::string& AnyFileName() const { return form_.anyFileName_; }
    int ReadUpdateIni(const std::string& fileName) { return form_.ReadUpdateIni(fileName); }
    int ReadProgDeviceIni(const std::string& fileName) { return form_.ReadProgDeviceIni(fileName); }
    int WriteUpdateIni(const std::string& fileName) { return form_.WriteUpdateIni(fileName); }

    // --- the port table
    int PortCount() const { return form_.portCount_; }
    // Entry i (0 <= i < MaxPorts); nullptr when none.
    serial::TComPort* Port(int i) const { return form_.portTable_.at(static_cast<std::size_t>(i)); }
    int PortNumber(int i) const { return form_.portNumbers_.at(static_cast<std::size_t>(i)); }

private:
    TUpdateForm& form_;
};

// Found by argument-dependent lookup: a test writes TestView(form).EventQueue().
inline TUpdateFormTestView TestView(TUpdateForm& form) {
    return TUpdateFormTestView(form);
}

} // namespace app
