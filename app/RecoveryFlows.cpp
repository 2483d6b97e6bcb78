#include "app/FailureCauses.h"
#include "app/Messages.h"
#include "app/UpdateSession.h"

// An instrument that sits in its bootloader (after a failed update, or with a
// damaged firmware) answers the bootloader probe: a lab instrument with a
// byte, a hand-held meter with a frame naming its loader. The operator can
// also start a recovery from the menu. The identity comes from the device
// entry, since the loader cannot tell it.

namespace app {

namespace {

constexpr const char* LabRecoveryFile = "LABXXX.TXT";
constexpr long AfterRecoveryWaitMs = 3000;
// The meter stores its new firmware before it answers again.
constexpr long AfterMeterRecoveryWaitMs = 9000;
// The probes a menu recovery sends: an MSP430 loader answers the sync byte of
// a .TXT file's probe (0x90, or "Q" from the 5xx/6xx loader), a meter's loader
// the frame probe of file class 0.
constexpr int LabProbeClass = 1;
constexpr int MeterProbeClass = 0;

int TagOf(const platform::TMenuItem* item) {
    return item != nullptr ? std::max(0, item->Tag()) : 0;
}

} // namespace

// A second transfer on the port of a running session would run inside its
// programmer: the menu waits until that session has ended.
bool UpdateSession::RefuseRecoveryDuringSession(platform::TMenuItem* sender) {
    if (sender == nullptr || !Session.Running || Session.PortIndex < 0) {
        return false;
    }
    ShowLogText(Text(Msg::RecoveryWhileSessionRuns));
    return true;
}

void UpdateSession::LabXXXClick(platform::TMenuItem* sender) {
    if (RefuseRecoveryDuringSession(sender)) {
        return;
    }
    if (sender != nullptr && Session.PortIndex < 0) {
        BeginMenuRecovery(RecoveryKind::Lab, TagOf(sender));
        return;
    }
    StartLabRecovery(TagOf(sender));
}

void UpdateSession::TGZ70ProgrammingClick(platform::TMenuItem* sender) {
    if (RefuseRecoveryDuringSession(sender)) {
        return;
    }
    if (sender != nullptr && Session.PortIndex < 0) {
        BeginMenuRecovery(RecoveryKind::Meter, TagOf(sender));
        return;
    }
    StartRecoveryFlow(static_cast<std::size_t>(TagOf(sender)), event::AcknowledgeAgain);
}

void UpdateSession::StartLabRecovery(int tag) {
    std::size_t entry = static_cast<std::size_t>(tag);
    if (Session.AnswerChar == programmers::LoaderAnswer5xx && DeviceTable.size() > 1) {
        entry = 1;
    }
    StartRecoveryFlow(entry, event::Recovery);
}

void UpdateSession::RunRecovery(RecoveryKind kind, int tag) {
    if (kind == RecoveryKind::Lab) {
        StartLabRecovery(tag);
    } else {
        StartRecoveryFlow(static_cast<std::size_t>(tag), event::AcknowledgeAgain);
    }
}

// Chosen before any instrument answered, so there is no port yet: the fixed
// port is the instrument's; otherwise every open port is probed for the
// loader, and the recovery runs on the first that answers.
void UpdateSession::BeginMenuRecovery(RecoveryKind kind, int tag) {
    // A search that runs gives way.
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    BeginNewSession();
    Session.RecoveredBy = RetryableStep::None;
    report_.Step = step::Search;
    window_.EnableRecoveryMenu(false);
    if (Config.FixedPort) {
        ChooseSessionPort(0, Config.FixedPortIndex + 1);
        RunRecovery(kind, tag);
        return;
    }
    Session.PendingRecovery = kind;
    Session.PendingRecoveryTag = tag;
    window_.ShowWaitPanel(true);
    SetLoaderLine(kind == RecoveryKind::Lab ? LabProbeClass : MeterProbeClass);
    Session.ReplyTimer = Timers.TimerStart(ReplyTimeoutMs);
    SendBootProbe(ProbeState::FirstProbeSent);
}

// Both probes of a menu recovery went unanswered.
void UpdateSession::NoLoaderAnswered() {
    Session.PendingRecovery = RecoveryKind::None;
    Session.ProbeState = ProbeState::Scanning;
    const std::string tried = SearchedPortNames();
    DecideNoInstrument();
    dialogs_.MessageBox(Text(Msg::NoLoaderAnswered) + (tried.empty() ? "-" : tried),
                        Text(Msg::CaptionError), platform::MB_OK | platform::MB_ICONERROR);
    // Another item may be tried once the instrument is connected.
    window_.EnableRecoveryMenu(true);
    EndRecoveryUnprogrammed();
}

// Nothing was programmed: the session ends as after a failed search, OK
// starts anew, and an automatic run ends with the exit code it has.
void UpdateSession::EndRecoveryUnprogrammed() {
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.Running = false;
    Session.Done = true;
    Session.StartMode = StartModeAsRead;
    window_.ShowWaitPanel(false);
    window_.EnableOk(true);
    if (Config.AutoStartActive) {
        window_.Close();
    }
}

void UpdateSession::StartRecoveryFlow(std::size_t entry, std::int32_t flowEvent) {
    window_.EnableRecoveryMenu(false);
    Session.Running = true;
    if (entry >= DeviceTable.size()) {
        End(Outcome::RecoveryNotRun,
            FailureAt(step::Check,
                      Config.ProgDeviceFile + " has no device entry " + std::to_string(entry + 1)));
        EndRecoveryUnprogrammed();
        return;
    }
    Session.RecoveryEntry = entry;
    Session.RecoveryAnswerChar = Session.AnswerChar;
    Session.RecoveryBootAnswer = Session.BootAnswer;
    const DeviceRow& row = DeviceTable[entry];
    programmers::TDeviceIdent& ident = Session.Job.Ident;
    ident.PcbNr = row.DeviceNrDef;
    ident.DeviceNr = row.DeviceNr;
    Session.Job.DeviceName = row.DeviceName;
    report_.Step = step::Check;
    bool updateNeeded = CheckDevice();
    // The image goes straight into the loader: it is found before the loader
    // is touched, and before an identification tells its decision.
    if (updateNeeded) {
        if (flowEvent == event::Recovery && Session.ProgDefFile.size() <= 4) {
            Session.ProgDefFile = LabRecoveryFile;
        }
        if (Session.ProgDefFile.empty()) {
            programmers::TProgramFile unnamed;
            unnamed.Path = "ProgDefFile=";
            unnamed.Problem = Text(Msg::KeyNamesNoFile) + " " + Config.ProgDeviceFile + ".";
            updateNeeded =
                FailCheckForFile(unnamed, "ProgDefFile= names no file in " + Config.ProgDeviceFile);
        } else {
            updateNeeded = TakeSessionFile(Session.ProgDefFile);
        }
    }
    if (Options.IdentifyOnly) {
        EndIdentification(updateNeeded);
        return;
    }
    if (!updateNeeded) {
        if (ExitCode() == exitcode::Success) {
            End(Outcome::RecoveryNotRun);
        }
        EndRecoveryUnprogrammed();
        return;
    }
    PostEvent(flowEvent);
    EnterRecoveryFlow();
    if (DeviceTable.size() > 1) {
        window_.ShowIdentityField(IdentityField::Name, "Device");
        window_.ShowIdentityField(IdentityField::Pcb, "");
    }
    window_.ProcessEvents();
}

void UpdateSession::EnterRecoveryFlow() {
    if (!recoveryFlow_) {
        Events.AddHandler(&UpdateSession::FlowHandler, this);
        recoveryFlow_ = true;
    }
}

bool UpdateSession::LeaveRecoveryFlow() {
    const bool was = recoveryFlow_;
    Events.RemoveHandler(&UpdateSession::FlowHandler, this);
    recoveryFlow_ = false;
    return was;
}

kernel::TEventRec UpdateSession::FlowHandler(void* context, kernel::TEvents&,
                                             kernel::TEventRec event) {
    auto* session = static_cast<UpdateSession*>(context);
    if (event.Kind != kernel::evMessage) {
        return event;
    }
    switch (event.Id) {
    case event::Recovery:
        session->RunLabRecovery();
        break;
    case event::AcknowledgeAgain:
        session->RunMeterRecovery();
        break;
    case reply::NewFirmwareStoring:
    case event::Acknowledge:
        // The recovered firmware runs: a normal session identifies and
        // updates it.
        session->Session.AwaitingRestart = false;
        session->Session.ReplyTimer = session->Timers.TimerStop(session->Session.ReplyTimer);
        session->LeaveRecoveryFlow();
        session->SearchAfterRecovery();
        session->window_.ClearLog();
        break;
    case reply::ReadyToProgram:
        break;
    case event::ProgrammingFailed:
    case event::BootFileFailed:
        session->LeaveRecoveryFlow();
        session->SessionFailed(event.Id);
        break;
    default:
        return event;
    }
    return kernel::TEvents::ClearEvent();
}

void UpdateSession::RunLabRecovery() {
    Session.RetryStep = RetryableStep::LabRecovery;
    window_.EnableOk(false);
    Session.Job.Variant = Session.ProgVariant;
    // The programmer gives the port back at the line it found once the
    // firmware starts: the recovered firmware's, so that its first report,
    // which may come at once, is not lost on the loader's line.
    SetRecoveredFirmwareLine();
    const bool ok =
        RunProgrammer(programmers::Phase::LabRecovery, Session.FileClass, Session.ProgDefFile);
    if (!ok) {
        LeaveRecoveryFlow();
        PostEvent(event::ProgrammingFailed);
        return;
    }
    // The restarted firmware reports with an acknowledge or reply 30, which
    // this flow takes (also during the wait below); silence fails the session.
    AwaitInstrumentAfterTool(AfterToolTimeoutMs);
    ShowLogText(Text(Msg::StoringNewData));
    window_.SetProgressPosition(1);
    SetRecoveredFirmwareLine();
    window_.Wait().CountdownTime(AfterRecoveryWaitMs, true);
}

void UpdateSession::SetRecoveredFirmwareLine() {
    if (serial::TComPort* port = SessionComPort()) {
        port->ChangeV24Parameter(serial::B__4800, serial::S_2, serial::NoParity, true);
    }
}

void UpdateSession::RunMeterRecovery() {
    Session.RetryStep = RetryableStep::MeterRecovery;
    ShowLogText(Text(Msg::ProgrammingName));
    window_.EnableOk(false);
    if (RunExternalTool(programmers::Phase::MeterRecovery, Session.ProgDefFile) != 0) {
        LeaveRecoveryFlow();
        PostEvent(event::ProgrammingFailed);
        return;
    }
    // No restart wait follows: the meter's words after the tool reach the
    // session as they came, an acknowledge may start a session of its own.
    ReleaseHeldReports();
    ShowLogText(Text(Msg::StoringNewData));
    window_.RunWaitBar(true);
    window_.SetProgressPosition(1);
    window_.Wait().CountdownTime(AfterMeterRecoveryWaitMs, true);
    // The meter runs its restored firmware: a normal session identifies and
    // updates it, unless its acknowledge during the wait started one, whose
    // log and state are its own.
    if (LeaveRecoveryFlow()) {
        window_.ClearLog();
        SearchAfterRecovery();
    }
}

void UpdateSession::SearchAfterRecovery() {
    Session.RecoveredBy = Session.RetryStep;
    Session.RecoveredPortIndex = Session.PortIndex;
    Session.RecoveredPortNumber = Session.PortNumber;
    Events.PostKey(event::KeyStart);
}

// The search after a recovery found nobody: the restarted instrument never
// came back, and the recovery failed. Its retry works on its port again.
void UpdateSession::RecoveredInstrumentSilent() {
    Session.RetryStep = Session.RecoveredBy;
    Session.RecoveredBy = RetryableStep::None;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    ChooseSessionPort(Session.RecoveredPortIndex, Session.RecoveredPortNumber);
    report_.Step = step::Restart;
    ShowLogText(Text(Msg::InstrumentNoAnswer));
    Session.LastFailure = NoInstrumentFailure("the recovered instrument did not answer on ");
    PostEvent(event::ProgrammingFailed);
}

void UpdateSession::RetryRecovery(std::int32_t flowEvent) {
    Session.AnswerChar = Session.RecoveryAnswerChar;
    Session.BootAnswer = Session.RecoveryBootAnswer;
    StartRecoveryFlow(Session.RecoveryEntry, flowEvent);
}

} // namespace app
