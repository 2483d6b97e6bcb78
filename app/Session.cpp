#include "app/Messages.h"
#include "app/UpdateSession.h"
#include "platform/Application.h"
#include "programmers/TransferFailure.h"

#include <cstdio>
#include <iterator>

namespace app {

// Session steps run inside a dispatch: the pump that runs them delivers what
// they post once they return, after their own bookkeeping is done.
void UpdateSession::PostEvent(std::int32_t id, std::intptr_t data) {
    Events.PostMsg(id, data);
}

void UpdateSession::ShowLogText(const std::string& text) {
    window_.ShowLine(ExpandText(text));
}

std::string UpdateSession::BootErrorText(int flag) const {
    return Text(flag != 0 ? Msg::BootloaderError : Msg::BootloaderMissing);
}

void UpdateSession::ClearIdentity() {
    for (IdentityField field : {IdentityField::Name, IdentityField::Serial, IdentityField::Pcb,
                                IdentityField::Software}) {
        window_.ShowIdentityField(field, "");
    }
}

void UpdateSession::AddLogLine(const std::string& text) {
    if (Config.DebugInfo) {
        window_.ShowLine(ExpandText(text));
    }
}

kernel::TEventRec UpdateSession::SessionHandler(void* context, kernel::TEvents&,
                                                kernel::TEventRec event) {
    return static_cast<UpdateSession*>(context)->HandleSessionEvent(event);
}

kernel::TEventRec UpdateSession::HandleSessionEvent(kernel::TEventRec event) {
    const kernel::TEventRec consumed = kernel::TEvents::ClearEvent();
    switch (event.Kind) {
    case kernel::evKey:
        if (event.Id == event::KeyStart) {
            StartSession();
            return consumed;
        }
        return event;
    case kernel::evTimer:
        if (Session.ReplyTimer != 0 && event.Id == Session.ReplyTimer) {
            OnReplyTimeout();
            return consumed;
        }
        return event;
    case kernel::evMessage:
        break;
    default:
        return event;
    }
    const std::int32_t id = event.Id;
    const char* text = reinterpret_cast<const char*>(event.Data);
    switch (id) {
    case event::CharsReceived:
        OnCharsReceived(static_cast<int>(event.Data));
        return consumed;
    case event::CloseWindow:
        window_.Close();
        return consumed;
    case event::Acknowledge:
        // Between sessions an acknowledge is a late answer (the exit command's
        // of an earlier run, say): it must not start a dialogue of its own.
        if (Session.Running) {
            OnAcknowledge();
        }
        return consumed;
    case event::AcknowledgeAgain:
        OnAcknowledge();
        return consumed;
    case event::CommandReply:
        // An "A." line of the restarted firmware is its report too, unless
        // its final "!" already made it an acknowledge.
        if (!Session.AwaitingRestart) {
            return event;
        }
        if (!programmers::ReplyLineAcknowledges(text)) {
            OnAcknowledge();
        }
        return consumed;
    case reply::DeviceNr:
    case reply::DeviceNrAlt:
    case reply::DeviceNrAlt2:
    case reply::Version:
    case reply::VersionAlt:
    case reply::VersionSensor:
    case reply::PcbNr:
    case reply::PcbNrAlt:
    case reply::PcbNrAlt2:
    case reply::SerialNr:
    case reply::SerialNrAlt:
        OnIdentificationAnswer(id, text != nullptr ? text : "");
        return consumed;
    case reply::NewFirmwareStoring:
    case reply::NewFirmwareReady:
    case reply::MemoryVariant:
    case reply::SensorNotice:
    case reply::ReadyToProgram:
    case reply::WaitRequest:
    case reply::NotInUpdateMode:
        OnInstrumentReply(id, event.Data);
        return consumed;
    case event::ProgrammingFailed:
    case event::BootFileFailed:
        SessionFailed(id);
        return consumed;
    case event::LineFailed:
        if (CurrentLineFailure(event.Data)) {
            OnSessionLineFailed();
        }
        return consumed;
    case event::ResumeAfterTransfer:
        ResumeAfterTransfer();
        return consumed;
    case event::ToolSucceeded:
    case event::StartClass0:
    case event::BootloaderFileStep:
    case event::TerminalStep:
    case event::ToolStep:
    case event::StartClass1:
    case event::RetryClass1:
    case event::StartClass2:
    case event::StartClass3:
    case event::StartClass4:
    case event::BootFrameAnswer:
    case event::BootByteAnswer:
    case event::Recovery:
        if (id == event::BootByteAnswer) {
            Session.AnswerChar = static_cast<char>(event.Data);
        }
        // Kept first: the device check compares the name with the entry's.
        if (id == event::BootFrameAnswer && text != nullptr) {
            Session.BootAnswerText = text;
        }
        ProgrammingStep(id);
        return consumed;
    default:
        return event;
    }
}

void UpdateSession::BeginNewSession() {
    // A sensor session ran in mode 2; the next one wakes as configured.
    Session.StartMode = StartModeAsRead;
    ReopenPassedOverPorts();
    RestoreSearchLines();
    Session.Begin();
    report_.BeginSession();
    window_.EnableOk(false);
}

void UpdateSession::StartSession() {
    BeginNewSession();
    window_.RunWaitBar(false);
    window_.SetProgressPosition(0);
    Session.ReplyTimer = Timers.TimerStart(ReplyTimeoutMs);
    window_.ShowWaitPanel(true);
    ScanStep(true);
}

void UpdateSession::OnReplyTimeout() {
    if (Session.Calibrating) {
        ShowLogText(Text(Msg::InstrumentNoAnswer));
        programmers::TFailure failure;
        failure.Cause = "no answer within " + std::to_string(ReplyTimeoutMs) +
                        " ms while the calibration value was sent";
        FailCalibration(std::move(failure));
        return;
    }
    if (Session.AwaitingRestart) {
        OnRestartTimeout();
        return;
    }
    if (Session.AwaitingExitAck) {
        EndAfterExitAck();
        return;
    }
    if (Session.ProbeState == ProbeState::FirstProbeSent) {
        SendBootProbe(ProbeState::SecondProbeSent);
        return;
    }
    if (Session.PendingRecovery != RecoveryKind::None) {
        NoLoaderAnswered();
        return;
    }
    // A line error repeats the current rate once; it must not hold the
    // search there for good.
    const bool repeat = Session.LineErrorSeen;
    Session.LineErrorSeen = false;
    ScanStep(!repeat);
}

void UpdateSession::OnAcknowledge() {
    if (Session.AwaitingExitAck) {
        EndAfterExitAck();
        return;
    }
    const AckStep step = Session.AckStep;
    if (Session.AwaitingRestart) {
        Session.AwaitingRestart = false;
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    }
    if (step == AckStep::OpenDialogue) {
        SendCommand(command::Dialogue);
        Timers.TimerRestart(Session.ReplyTimer);
    }
    if (step == AckStep::QueryIdentity) {
        SendCommand(command::IdentificationQueries[static_cast<std::size_t>(Session.QueryStep) %
                                                   std::size(command::IdentificationQueries)]);
        Timers.TimerRestart(Session.ReplyTimer);
        Session.QueryStep = 1;
    }
    if (step == AckStep::RunToolForProgFile1 && !Session.Done) {
        if (Session.ProgFile1.size() < 4) {
            Session.AckStep = AckStep::RunTool;
        } else {
            Session.RetryStep = RetryableStep::ToolForProgFile1;
            ShowLogText(Text(Msg::ProgrammingName));
            if (RunExternalTool(programmers::Phase::Tool, Session.ProgFile1) == 0) {
                window_.RunWaitBar(true);
                AwaitInstrumentAfterTool();
            } else {
                PostEvent(event::ProgrammingFailed);
            }
            ShowLogText(Text(Msg::StoringNewData));
            window_.SetProgressPosition(1);
        }
    }
    if (!Session.Done) {
        switch (Session.AckStep) {
        case AckStep::StartClass0:
            PostEvent(event::StartClass0);
            break;
        case AckStep::RunTool:
            PostEvent(event::ToolStep);
            break;
        case AckStep::BootloaderFileAfterTool:
        case AckStep::BootloaderFileAfterLoader:
            PostEvent(event::BootloaderFileStep);
            break;
        case AckStep::TerminalProgram:
            PostEvent(event::TerminalStep);
            break;
        default:
            break;
        }
    }
    ++Session.AckStep;
}

// Only the restart step may end a session on the new firmware's report: the
// old firmware's or a stray one before the transfer must not read as success.
bool UpdateSession::IgnoredOutOfTurn() {
    if (Session.AwaitingRestart) {
        return false;
    }
    ShowLogText(Text(Msg::RestartReportOutOfTurn));
    return true;
}

void UpdateSession::OnInstrumentReply(std::int32_t id, std::intptr_t data) {
    const char* text = reinterpret_cast<const char*>(data);
    switch (id) {
    case reply::NewFirmwareStoring: {
        if (Session.Finishing || IgnoredOutOfTurn()) {
            break;
        }
        Session.AwaitingRestart = false;
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        if (Session.StartMode == 2) {
            Session.AckStep = AckStep::Ignore;
            FinishSession(false);
        } else {
            ShowLogText(Text(Msg::StoringNewData));
            window_.Wait().DelayTime(1000, false);
            SetClockAndAwaitAck(true, ReplyTimeoutMs, true);
        }
        break;
    }
    case reply::NewFirmwareReady:
        if (Session.Finishing || IgnoredOutOfTurn()) {
            break;
        }
        Session.AwaitingRestart = false;
        Session.AckStep = AckStep::Ignore;
        FinishSession(false);
        break;
    case reply::MemoryVariant:
        Session.Job.MemoryVariant = text != nullptr ? text[0] : '\0';
        if (TakeBasicLoaderFile()) {
            SendCommand(command::MemoryVariantTaken);
        }
        break;
    case reply::SensorNotice:
        Session.SensorNotice = true;
        break;
    case reply::ReadyToProgram:
        if (Session.Job.Ident.DeviceNr.find("41215") != std::string::npos &&
            Session.Job.Ident.DevSw <= 1049) {
            SendCommand(command::OldFirmwareStart);
        } else {
            ++Session.AckStep;
            Session.SearchFailures = 0;
            PostEvent(event::StartClass0);
        }
        break;
    case reply::WaitRequest: {
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        long ms = 0;
        for (const char* c = text; c != nullptr && *c >= '0' && *c <= '9' && ms < 600000; ++c) {
            ms = ms * 10 + (*c - '0');
        }
        window_.Wait().CountdownTime(ms, false);
        break;
    }
    case reply::NotInUpdateMode:
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        window_.ShowWaitPanel(false);
        Session.Done = true;
        Session.Running = false;
        window_.EnableOk(true);
        if (dialogs_.MessageBox(Text(Msg::NoInstrumentRecognised), Text(Msg::CaptionInfo),
                                platform::MB_YESNO | platform::MB_ICONQUESTION) ==
            platform::IDYES) {
            SendAll(WakeCommand());
            AddLogLine(WakeCommand());
            Session.AckStep = AckStep::OpenDialogue;
            Session.Running = true;
            window_.ShowWaitPanel(true);
            window_.EnableOk(false);
            Session.QueryStep = 0;
        }
        break;
    default:
        break;
    }
}

void UpdateSession::EndAfterCheck() {
    SendExitAfterCheck();
    AwaitExitAck();
}

void UpdateSession::SendExitAfterCheck() {
    Session.StartMode = StartModeAsRead;
    window_.Wait().DelayTime(1000, false);
    ClearIdentity();
    Session.Done = true;
    SendCommand(ExitCommand());
    Session.QueryStep = 0;
    window_.ShowWaitPanel(false);
}

void UpdateSession::ShowDuration(int kind) {
    window_.ClearLog();
    unsigned minutes = UpdateNeeded() ? 2 : 0;
    if (kind == 2) {
        minutes = 15;
    } else if (kind == 4) {
        minutes = 6;
    }
    if (BootUpdateNeeded()) {
        minutes += 1;
    }
    if (Session.ProgFile1.size() > 3) {
        minutes += 2;
    }
    if (BootUpdateNeeded() && Session.Job.Ident.DevBoot > 2000) {
        minutes += 35;
    }
    std::string text = Text(Msg::DownloadMayLast);
    if (std::size_t x = text.find('X'); x != std::string::npos) {
        char number[16];
        std::snprintf(number, sizeof number, "%u", minutes);
        text.replace(x, 1, number);
    }
    ShowLogText(text);
}

void UpdateSession::FinishSession(bool reset) {
    // A report that comes during the waits below must not finish it twice.
    if (Session.Finishing ||
        LineDiedBehindTransfer(reset ? AfterTransfer::FinishAndReset : AfterTransfer::Finish)) {
        return;
    }
    Session.Finishing = true;
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    window_.Wait().DelayTime(3000, true);
    serial::TComPort* port = SessionComPort();
    if (Session.StartMode == 2 && port != nullptr) {
        port->LoadLastV24Parameter();
    }
    if (Session.CalibState != TSessionState::NoCalibrationValue) {
        // The closing steps run once the value is sent, with the reset asked
        // for here.
        Session.ResetAfterCalibration = reset;
        Session.Calibrating = true;
        Events.AddHandler(&UpdateSession::CalibHandler, this);
        Session.ReplyTimer = Timers.TimerStart(ReplyTimeoutMs);
        SendCommand(command::Dialogue, false);
        return;
    }
    if (Session.Job.Variant == 2) {
        window_.Wait().CountdownTime(8000, true);
    }
    // The session is over: the acknowledge of the exit command must not
    // start another step (it would reach the Basic-Loader after a success).
    Session.AckStep = AckStep::Ignore;
    SendCommand(ExitCommand());
    End(Outcome::Updated);
    window_.ShowIdentityField(IdentityField::Software, Session.Job.Ident.FileSwVersion);
    window_.EnableOk(false);
    window_.RunWaitBar(false);
    window_.SetProgressPosition(0);
    window_.ShowWaitPanel(false);
    window_.ShowTitleState(programmers::TitleState::Plain);
    window_.Wait().DelayTime(1000, true);
    if (reset) {
        SendCommand(command::Restart);
        window_.Wait().DelayTime(2000, true);
    }
    if ((port = SessionComPort()) != nullptr) {
        port->Close();
    }
    Session.Running = false;
    if (Config.AutoStartActive) {
        window_.Close();
    }
}

kernel::TEventRec UpdateSession::CalibHandler(void* context, kernel::TEvents& events,
                                              kernel::TEventRec event) {
    auto* self = static_cast<UpdateSession*>(context);
    if (event.Kind != kernel::evMessage || event.Id != event::Acknowledge) {
        return event;
    }
    TSessionState& session = self->Session;
    self->Timers.TimerRestart(session.ReplyTimer);
    if (session.CalibState == TSessionState::NoCalibrationValue) {
        self->SendCommand(self->ExitCommand());
        events.RemoveHandler(&UpdateSession::CalibHandler, self);
        session.Finishing = false; // the closing steps go on from here
        session.Calibrating = false;
        self->FinishSession(session.ResetAfterCalibration);
    } else if (session.CalibState == TSessionState::CalibrationValueSent) {
        self->SendCommand(self->ExitCommand());
        session.CalibState = TSessionState::NoCalibrationValue;
    } else {
        // An unknown serial number (-10) sends the default pressure.
        char text[48];
        std::snprintf(text, sizeof text, "%s%1.1f\r\n", command::CalibrationPrefix,
                      static_cast<double>(self->Pressures.PressureValue(session.CalibState)));
        self->SendCommand(text);
        session.CalibState = TSessionState::CalibrationValueSent;
    }
    return kernel::TEvents::ClearEvent();
}

void UpdateSession::SessionFailed(std::int32_t id) {
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.Running = false;
    // A session an earlier ending decided otherwise (updated, say) stays so:
    // no retry. One that failed or was aborted offers it.
    const bool decidedOtherwise = Session.Decided && report_.Outcome != outcome::Failed &&
                                  report_.Outcome != outcome::Aborted;
    End(Outcome::Failed);
    window_.EnableOk(true);
    window_.ShowWaitPanel(false);
    if (id == event::ProgrammingFailed && !decidedOtherwise &&
        RetryRowOf(Session.RetryStep).Retry != NoRetry) {
        Events.AddHandler(&UpdateSession::RetryHandler, this);
    }
    if (Config.AutoStartActive) {
        window_.Close();
    }
}

// Nothing will come on a dead line: what waits on it ends now, with the
// port's cause, instead of at its time-out.
void UpdateSession::OnSessionLineFailed() {
    serial::TComPort* port = SessionComPort();
    if (port == nullptr) {
        return;
    }
    const std::string cause = port->FailureText();
    if (Session.AwaitingExitAck) {
        ShowLogText(cause);
        EndAfterExitAck();
        return;
    }
    // Before the transfer a dead port is passed over as a silent one: the
    // search goes on at its time-out. FinishSession's closing waits are short
    // and bounded; the update stands.
    const bool transferBegun = report_.Step == step::Transfer || report_.Step == step::Restart;
    if (!Session.Running || !transferBegun || (Session.Finishing && !Session.Calibrating)) {
        return;
    }
    programmers::TFailure failure = programmers::PortFailure(*port, report_.Step);
    if (Session.Calibrating) {
        ShowLogText(cause);
        FailCalibration(std::move(failure));
    } else if (Session.AwaitingRestart) {
        ShowLogText(cause);
        FailAfterTransfer(std::move(failure), ResumePoint(true));
    } else if (Session.LastFailure.Empty()) {
        // A step between two of its own waits: ending the session here would
        // let the step run on and end it a second time. Its next use of the
        // port fails it, and this cause stays for its end.
        ShowLogText(cause);
        Session.LastFailure = std::move(failure);
    }
}

void UpdateSession::FailCalibration(programmers::TFailure failure) {
    Events.RemoveHandler(&UpdateSession::CalibHandler, this);
    Session.Calibrating = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.LastFailure = std::move(failure);
    // Programmed already: repeating the transfer would not help.
    PostEvent(event::BootFileFailed);
}

kernel::TEventRec UpdateSession::RetryHandler(void* context, kernel::TEvents& events,
                                              kernel::TEventRec event) {
    if (event.Kind != kernel::evKey || event.Id != event::KeyStart) {
        return event;
    }
    auto* session = static_cast<UpdateSession*>(context);
    events.RemoveHandler(&UpdateSession::RetryHandler, session);
    ++session->report_.Retries;
    session->Session.Running = true; // the session goes on: its acknowledges count again
    session->Session.Decided = false;
    session->window_.EnableOk(false);
    session->window_.ClearLog();
    session->window_.RunWaitBar(false);
    session->window_.SetProgressPosition(0);
    // The step that failed runs again, whatever ran in earlier sessions.
    const TRetryRow& row = RetryRowOf(session->Session.RetryStep);
    // The resume after a transfer opens the port again itself; a tool takes
    // the port over and back on its own (a child of it may still hold it).
    if (!row.LendsPortToTool && row.Retry != event::ResumeAfterTransfer &&
        !session->ReopenSessionPortForRetry(false)) {
        return kernel::TEvents::ClearEvent();
    }
    if (row.FromToolAckStep) {
        session->Session.AckStep = AckStep::RunToolForProgFile1;
    }
    if (row.InRecoveryFlow) {
        session->RetryRecovery(row.Retry);
        return kernel::TEvents::ClearEvent();
    }
    const int fileClass = session->Session.FileClass;
    std::int32_t retry = row.Retry;
    if (retry == RetryOfFileClass) {
        retry = fileClass >= 0 && fileClass <= 4 ? event::RetryByFileClass[fileClass]
                                                 : event::AcknowledgeAgain;
    }
    session->PostEvent(retry);
    return kernel::TEvents::ClearEvent();
}

void UpdateSession::SearchFailed() {
    Session.Running = false;
    Session.QueryStep = 0;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    window_.EnableRecoveryMenu(true);
    window_.ShowWaitPanel(false);
    Session.BootInfoShown = false;
    if (Session.SearchFailures == 0) {
        const std::uint32_t generation = Session.Generation;
        dialogs_.MessageBox(Text(Msg::NoDeviceFound), Text(Msg::CaptionError),
                            platform::MB_OK | platform::MB_ICONERROR);
        if (generation != Session.Generation) {
            return; // a recovery chosen meanwhile runs
        }
        Session.SearchFailures = 1;
        ClearIdentity();
        Events.PostKey(event::KeyStart);
        window_.ProcessEvents();
        return;
    }
    dialogs_.MessageBox(ExpandText(Text(Msg::NoNameFound)), Text(Msg::CaptionError),
                        platform::MB_OK | platform::MB_ICONERROR);
    ClearIdentity();
    window_.Close();
}

} // namespace app
