#include "app/FailureCauses.h"
#include "app/Messages.h"
#include "app/Updatemain.h"
#include "platform/Application.h"
#include "platform/Tick.h"

// Instruments that a separate tool programs: the registry's tool rows run
// as programmers; the session lends them its port and takes it back.

namespace app {

int TUpdateForm::RunExternalTool(programmers::Phase phase, const std::string& fileName) {
    if (!programmers::Choose(SessionKey(phase, Session.FileClass), options_.AddedMethods)) {
        ShowLogText(Text(Msg::NoToolForFileClass) + std::to_string(Session.FileClass));
        Session.LastFailure = FailureAt({}, "no programming tool for file class " +
                                                std::to_string(Session.FileClass));
        return 1;
    }
    WaitPanel->SetVisible(false);
    const bool done = RunProgrammer(phase, Session.FileClass, fileName);
    // What the instrument said once its port was back goes on to the step
    // after the tool, as it arrived.
    ReleaseHeldReports();
    if (!done && closed_) {
        End(Outcome::ClosedDuringTool);
    }
    return done ? 0 : 1;
}

void TUpdateForm::ReleaseSessionPort() {
    if (serial::TComPort* port = SessionComPort()) {
        port->SaveLastV24Parameter();
        port->Close();
    }
}

// Something may hold the port a moment after the tool (a child of the tool
// still closing it): while the device is there, the reopen is tried again
// every 200 ms for up to 2 s, in real time as the holder runs; only the
// last try shows the port's box.
constexpr std::uint32_t ReopenRetryMs = 2000;
constexpr std::uint32_t ReopenPauseMs = 200;

programmers::TFailure TUpdateForm::ReclaimSessionPort(bool lowSpeedAfter) {
    serial::TComPort* port = SessionComPort();
    if (port == nullptr || closed_) {
        return {};
    }
    const std::uint32_t start = platform::GetTickCount();
    for (;;) {
        const bool lastTry =
            port->DeviceGone() || platform::GetTickCount() - start >= ReopenRetryMs;
        if (port->Open(handle_, 0, Session.PortNumber - 1, lastTry) !=
            serial::INVALID_HANDLE_VALUE) {
            break;
        }
        if (lastTry) {
            ShowLogText(port->FailureText());
            return programmers::PortFailure(*port, step::Transfer);
        }
        platform::Application::Instance().ProcessMessagesFor(ReopenPauseMs);
        if (closed_) {
            return {};
        }
    }
    if (lowSpeedAfter) {
        port->ChangeV24Parameter(serial::B__9600, serial::S_2, serial::NoParity, true);
    } else {
        port->LoadLastV24Parameter();
    }
    return {};
}

void TUpdateForm::StartTitleEstimate(double ticksToFull) {
    Session.ExpectedTicks = ticksToFull;
    Session.TickCount = 0;
    TitleTimer->SetEnabled(true);
}

void TUpdateForm::StopTitleEstimate() {
    TitleTimer->SetEnabled(false);
}

} // namespace app
