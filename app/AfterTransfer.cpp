#include "app/RetryTable.h"
#include "app/UpdateSession.h"

#include <optional>
#include <utility>

// A transfer that succeeded stands when its line dies behind it: the step
// after it fails on the dead line, and OK resumes that step on the port
// opened again instead of repeating the transfer.

namespace app {

bool UpdateSession::LineDiedBehindTransfer(std::optional<AfterTransfer> next) {
    if (Session.LineDiedAfterTransfer.Empty()) {
        return false;
    }
    FailAfterTransfer(std::exchange(Session.LineDiedAfterTransfer, {}), next);
    return true;
}

void UpdateSession::FailAfterTransfer(programmers::TFailure failure,
                                      std::optional<AfterTransfer> resumeAt) {
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    report_.Step = step::Restart;
    failure.Step = step::Restart;
    Session.LastFailure = std::move(failure);
    // Nothing the firmware said before will be answered on the new line.
    Session.HeldReports.clear();
    if (resumeAt) {
        RetryAfterTransferAt(*resumeAt);
    }
    PostEvent(event::ProgrammingFailed);
}

// A clock's acknowledge is all that is missing once the firmware reported,
// but after a tool it is all that confirms the tool's claim. A restart wait
// stands on a transfer of ours only where it asks the silent firmware (a
// programmer's); after a tool (or a lab recovery, whose retry is its own)
// nothing stands. Silence in a restart wait leaves the transfer in doubt.
std::optional<AfterTransfer> UpdateSession::ResumePoint(bool lineDied) const {
    if (Session.AwaitingClockAck) {
        return Session.Clock.AfterTransfer ? std::optional(AfterTransfer::SetClock) : std::nullopt;
    }
    if (lineDied && !Session.RestartUnverified) {
        return AfterTransfer::AwaitRestart;
    }
    return std::nullopt;
}

void UpdateSession::RetryAfterTransferAt(AfterTransfer next) {
    // A recovery's retry runs the recovery again, at its own line settings.
    if (RetryRowOf(Session.RetryStep).InRecoveryFlow) {
        return;
    }
    Session.RetryStep = RetryableStep::Restart;
    Session.ResumeAt = next;
}

// The clock's acknowledge drives the next step; without one the session
// fails. A retry after a transfer that stands sends this clock again.
void UpdateSession::SetClockAndAwaitAck(bool secondsForm, int boundMs, bool afterTransfer) {
    Session.Clock = {secondsForm, boundMs, afterTransfer};
    Session.AwaitingClockAck = true;
    if (LineDiedBehindTransfer(ResumePoint(true))) {
        return;
    }
    SetClock(secondsForm);
    AwaitRestart(boundMs, false);
    Session.AwaitingClockAck = Session.AwaitingRestart;
}

// A line that died keeps its device's last settings, which a step that
// failed on it could not set back: the port opens at the line kept when the
// failed step began (a programmer's start, a tool's, the session's).
bool UpdateSession::ReopenSessionPortForRetry(bool lowSpeedAfter) {
    serial::TComPort* port = SessionComPort();
    if (port == nullptr) {
        return true;
    }
    if (port->IsOpen()) {
        if (!LineDied(*port)) {
            return true;
        }
        port->Close();
    }
    programmers::TFailure failure = ReclaimSessionPort(lowSpeedAfter);
    if (window_.Closed()) {
        return false;
    }
    if (!failure.Empty()) {
        // The step that could not reach its line failed, not the transfer
        // behind it.
        failure.Step = report_.Step;
        Session.LastFailure = std::move(failure);
        PostEvent(event::ProgrammingFailed);
        return false;
    }
    return true;
}

void UpdateSession::ResumeAfterTransfer() {
    report_.Step = step::Restart;
    if (!ReopenSessionPortForRetry(Session.StartMode == 2)) {
        return;
    }
    switch (Session.ResumeAt) {
    case AfterTransfer::AwaitRestart:
        AwaitRestart(Session.RestartBoundMs, !Session.RestartUnverified);
        // What the instrument said while its line was dead is lost: ask now.
        if (Session.RestartAskPending) {
            OnRestartTimeout();
        } else {
            SendCommand(command::Dialogue);
        }
        break;
    case AfterTransfer::SetClock:
        SetClockAndAwaitAck(Session.Clock.SecondsForm, Session.Clock.BoundMs, true);
        break;
    case AfterTransfer::Finish:
    case AfterTransfer::FinishAndReset:
        FinishSession(Session.ResumeAt == AfterTransfer::FinishAndReset);
        break;
    }
}

} // namespace app
