#include "app/RetryTable.h"
#include "app/UpdateSession.h"

#include <optional>
#include <utility>

// A transfer that succeeded stands when its line dies behind it: the step
// after it fails on the dead line, and OK resumes that step on the port
// opened again instead of repeating the transfer.

namespace app {

bool UpdateSession::LineDiedBehindTransfer(AfterTransfer next) {
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
    if (LineDiedBehindTransfer(AfterTransfer::SetClock)) {
        return;
    }
    SetClock(secondsForm);
    AwaitRestart(boundMs, false);
    Session.AwaitingClockAck = Session.AwaitingRestart;
}

void UpdateSession::ResumeAfterTransfer() {
    report_.Step = step::Restart;
    serial::TComPort* port = SessionComPort();
    if (port == nullptr) {
        return;
    }
    port->Close();
    programmers::TFailure failure = ReclaimSessionPort(Session.StartMode == 2);
    if (window_.Closed()) {
        return;
    }
    if (!failure.Empty()) {
        failure.Step = step::Restart;
        Session.LastFailure = std::move(failure);
        PostEvent(event::ProgrammingFailed);
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
