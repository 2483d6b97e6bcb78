#include "app/ProgrammerServices.h"

#include "app/UpdateSession.h"

namespace app {

kernel::TEventRec TSessionServices::ProcessEvents() {
    return session_.Window().ProcessEvents();
}
kernel::TEvents& TSessionServices::EventQueue() {
    return session_.EventQueue();
}
kernel::TTimerPool& TSessionServices::TimerPool() {
    return session_.TimerPool();
}
void TSessionServices::AddLogLine(const std::string& text) {
    session_.AddLogLine(text);
}
void TSessionServices::ShowLogLine(const std::string& text) {
    session_.ShowLogText(text);
}
void TSessionServices::SetProgressMaximum(int maximum, programmers::ProgressUnit unit) {
    session_.Window().SetProgressMaximum(maximum, unit);
}
void TSessionServices::SetProgressPosition(int position) {
    session_.Window().SetProgressPosition(position);
}
void TSessionServices::AdvanceProgress(int steps) {
    session_.Window().AdvanceProgress(steps);
}
void TSessionServices::AdvanceProgressBar(int steps) {
    session_.Window().AdvanceProgressBar(steps);
}
void TSessionServices::ShowBaudText(const std::string& text) {
    session_.Window().ShowStatusPanel(2, text);
}
std::string TSessionServices::BootErrorText(int step) {
    return session_.BootErrorText(step);
}
std::string TSessionServices::Text(programmers::ProgrammerText id) const {
    using programmers::ProgrammerText;
    switch (id) {
    case ProgrammerText::CaptionError:
        return session_.Text(Msg::CaptionError);
    case ProgrammerText::FirmwareFile:
        return session_.Text(Msg::FirmwareFile);
    case ProgrammerText::FileUnreadable:
        return session_.Text(Msg::FirmwareFileUnreadable);
    case ProgrammerText::FileMissing:
        return session_.Text(Msg::FileMissing);
    case ProgrammerText::FileAmbiguous:
        return session_.Text(Msg::FilesDifferInCaseOnly);
    case ProgrammerText::NotAFile:
        return session_.Text(Msg::NotAFile);
    case ProgrammerText::ProgrammingAborted:
        return session_.Text(Msg::ProgrammingAborted);
    case ProgrammerText::DifferenceAt:
        return session_.Text(Msg::DifferenceAt);
    case ProgrammerText::NoResetVector:
        return session_.Text(Msg::NoResetVector);
    case ProgrammerText::FileTooLarge:
        return session_.Text(Msg::FirmwareFileTooLarge);
    case ProgrammerText::ChecksumMismatch:
        return session_.Text(Msg::ImageChecksumMismatch);
    case ProgrammerText::NoAnswer:
        return session_.Text(Msg::InstrumentNoAnswer);
    case ProgrammerText::XmodemRefused:
        return session_.Text(Msg::XmodemRefused);
    case ProgrammerText::XmodemRestarted:
        return session_.Text(Msg::XmodemRestarted);
    case ProgrammerText::XmodemCancelled:
        return session_.Text(Msg::XmodemCancelled);
    case ProgrammerText::XmodemStalled:
        return session_.Text(Msg::XmodemStalled);
    case ProgrammerText::TermPreparing:
        return session_.Text(Msg::TermPreparing);
    case ProgrammerText::TermProgramming:
        return session_.Text(Msg::TermProgrammingName);
    case ProgrammerText::TermSuccessful:
        return session_.Text(Msg::TermSuccessful);
    case ProgrammerText::TermTransmitError:
        return session_.Text(Msg::TermTransmitError);
    case ProgrammerText::TermAborted:
        return session_.Text(Msg::TermAborted);
    case ProgrammerText::TermFileMissing:
        return session_.Text(Msg::TermFileMissing);
    case ProgrammerText::CommandRefused:
        return session_.Text(Msg::CommandRefused);
    case ProgrammerText::ToolNotStarted:
        return session_.Text(Msg::ToolNotStarted);
    case ProgrammerText::ToolFailed:
        return session_.Text(Msg::ToolFailed);
    case ProgrammerText::ToolEndedAtClose:
        return session_.Text(Msg::ToolEndedAtClose);
    case ProgrammerText::ToolPortTooHigh:
        return session_.Text(Msg::ToolPortTooHigh);
    case ProgrammerText::UpdaterPathTooLong:
        return session_.Text(Msg::UpdaterPathTooLong);
    case ProgrammerText::UpdaterLeftBehind:
        return session_.Text(Msg::UpdaterLeftBehind);
    }
    return {};
}
platform::Dialogs& TSessionServices::Dialogs() {
    return session_.Boxes();
}
int TSessionServices::Language() const {
    return session_.Language();
}
std::string TSessionServices::ProgramFolder() const {
    return session_.ProgramFolder();
}
std::string TSessionServices::FindDefFile(std::uint32_t chipId) {
    return session_.FindDefFile(chipId);
}
void TSessionServices::ClearLog() {
    session_.Window().ClearLog();
}
void TSessionServices::ShowTitleProgress(const std::string& prefix, double percent) {
    session_.Window().ShowTitleProgress(prefix, percent);
}
void TSessionServices::ShowTitleState(programmers::TitleState state) {
    session_.Window().ShowTitleState(state);
}
void TSessionServices::ShowLoaderVersion(const std::string& version) {
    session_.Window().ShowLoaderVersion(version);
}

int TSessionServices::SessionPortNumber() const {
    return session_.State().PortNumber;
}
void TSessionServices::ReleaseSessionPort() {
    session_.ReleaseSessionPort();
}
programmers::TFailure TSessionServices::ReclaimSessionPort(bool lowSpeedAfter) {
    return session_.ReclaimSessionPort(lowSpeedAfter);
}
void TSessionServices::StartTitleEstimate(double ticksToFull) {
    session_.StartTitleEstimate(ticksToFull);
}
void TSessionServices::StopTitleEstimate() {
    session_.StopTitleEstimate();
}
void TSessionServices::CountRetry() {
    session_.CountRetry();
}

bool TSessionServices::CurrentLineFailure(std::intptr_t data) const {
    return session_.CurrentLineFailure(data);
}

} // namespace app
