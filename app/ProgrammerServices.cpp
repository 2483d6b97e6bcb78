#include "app/ProgrammerServices.h"

#include "app/Updatemain.h"

namespace app {

kernel::TEventRec TFormServices::ProcessEvents() {
    return form_.ProcessEvents();
}
kernel::TEvents& TFormServices::EventQueue() {
    return form_.Events;
}
kernel::TTimerPool& TFormServices::TimerPool() {
    return form_.Timers;
}
void TFormServices::AddLogLine(const std::string& text) {
    form_.AddLogLine(text);
}
void TFormServices::ShowLogLine(const std::string& text) {
    form_.ShowLogText(text);
}
void TFormServices::SetProgressMaximum(int maximum, programmers::ProgressUnit unit) {
    form_.SetProgressMaximum(maximum, unit);
}
void TFormServices::SetProgressPosition(int position) {
    form_.SetProgressPosition(position);
}
void TFormServices::AdvanceProgress(int steps) {
    form_.AdvanceProgress(steps);
}
void TFormServices::AdvanceProgressBar(int steps) {
    form_.AdvanceProgressBar(steps);
}
void TFormServices::ShowBaudText(const std::string& text) {
    form_.UpdateStatusBar->SetPanelText(2, text);
}
std::string TFormServices::BootErrorText(int step) {
    return form_.BootErrorText(step);
}
std::string TFormServices::Text(programmers::ProgrammerText id) const {
    using programmers::ProgrammerText;
    switch (id) {
    case ProgrammerText::CaptionError:
        return form_.Text(Msg::CaptionError);
    case ProgrammerText::FirmwareFile:
        return form_.Text(Msg::FirmwareFile);
    case ProgrammerText::FileUnreadable:
        return form_.Text(Msg::FirmwareFileUnreadable);
    case ProgrammerText::FileMissing:
        return form_.Text(Msg::FileMissing);
    case ProgrammerText::FileAmbiguous:
        return form_.Text(Msg::FilesDifferInCaseOnly);
    case ProgrammerText::NotAFile:
        return form_.Text(Msg::NotAFile);
    case ProgrammerText::ProgrammingAborted:
        return form_.Text(Msg::ProgrammingAborted);
    case ProgrammerText::DifferenceAt:
        return form_.Text(Msg::DifferenceAt);
    case ProgrammerText::NoResetVector:
        return form_.Text(Msg::NoResetVector);
    case ProgrammerText::FileTooLarge:
        return form_.Text(Msg::FirmwareFileTooLarge);
    case ProgrammerText::ChecksumMismatch:
        return form_.Text(Msg::ImageChecksumMismatch);
    case ProgrammerText::NoAnswer:
        return form_.Text(Msg::InstrumentNoAnswer);
    case ProgrammerText::XmodemRefused:
        return form_.Text(Msg::XmodemRefused);
    case ProgrammerText::XmodemRestarted:
        return form_.Text(Msg::XmodemRestarted);
    case ProgrammerText::XmodemCancelled:
        return form_.Text(Msg::XmodemCancelled);
    case ProgrammerText::XmodemStalled:
        return form_.Text(Msg::XmodemStalled);
    case ProgrammerText::TermPreparing:
        return form_.Text(Msg::TermPreparing);
    case ProgrammerText::TermProgramming:
        return form_.Text(Msg::TermProgrammingName);
    case ProgrammerText::TermSuccessful:
        return form_.Text(Msg::TermSuccessful);
    case ProgrammerText::TermTransmitError:
        return form_.Text(Msg::TermTransmitError);
    case ProgrammerText::TermAborted:
        return form_.Text(Msg::TermAborted);
    case ProgrammerText::TermFileMissing:
        return form_.Text(Msg::TermFileMissing);
    case ProgrammerText::CommandRefused:
        return form_.Text(Msg::CommandRefused);
    case ProgrammerText::ToolNotStarted:
        return form_.Text(Msg::ToolNotStarted);
    case ProgrammerText::ToolFailed:
        return form_.Text(Msg::ToolFailed);
    case ProgrammerText::ToolEndedAtClose:
        return form_.Text(Msg::ToolEndedAtClose);
    case ProgrammerText::ToolPortTooHigh:
        return form_.Text(Msg::ToolPortTooHigh);
    case ProgrammerText::UpdaterPathTooLong:
        return form_.Text(Msg::UpdaterPathTooLong);
    case ProgrammerText::UpdaterLeftBehind:
        return form_.Text(Msg::UpdaterLeftBehind);
    }
    return {};
}
platform::Dialogs& TFormServices::Dialogs() {
    return form_.DialogService();
}
int TFormServices::Language() const {
    return form_.Config.Language;
}
std::string TFormServices::ProgramFolder() const {
    return form_.ProgramFolder();
}
std::string TFormServices::FindDefFile(std::uint32_t chipId) {
    return form_.FindDefFile(chipId);
}
void TFormServices::ClearLog() {
    form_.UpdateMemo->Clear();
}
// Below 0 the window would read a title state: a programmer names those.
void TFormServices::ShowTitleProgress(const std::string& prefix, double percent) {
    form_.ShowTitleProgress(prefix, percent >= 0 ? percent : 0.0);
}
void TFormServices::ShowTitleState(programmers::TitleState state) {
    form_.ShowTitleState(state);
}
void TFormServices::ShowLoaderVersion(const std::string& version) {
    form_.ShowLoaderVersion(version);
}

int TFormServices::SessionPortNumber() const {
    return form_.Session.PortNumber;
}
void TFormServices::ReleaseSessionPort() {
    form_.ReleaseSessionPort();
}
programmers::TFailure TFormServices::ReclaimSessionPort(bool lowSpeedAfter) {
    return form_.ReclaimSessionPort(lowSpeedAfter);
}
void TFormServices::StartTitleEstimate(double ticksToFull) {
    form_.StartTitleEstimate(ticksToFull);
}
void TFormServices::StopTitleEstimate() {
    form_.StopTitleEstimate();
}
void TFormServices::CountRetry() {
    ++form_.Report.Retries;
}

} // namespace app
