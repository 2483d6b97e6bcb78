#include "app/Messages.h"
#include "app/ProgrammerServices.h"
#include "app/UpdateSession.h"
#include "programmers/ProgrammerRegistry.h"
#include "programmers/TermProg.h"

namespace app {

using programmers::Phase;

namespace {

// The start-up program of a lab instrument comes with the programs and
// libraries listed right after it; they go or stay together.
void DropStartupPrograms(std::vector<std::string>& files, std::int32_t first) {
    if (first < 0 || static_cast<std::size_t>(first) >= files.size()) {
        return;
    }
    auto start = files.begin() + first;
    auto end = start + 1;
    while (end != files.end() &&
           (end->find(".EXE") != std::string::npos || end->find(".DLL") != std::string::npos)) {
        ++end;
    }
    files.erase(start, end);
}

} // namespace

void UpdateSession::ProgrammingStep(std::int32_t id) {
    programmers::TProgJob& job = Session.Job;
    switch (id) {
    case event::StartClass0:
    case event::StartClass3:
        window_.RunWaitBar(false);
        window_.SetProgressPosition(0);
        ShowDuration(id == event::StartClass0 ? 0 : 2);
        if (UpdateNeeded()) {
            SendCommand(id == event::StartClass0 ? Session.StartCmd : command::EnterBootloader);
        } else {
            Session.AckStep = AckStep::TerminalProgram;
            PostEvent(event::BootloaderFileStep);
        }
        break;
    case event::BootloaderFileStep:
        BootloaderFileStep();
        break;
    case event::StartClass1:
        Session.RetryStep = RetryableStep::Class1Loader;
        Session.AckStep = AckStep::BootloaderFileAfterLoader;
        ShowDuration(1);
        if (!UpdateNeeded()) {
            PostEvent(event::BootloaderFileStep);
            break;
        }
        job.Variant = Session.ProgVariant;
        if (RunProgrammer(Phase::Firmware, 1, job.ProgFile)) {
            AwaitInstrumentAfterProgramming();
        } else {
            PostEvent(event::ProgrammingFailed);
        }
        break;
    case event::RetryClass1:
        Session.RetryStep = RetryableStep::Class1Loader;
        window_.EnableOk(false);
        Session.AckStep = AckStep::BootloaderFileAfterLoader;
        ShowDuration(1);
        job.Variant = Session.ProgVariant;
        // The instrument waits in the loader of its own processor.
        if (RunProgrammer(Phase::FirmwareInLoader, 1, job.ProgFile)) {
            ShowLogText(Text(Msg::StoringNewData));
            window_.RunWaitBar(true);
            window_.SetProgressPosition(1);
            AwaitInstrumentAfterProgramming();
        } else {
            PostEvent(event::ProgrammingFailed);
        }
        break;
    case event::StartClass2:
        Session.RetryStep = RetryableStep::BlockTransfer;
        Session.AckStep = AckStep::BootloaderFileAfterLoader;
        ShowDuration(2);
        Session.Class2Mark = true;
        if (job.Ident.DevExe >= job.Ident.FileExe && job.Ident.DevExe > 0) {
            DropStartupPrograms(job.ProgFiles, Session.StartupProgramIndex);
            job.Ident.ProgFileCount = static_cast<std::int32_t>(job.ProgFiles.size());
            Session.StartupProgramIndex = -1; // a retry must not drop other files
        }
        if (UpdateNeeded() || job.Ident.DevExe < job.Ident.FileExe) {
            if (serial::TComPort* port = SessionComPort()) {
                port->ChangeV24TimeOut(-1, -1, -1, 0);
            }
            job.Variant = Session.ProgVariant;
            if (RunProgrammer(Phase::Firmware, 2, job.ProgFile)) {
                ShowLogText(Text(Msg::StoringNewData));
                Session.AckStep = AckStep::BootloaderFileAfterLoader;
                job.ProgFiles.clear();
                SetClockAndAwaitAck(false, ReplyTimeoutMs, true);
            } else {
                PostEvent(event::ProgrammingFailed);
            }
        } else {
            // Nothing was transferred: silence retries the block transfer.
            SetClockAndAwaitAck(false, ReplyTimeoutMs, false);
        }
        break;
    case event::StartClass4:
        Session.RetryStep = RetryableStep::Class4Loader;
        window_.RunWaitBar(false);
        window_.SetProgressPosition(0);
        Session.AckStep = AckStep::BootloaderFileAfterLoader;
        if (!UpdateNeeded()) {
            PostEvent(event::BootloaderFileStep);
            break;
        }
        ShowDuration(4);
        if (serial::TComPort* port = SessionComPort()) {
            port->ChangeV24TimeOut(-1, -1, -1, 0);
        }
        job.Variant = Session.ProgVariant;
        if (RunProgrammer(Phase::Firmware, 4, job.ProgFile)) {
            if (Session.ProgVariant == 2) {
                ShowLogText(Text(Msg::StoringNewData));
                window_.RunWaitBar(true);
                window_.SetProgressMaximum(120, programmers::ProgressUnit::Percent);
                window_.SetProgressPosition(0);
            }
            AwaitInstrumentAfterProgramming();
        } else {
            PostEvent(event::ProgrammingFailed);
        }
        break;
    case event::TerminalStep:
        Session.RetryStep = RetryableStep::BasicLoader;
        // A failure offers the retry: it waits for the loader's
        // announcements again.
        if (RunProgrammer(Phase::Terminal, Session.FileClass,
                          programmers::BasicLoaderFile(job.MemoryVariant))) {
            EndAfterBasicLoader();
        } else {
            PostEvent(event::ProgrammingFailed);
        }
        break;
    case event::ToolStep:
        Session.RetryStep = RetryableStep::ToolForProgramFile;
        window_.RunWaitBar(false);
        window_.SetProgressPosition(0);
        if (RunExternalTool(Phase::Tool, job.ProgFile) == 0) {
            PostEvent(event::ToolSucceeded);
        } else {
            PostEvent(event::ProgrammingFailed);
        }
        break;
    case event::ToolSucceeded:
        if (Session.FileClass == 0 && Session.StartMode == 0) {
            ShowLogText(Text(Msg::StoringNewData));
            window_.Wait().CountdownTime(12000, false);
            // Only the instrument's acknowledge confirms what the tool
            // claims: silence runs the tool again.
            SetClockAndAwaitAck(true, AfterProgrammingTimeoutMs, false);
        } else {
            AwaitInstrumentAfterTool();
        }
        break;
    case event::BootFrameAnswer:
    case event::BootByteAnswer:
        if (Session.PendingRecovery != RecoveryKind::None &&
            (Session.PendingRecovery == RecoveryKind::Lab) != (id == event::BootByteAnswer)) {
            break; // another loader's answer: the menu recovery waits for its own
        }
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        Session.ProbeState = ProbeState::Scanning;
        if (Session.RecoveredBy != RetryableStep::None) {
            // Still in its loader after its recovery: that recovery failed,
            // and running it again and again would never end.
            RecoveredInstrumentSilent();
        } else if (Session.PendingRecovery != RecoveryKind::None) {
            // A menu recovery was waiting for this port's loader.
            const RecoveryKind kind = Session.PendingRecovery;
            Session.PendingRecovery = RecoveryKind::None;
            RunRecovery(kind, Session.PendingRecoveryTag);
        } else if (id == event::BootFrameAnswer) {
            TGZ70ProgrammingClick(nullptr);
        } else {
            LabXXXClick(nullptr);
        }
        break;
    default:
        break;
    }
}

// The new firmware reports back: an acknowledge, an "A." line, or reply 30
// or 31. Its first words may come while the programmer still holds the port
// at the loader's line, where they are lost; silence therefore asks it once.
// An instrument that stays silent fails the session: only the new firmware's
// report makes a success.
void UpdateSession::AwaitInstrumentAfterProgramming(int boundMs) {
    AwaitRestart(boundMs, true);
}

// Only the instrument's acknowledge confirms what a tool claims; silence
// fails the session instead of leaving it waiting for good.
void UpdateSession::AwaitInstrumentAfterTool(int boundMs) {
    AwaitRestart(boundMs, false);
}

void UpdateSession::AwaitRestart(int boundMs, bool askOnSilence) {
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.RestartUnverified = !askOnSilence;
    Session.RestartBoundMs = boundMs;
    Session.AwaitingClockAck = false;
    if (LineDiedBehindTransfer(ResumePoint(true))) {
        return;
    }
    Session.AwaitingRestart = true;
    Session.RestartAskPending = askOnSilence && boundMs > RestartAskAfterMs;
    Session.ReplyTimer = Timers.TimerStart(Session.RestartAskPending ? RestartAskAfterMs : boundMs);
    report_.Step = step::Restart;
    ReleaseHeldReports();
}

void UpdateSession::ReleaseHeldReports() {
    for (const THeldReport& report : Session.HeldReports) {
        PostEvent(report.Id, report.Line ? reinterpret_cast<std::intptr_t>(
                                               Session.Replies.KeepText(*report.Line))
                                         : 0);
    }
    Session.HeldReports.clear();
}

void UpdateSession::OnRestartTimeout() {
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    if (Session.RestartAskPending) {
        Session.RestartAskPending = false;
        SendCommand(command::Dialogue);
        Session.ReplyTimer = Timers.TimerStart(Session.RestartBoundMs - RestartAskAfterMs);
        return;
    }
    Session.AwaitingRestart = false;
    ShowLogText(
        Text(Session.RestartUnverified ? Msg::InstrumentNoAnswer : Msg::NoAnswerAfterProgramming));
    Session.LastFailure = RestartSilenceFailure();
    if (const std::optional<AfterTransfer> resumeAt = ResumePoint(false)) {
        RetryAfterTransferAt(*resumeAt);
    }
    PostEvent(event::ProgrammingFailed);
}

// The Basic-Loader's success text already tells the operator what to do, and
// the instrument waits in its loader for a power cycle: no exit command.
void UpdateSession::EndAfterBasicLoader() {
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.AckStep = AckStep::Ignore;
    window_.RunWaitBar(false);
    window_.ShowWaitPanel(false);
    End(Outcome::UpdatedInLoader);
    Session.Running = false;
    if (Config.AutoStartActive) {
        window_.Close();
    }
}

void UpdateSession::BootloaderFileStep() {
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    programmers::TDeviceIdent& ident = Session.Job.Ident;
    if (BootUpdateNeeded() && ident.DevBoot > 2000) {
        window_.ShowStatusPanel(2, "19200");
        window_.ShowStatusPanel(3, "Version " + ident.FileBootVersion);
        window_.Wait().DelayTime(2000, true);
        SendCommand(command::BootFileStart);
        return;
    }
    if (Session.SensorNotice || Session.BootAnswer || Session.VersionUnreadable ||
        ident.DevBoot >= ident.FileBoot || Session.ProgFile3.size() < 5) {
        if (Session.Job.ProgFiles.empty()) {
            FinishSession(false);
        } else {
            Session.RetryStep = RetryableStep::LabTransfer;
            Session.AckStep = AckStep::Ignore;
            if (RunProgrammer(Phase::LabFiles, Session.FileClass, Session.Job.ProgFiles.front())) {
                FinishSession(true);
            } else {
                PostEvent(event::ProgrammingFailed);
            }
        }
        return;
    }
    const bool updateNeeded = UpdateNeeded();
    if (updateNeeded && (ident.PcbNr.find("41216") != std::string::npos ||
                         ident.PcbNr.find("41217") != std::string::npos)) {
        window_.SetProgressMaximum(100, programmers::ProgressUnit::Percent);
        window_.RunWaitBar(true);
        window_.Wait().CountdownTime(ident.PcbNr.find("41216") != std::string::npos ? 32000 : 7000,
                                     true);
        window_.RunWaitBar(false);
    }
    Session.RetryStep = RetryableStep::BootFileLoader;
    Session.Job.SensorAbsent = ident.DevBoot == 0 && !Session.BootAnswer ? 1 : 0;
    window_.Wait().DelayTime(3000, true);
    Session.Job.Variant = 1;
    if (RunProgrammer(Phase::BootFile, Session.FileClass, Session.ProgFile3)) {
        AwaitInstrumentAfterProgramming();
    } else {
        PostEvent(event::BootFileFailed);
    }
}

programmers::TSessionKey UpdateSession::SessionKey(Phase phase, int fileClass) const {
    return {.Step = phase,
            .FileClass = fileClass,
            .ProzTyp = Session.Job.ProzTyp,
            .StartMode = Session.StartMode,
            .ProgVariant = Session.ProgVariant,
            .LoaderAnswer = Session.BootAnswer ? Session.AnswerChar : '\0',
            .SensorQuestionMark = Session.SensorQuestionMark != 0,
            .Class2Mark = Session.Class2Mark,
            .SensorAbsent = Session.Job.SensorAbsent != 0};
}

bool UpdateSession::RunProgrammer(Phase phase, int fileClass, const std::string& fileName) {
    serial::TComPort* port = SessionComPort();
    Session.Job.StartMode = Session.StartMode;
    TSessionServices services(*this);
    const programmers::TChoice choice =
        programmers::Choose(SessionKey(phase, fileClass), Options.AddedMethods);
    std::unique_ptr<programmers::TProgrammerTyp> programmer;
    if (port != nullptr) {
        programmer = choice.Create({services, *port, window_.Wait(), Session.Job});
    }
    if (programmer == nullptr) {
        // A method not built here fails the step openly, never as a success.
        const std::string text = Text(Msg::MethodNotAvailable) +
                                 (choice ? choice.Entry->Description : "-") + " (" + fileName + ")";
        ShowLogText(text);
        Session.LastFailure = programmers::TransferFailure(text);
        return false;
    }
    if (report_.Method.empty()) {
        report_.Method = choice.Entry->Name;
    }
    report_.Step = step::Transfer;
    const std::uint64_t before = port->BytesWritten();
    Session.HeldReports.clear();
    // Below the programmer: what it passes on once finished waits for the
    // step after it instead of running inside its end.
    Events.AddHandler(&UpdateSession::HoldReports, this);
    const programmers::TProgrammerResult result = programmer->Program(fileName);
    Events.RemoveHandler(&UpdateSession::HoldReports, this);
    report_.BytesSent += port->BytesWritten() - before;
    if (result.Result == programmers::TProgrammerResult::Kind::Aborted) {
        // An abort, not a failure of the transfer: the failure the caller
        // posts then changes nothing of it.
        End(Outcome::Aborted, result.Failure);
    } else if (!result.Succeeded()) {
        Session.LastFailure = result.Failure;
    }
    Session.LineDiedAfterTransfer = result.LineDiedAfter;
    return result.Succeeded();
}

kernel::TEventRec UpdateSession::HoldReports(void* context, kernel::TEvents&,
                                             kernel::TEventRec event) {
    if (event.Kind != kernel::evMessage) {
        return event;
    }
    switch (event.Id) {
    case event::Acknowledge:
    case event::CommandReply:
    case reply::NewFirmwareStoring:
    case reply::NewFirmwareReady: {
        std::vector<THeldReport>& held = static_cast<UpdateSession*>(context)->Session.HeldReports;
        // A babbling line must not grow it without bound.
        if (held.size() < MaxHeldReports) {
            // Only a command reply's handler reads its line; the restart
            // reports' data may be a value, not text.
            const char* line = reinterpret_cast<const char*>(event.Data);
            held.push_back({event.Id, event.Id == event::CommandReply && line != nullptr
                                          ? std::optional<std::string>(line)
                                          : std::nullopt});
        }
        return kernel::TEvents::ClearEvent();
    }
    default:
        return event;
    }
}

} // namespace app
