#include "app/UpdateSession.h"

#include "app/DeviceClock.h"
#include "app/ProgrammerServices.h"

#include <ctime>

namespace app {

UpdateSession::UpdateSession(TSessionWindow& window, const TSessionContext& context,
                             platform::Dialogs& shown)
    : TSessionContext(context), window_(window), boxes_(shown, report_), dialogs_(boxes_) {
    report_.IdentifyOnly = Options.IdentifyOnly;
}

void UpdateSession::Attach() {
    Events.AddHandler(&UpdateSession::SessionHandler, this);
}

void UpdateSession::TakeDeviceConfiguration(int startMode, int fileClass) {
    Session.StartMode = startMode;
    Session.FileClass = fileClass;
}

double UpdateSession::NextTitleTick() {
    ++Session.TickCount;
    return Session.ExpectedTicks > 0 ? Session.TickCount / Session.ExpectedTicks * 100.0 : 100.0;
}

serial::TComPort* UpdateSession::SessionComPort() const {
    if (Session.PortIndex < 0 || Session.PortIndex >= PortCount) {
        return nullptr;
    }
    return PortTable[Session.PortIndex];
}

// The session's generation above the port table index: a late event of an
// earlier session or of another port reads as stale.
std::intptr_t UpdateSession::LineFailedData(int tableIndex) const {
    static_assert(MaxPorts <= 0x100);
    return static_cast<std::intptr_t>(Session.Generation) << 8 | (tableIndex & 0xFF);
}

bool UpdateSession::CurrentLineFailure(std::intptr_t data) const {
    return Session.PortIndex >= 0 && data == LineFailedData(Session.PortIndex);
}

void UpdateSession::SendToSessionPort(const std::string& text) {
    serial::TComPort* port = SessionComPort();
    if (port == nullptr) {
        return;
    }
    if (Session.StartMode == 2) {
        port->LoadLastV24Parameter();
        window_.Wait().DelayTime(500, true);
    }
    port->Write(text.c_str(), static_cast<int>(text.size()), false);
    AddLogLine(text);
}

programmers::TProgramFile UpdateSession::LocateProgramFile(const std::string& name) {
    TSessionServices services(*this);
    return programmers::LocateProgramFile(services, name);
}

void UpdateSession::SetClock(bool secondsForm) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    SendToSessionPort(ClockCommand(secondsForm, local));
}

} // namespace app
