#include "app/Messages.h"
#include "app/Updatemain.h"

// An instrument that sits in its bootloader (after a failed update, or with a
// damaged firmware) answers the bootloader probe: a lab instrument with a
// byte, a hand-held meter with a frame naming its loader. The operator can
// also start a recovery from the menu. The identity comes from the device
// entry, since the loader cannot tell it.

namespace app {

namespace {

constexpr const char* LabRecoveryFile = "LABXXX.TXT";
constexpr char LoaderAnswer5xx = 'Q';
constexpr std::uint32_t Chip5438 = 0x5438;
constexpr long AfterRecoveryWaitMs = 3000;
// The meter stores its new firmware before it answers again.
constexpr long AfterMeterRecoveryWaitMs = 9000;

} // namespace

void TUpdateForm::LabXXXClick(platform::TMenuItem* sender) {
    std::size_t entry =
        sender != nullptr ? static_cast<std::size_t>(std::max(0, sender->Tag())) : 0;
    if (Session.AnswerChar == LoaderAnswer5xx && DeviceTable.size() > 1) {
        entry = 1;
    }
    StartRecoveryFlow(entry, event::Recovery);
}

void TUpdateForm::TGZ70ProgrammingClick(platform::TMenuItem* sender) {
    StartRecoveryFlow(sender != nullptr ? static_cast<std::size_t>(std::max(0, sender->Tag())) : 0,
                      event::AcknowledgeAgain);
}

void TUpdateForm::StartRecoveryFlow(std::size_t entry, std::int32_t flowEvent) {
    TGZ70Programming->SetEnabled(false);
    if (entry >= DeviceTable.size()) {
        return;
    }
    const DeviceRow& row = DeviceTable[entry];
    programmers::TDeviceIdent& ident = Session.Job.Ident;
    ident.PcbNr = row.DeviceNrDef;
    ident.DeviceNr = row.DeviceNr;
    Session.Job.DeviceName = row.DeviceName;
    const bool updateNeeded = CheckDevice();
    if (options_.IdentifyOnly) {
        EndIdentification(updateNeeded);
        return;
    }
    if (!updateNeeded) {
        return;
    }
    PostEvent(flowEvent);
    Events.AddHandler(&TUpdateForm::FlowHandler, this);
    if (DeviceTable.size() > 1) {
        NameStaticText->SetCaption("Device");
        PCBStaticText->SetCaption("");
    }
    ProcessEvents();
}

kernel::TEventRec TUpdateForm::FlowHandler(void* context, kernel::TEvents&,
                                           kernel::TEventRec event) {
    auto* form = static_cast<TUpdateForm*>(context);
    if (event.Kind != kernel::evMessage) {
        return event;
    }
    switch (event.Id) {
    case event::Recovery:
        form->RunLabRecovery();
        break;
    case event::AcknowledgeAgain:
        form->RunMeterRecovery();
        break;
    case reply::NewFirmwareStoring:
    case event::Acknowledge:
        // The recovered firmware runs: a normal session identifies and
        // updates it.
        form->Events.RemoveHandler(&TUpdateForm::FlowHandler, form);
        form->Events.PostKey(event::KeyStart);
        form->UpdateMemo->Clear();
        break;
    case reply::ReadyToProgram:
        break;
    case event::ProgrammingFailed:
    case event::BootFileFailed:
        form->SessionFailed(event.Id);
        break;
    default:
        return event;
    }
    return kernel::TEvents::ClearEvent();
}

void TUpdateForm::RunLabRecovery() {
    OkBitBtn->SetEnabled(false);
    const bool loader5xx = Session.Job.ProzTyp == Chip5438 ||
                           (Session.AnswerChar == LoaderAnswer5xx && Session.BootAnswer);
    const std::string file =
        Session.ProgDefFile.size() > 4 ? Session.ProgDefFile : std::string(LabRecoveryFile);
    Session.Job.Variant = Session.ProgVariant;
    const bool ok = RunProgrammer(
        loader5xx ? programmers::Method::Bsl5xx : programmers::Method::Bsl430, file,
        programmers::TBslSettings{.LoaderMode = true, .Set9600After = Session.StartMode == 2});
    if (ok) {
        ReleaseHeldReports(); // the recovered firmware's report ends the flow
        ShowLogText(Text(Msg::StoringNewData));
        WaitProgressBar->SetPosition(1);
        if (serial::TComPort* port = SessionComPort()) {
            port->ChangeV24Parameter(serial::B__4800, serial::S_2, serial::NoParity, true);
        }
        wait->CountdownTime(AfterRecoveryWaitMs, true);
    } else {
        PostEvent(event::ProgrammingFailed);
    }
    Events.RemoveHandler(&TUpdateForm::FlowHandler, this);
}

void TUpdateForm::RunMeterRecovery() {
    ShowLogText(Text(Msg::ProgrammingName));
    OkBitBtn->SetEnabled(false);
    if (RunExternalTool(Session.ProgDefFile) != 0) {
        PostEvent(event::ProgrammingFailed);
        return;
    }
    ShowLogText(Text(Msg::StoringNewData));
    SecTimer->SetEnabled(true);
    WaitProgressBar->SetPosition(1);
    wait->CountdownTime(AfterMeterRecoveryWaitMs, true);
    UpdateMemo->Clear();
    Session.ToolStepDone = true;
    Events.RemoveHandler(&TUpdateForm::FlowHandler, this);
    // The meter runs its restored firmware: a normal session identifies and
    // updates it.
    Events.PostKey(event::KeyStart);
}

} // namespace app
