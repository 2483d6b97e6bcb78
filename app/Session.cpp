#include "app/Messages.h"
#include "app/Updatemain.h"
#include "platform/Application.h"

#include <cstdio>
#include <iterator>

namespace app {

// Session steps run inside a dispatch: the pump that runs them delivers what
// they post once they return, after their own bookkeeping is done.
void TUpdateForm::PostEvent(std::int32_t id, std::intptr_t data) {
    Events.PostMsg(id, data);
}

void TUpdateForm::ShowLogText(const std::string& text) {
    UpdateMemo->Add(ExpandText(text));
}

std::string TUpdateForm::BootErrorText(int flag) const {
    return Text(flag != 0 ? Msg::BootloaderError : Msg::BootloaderMissing);
}

void TUpdateForm::ClearIdentity() {
    for (platform::TStaticText* field :
         {NameStaticText, SerStaticText, PCBStaticText, SWStaticText}) {
        field->SetCaption("");
    }
}

kernel::TEventRec TUpdateForm::SessionHandler(void* context, kernel::TEvents&,
                                              kernel::TEventRec event) {
    return static_cast<TUpdateForm*>(context)->HandleSessionEvent(event);
}

kernel::TEventRec TUpdateForm::HandleSessionEvent(kernel::TEventRec event) {
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
        Beenden();
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
        OnSessionLineFailed();
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

void TUpdateForm::BeginNewSession() {
    // A sensor session ran in mode 2; the next one wakes as configured.
    Session.StartMode = StartModeAsRead;
    ReopenPassedOverPorts();
    RestoreSearchLines();
    Session.Begin();
    Report.BeginSession();
    OkBitBtn->SetEnabled(false);
}

void TUpdateForm::StartSession() {
    BeginNewSession();
    SecTimer->SetEnabled(false);
    WaitProgressBar->SetPosition(0);
    Session.ReplyTimer = Timers.TimerStart(ReplyTimeoutMs);
    WaitPanel->SetVisible(true);
    ScanStep(true);
}

void TUpdateForm::OnReplyTimeout() {
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

void TUpdateForm::OnAcknowledge() {
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
                Session.ToolStepDone = true;
                SecTimer->SetEnabled(true);
                AwaitInstrumentAfterTool();
            } else {
                PostEvent(event::ProgrammingFailed);
            }
            ShowLogText(Text(Msg::StoringNewData));
            WaitProgressBar->SetPosition(1);
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
bool TUpdateForm::IgnoredOutOfTurn() {
    if (Session.AwaitingRestart) {
        return false;
    }
    ShowLogText(Text(Msg::RestartReportOutOfTurn));
    return true;
}

void TUpdateForm::OnInstrumentReply(std::int32_t id, std::intptr_t data) {
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
            wait->DelayTime(1000, false);
            SetClock(true);
            // The clock's acknowledge goes on; without one the session fails.
            AwaitRestart(ReplyTimeoutMs, false);
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
        wait->CountdownTime(ms, false);
        break;
    }
    case reply::NotInUpdateMode:
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        WaitPanel->SetVisible(false);
        Session.Done = true;
        Session.Running = false;
        OkBitBtn->SetEnabled(true);
        if (dialogs_.MessageBox(Text(Msg::NoInstrumentRecognised), Text(Msg::CaptionInfo),
                                platform::MB_YESNO | platform::MB_ICONQUESTION) ==
            platform::IDYES) {
            SendAll(WakeCommand());
            AddLogLine(WakeCommand());
            Session.AckStep = AckStep::OpenDialogue;
            Session.Running = true;
            WaitPanel->SetVisible(true);
            OkBitBtn->SetEnabled(false);
            Session.QueryStep = 0;
        }
        break;
    default:
        break;
    }
}

void TUpdateForm::EndAfterCheck() {
    SendExitAfterCheck();
    AwaitExitAck();
}

void TUpdateForm::SendExitAfterCheck() {
    Session.StartMode = StartModeAsRead;
    wait->DelayTime(1000, false);
    ClearIdentity();
    Session.Done = true;
    SendCommand(ExitCommand());
    Session.QueryStep = 0;
    WaitPanel->SetVisible(false);
}

void TUpdateForm::ShowDuration(int kind) {
    UpdateMemo->Clear();
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

void TUpdateForm::FinishSession(bool reset) {
    // A report that comes during the waits below must not finish it twice.
    if (Session.Finishing) {
        return;
    }
    Session.Finishing = true;
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    wait->DelayTime(3000, true);
    serial::TComPort* port = SessionComPort();
    if (Session.StartMode == 2 && port != nullptr) {
        port->LoadLastV24Parameter();
    }
    if (Session.CalibState != TSessionState::NoCalibrationValue) {
        // The closing steps run once the value is sent, with the reset asked
        // for here.
        Session.ResetAfterCalibration = reset;
        Session.Calibrating = true;
        Events.AddHandler(&TUpdateForm::CalibHandler, this);
        Session.ReplyTimer = Timers.TimerStart(ReplyTimeoutMs);
        SendCommand(command::Dialogue, false);
        return;
    }
    if (Session.Job.Variant == 2) {
        wait->CountdownTime(8000, true);
    }
    // The session is over: the acknowledge of the exit command must not
    // start another step (it would reach the Basic-Loader after a success).
    Session.AckStep = AckStep::Ignore;
    SendCommand(ExitCommand());
    End(Outcome::Updated);
    SWStaticText->SetCaption(Session.Job.Ident.FileSwVersion);
    OkBitBtn->SetEnabled(false);
    SecTimer->SetEnabled(false);
    WaitProgressBar->SetPosition(0);
    WaitPanel->SetVisible(false);
    ShowTitleProgress("", -1);
    wait->DelayTime(1000, true);
    if (reset) {
        SendCommand(command::Restart);
        wait->DelayTime(2000, true);
    }
    if ((port = SessionComPort()) != nullptr) {
        port->Close();
    }
    Session.Running = false;
    if (Config.AutoStartActive) {
        Beenden();
    }
}

kernel::TEventRec TUpdateForm::CalibHandler(void* context, kernel::TEvents& events,
                                            kernel::TEventRec event) {
    auto* form = static_cast<TUpdateForm*>(context);
    if (event.Kind != kernel::evMessage || event.Id != event::Acknowledge) {
        return event;
    }
    TSessionState& session = form->Session;
    form->Timers.TimerRestart(session.ReplyTimer);
    if (session.CalibState == TSessionState::NoCalibrationValue) {
        form->SendCommand(form->ExitCommand());
        events.RemoveHandler(&TUpdateForm::CalibHandler, form);
        session.Finishing = false; // the closing steps go on from here
        session.Calibrating = false;
        form->FinishSession(session.ResetAfterCalibration);
    } else if (session.CalibState == TSessionState::CalibrationValueSent) {
        form->SendCommand(form->ExitCommand());
        session.CalibState = TSessionState::NoCalibrationValue;
    } else {
        // An unknown serial number (-10) sends the default pressure.
        char text[48];
        std::snprintf(text, sizeof text, "%s%1.1f\r\n", command::CalibrationPrefix,
                      static_cast<double>(form->Pressures.PressureValue(session.CalibState)));
        form->SendCommand(text);
        session.CalibState = TSessionState::CalibrationValueSent;
    }
    return kernel::TEvents::ClearEvent();
}

void TUpdateForm::SessionFailed(std::int32_t id) {
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.Running = false;
    End(Outcome::Failed);
    OkBitBtn->SetEnabled(true);
    WaitPanel->SetVisible(false);
    if (id == event::ProgrammingFailed && RetryRowOf(Session.RetryStep).Retry != NoRetry) {
        Events.AddHandler(&TUpdateForm::RetryHandler, this);
    }
    if (Config.AutoStartActive) {
        Beenden();
    }
}

// Nothing will come on a dead line: what waits on it ends now, with the
// port's cause, instead of at its time-out.
void TUpdateForm::OnSessionLineFailed() {
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
    const bool transferBegun = Report.Step == step::Transfer || Report.Step == step::Restart;
    if (!Session.Running || !transferBegun || (Session.Finishing && !Session.Calibrating)) {
        return;
    }
    programmers::TFailure failure{
        Report.Step, cause, {}, port->FailureResult(), port->FailureErrno()};
    if (Session.Calibrating) {
        ShowLogText(cause);
        FailCalibration(std::move(failure));
    } else if (Session.AwaitingRestart) {
        ShowLogText(cause);
        Session.LastFailure = std::move(failure);
        SessionFailed(event::ProgrammingFailed);
    } else if (Session.LastFailure.Empty()) {
        // A step between two of its own waits: ending the session here would
        // let the step run on and end it a second time. Its next use of the
        // port fails it, and this cause stays for its end.
        ShowLogText(cause);
        Session.LastFailure = std::move(failure);
    }
}

void TUpdateForm::FailCalibration(programmers::TFailure failure) {
    Events.RemoveHandler(&TUpdateForm::CalibHandler, this);
    Session.Calibrating = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.LastFailure = std::move(failure);
    // Programmed already: repeating the transfer would not help.
    PostEvent(event::BootFileFailed);
}

kernel::TEventRec TUpdateForm::RetryHandler(void* context, kernel::TEvents& events,
                                            kernel::TEventRec event) {
    if (event.Kind != kernel::evKey || event.Id != event::KeyStart) {
        return event;
    }
    auto* form = static_cast<TUpdateForm*>(context);
    events.RemoveHandler(&TUpdateForm::RetryHandler, form);
    ++form->Report.Retries;
    form->Session.Running = true; // the session goes on: its acknowledges count again
    form->OkBitBtn->SetEnabled(false);
    form->UpdateMemo->Clear();
    form->SecTimer->SetEnabled(false);
    form->WaitProgressBar->SetPosition(0);
    // The step that failed runs again, whatever ran in earlier sessions.
    const TRetryRow& row = RetryRowOf(form->Session.RetryStep);
    if (row.FromToolAckStep) {
        form->Session.AckStep = AckStep::RunToolForProgFile1;
    }
    if (row.InRecoveryFlow) {
        form->RetryRecovery(row.Retry);
        return kernel::TEvents::ClearEvent();
    }
    const int fileClass = form->Session.FileClass;
    std::int32_t retry = row.Retry;
    if (retry == RetryOfFileClass) {
        retry = fileClass >= 0 && fileClass <= 4 ? event::RetryByFileClass[fileClass]
                                                 : event::AcknowledgeAgain;
    }
    form->PostEvent(retry);
    return kernel::TEvents::ClearEvent();
}

void TUpdateForm::SearchFailed() {
    Session.Running = false;
    Session.QueryStep = 0;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    TGZ70Programming->SetEnabled(true);
    WaitPanel->SetVisible(false);
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
        ProcessEvents();
        return;
    }
    dialogs_.MessageBox(ExpandText(Text(Msg::NoNameFound)), Text(Msg::CaptionError),
                        platform::MB_OK | platform::MB_ICONERROR);
    ClearIdentity();
    Beenden();
}

} // namespace app
