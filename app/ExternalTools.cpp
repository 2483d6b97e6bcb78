#include "app/FailureCauses.h"
#include "app/Messages.h"
#include "app/UpdateSession.h"
#include "platform/Application.h"
#include "platform/Tick.h"
#include "programmers/TransferFailure.h"

// Instruments that a separate tool programs: the registry's tool rows run
// as programmers; the session lends them its port and takes it back.

namespace app {

int UpdateSession::RunExternalTool(programmers::Phase phase, const std::string& fileName) {
    if (!programmers::Choose(SessionKey(phase, Session.FileClass), Options.AddedMethods)) {
        ShowLogText(Text(Msg::NoToolForFileClass) + std::to_string(Session.FileClass));
        Session.LastFailure = FailureAt({}, "no programming tool for file class " +
                                                std::to_string(Session.FileClass));
        return 1;
    }
    window_.ShowWaitPanel(false);
    const bool done = RunProgrammer(phase, Session.FileClass, fileName);
    // What the instrument said once its port was back waits for the step
    // after the tool: posted now, a restart report would come before the
    // restart wait is armed and be passed over as out of turn.
    if (!done) {
        Session.HeldReports.clear();
        if (window_.Closed()) {
            End(Outcome::ClosedDuringTool);
        }
    }
    return done ? 0 : 1;
}

bool UpdateSession::LineDied(const serial::TComPort& port) {
    const platform::SerialResult line = port.FailureResult();
    return line == platform::SerialResult::HungUp || line == platform::SerialResult::Failed;
}

void UpdateSession::SaveLiveSessionLine(serial::TComPort& port) {
    if (port.IsOpen() && !LineDied(port)) {
        port.SaveLastV24Parameter();
    }
}

void UpdateSession::ReleaseSessionPort() {
    if (serial::TComPort* port = SessionComPort()) {
        SaveLiveSessionLine(*port);
        port->Close();
    }
}

// Something may hold the port a moment after the tool (a child of the tool
// still closing it): while the device is there, the reopen is tried again
// every 200 ms for up to 2 s, in real time as the holder runs; only the
// last try shows the port's box.
constexpr std::uint32_t ReopenRetryMs = 2000;
constexpr std::uint32_t ReopenPauseMs = 200;

programmers::TFailure UpdateSession::ReclaimSessionPort(bool lowSpeedAfter) {
    serial::TComPort* port = SessionComPort();
    if (port == nullptr || window_.Closed()) {
        return {};
    }
    const std::uint32_t start = platform::GetTickCount();
    for (;;) {
        const bool lastTry =
            port->DeviceGone() || platform::GetTickCount() - start >= ReopenRetryMs;
        if (port->Open(window_.Handle(), 0, Session.PortNumber - 1, lastTry) !=
            serial::INVALID_HANDLE_VALUE) {
            break;
        }
        if (lastTry) {
            ShowLogText(port->FailureText());
            // The next search opens it again: an adapter plugged in again
            // must be found.
            passedOver_[static_cast<std::size_t>(Session.PortIndex)] = Session.PortNumber - 1;
            return programmers::PortFailure(*port);
        }
        platform::Application::Instance().ProcessMessagesFor(ReopenPauseMs);
        if (window_.Closed()) {
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

void UpdateSession::StartTitleEstimate(double ticksToFull) {
    Session.ExpectedTicks = ticksToFull;
    Session.TickCount = 0;
    window_.RunTitleProgress(true);
}

void UpdateSession::StopTitleEstimate() {
    window_.RunTitleProgress(false);
}

} // namespace app
