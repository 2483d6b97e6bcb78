#include "app/Messages.h"
#include "app/ProgrammerServices.h"
#include "app/Updatemain.h"
#include "programmers/ProgrammerRegistry.h"

namespace app {

using programmers::Method;
using programmers::TBslSettings;

void TUpdateForm::ProgrammingStep(std::int32_t id) {
    programmers::TProgJob& job = Job;
    const bool startMode2 = StartMode == 2;
    switch (id) {
    case MsgStartClass0:
    case MsgStartClass3:
        SecTimer->SetEnabled(false);
        WaitProgressBar->SetPosition(0);
        ShowDuration(id == MsgStartClass0 ? 0 : 2);
        if (UpdateNeeded()) {
            SendCommand(id == MsgStartClass0 ? Session.StartCmd : "A.1200\r\n");
        } else {
            Session.AckStep = 6;
            PostEvent(MsgBootloaderFileStep);
        }
        break;
    case MsgBootloaderFileStep:
        BootloaderFileStep();
        break;
    case MsgStartClass1:
        Session.AckStep = 7;
        ShowDuration(1);
        if (!UpdateNeeded()) {
            PostEvent(MsgBootloaderFileStep);
            break;
        }
        job.Variant = Session.ProgVariant;
        if (RunProgrammer(programmers::MethodForChip(job.ProzTyp), job.ProgFile,
                          TBslSettings{.SyncFirst = true,
                                       .QueryFirst = Session.SensorQuestionMark != 0,
                                       .Set9600After = startMode2})) {
            AwaitInstrumentAfterProgramming();
        } else {
            PostEvent(MsgProgrammingFailed);
        }
        break;
    case MsgRetryClass1:
        OkBitBtn->SetEnabled(false);
        Session.AckStep = 7;
        ShowDuration(1);
        job.Variant = Session.ProgVariant;
        if (RunProgrammer(Method::Bsl430, job.ProgFile,
                          TBslSettings{.LoaderMode = true,
                                       .SyncFirst = true,
                                       .QueryFirst = false,
                                       .Set9600After = startMode2})) {
            ShowLogText(Text(Msg::StoringNewData));
            SecTimer->SetEnabled(true);
            WaitProgressBar->SetPosition(1);
            AwaitInstrumentAfterProgramming();
        } else {
            PostEvent(MsgProgrammingFailed);
        }
        break;
    case MsgStartClass2:
        Session.AckStep = 7;
        ShowDuration(2);
        Session.Class2Mark = true;
        if (UpdateNeeded() || job.Ident.DevExe < job.Ident.FileExe) {
            if (serial::TComPort* port = SessionComPort()) {
                port->ChangeV24TimeOut(-1, -1, -1, 0);
            }
            job.Variant = Session.ProgVariant;
            if (RunProgrammer(Method::BlockTransfer, job.ProgFile)) {
                ShowLogText(Text(Msg::StoringNewData));
                Session.AckStep = 7;
                job.ProgFiles.clear();
                SetClock(false);
            } else {
                PostEvent(MsgProgrammingFailed);
            }
        } else {
            SetClock(false);
        }
        break;
    case MsgStartClass4:
        SecTimer->SetEnabled(false);
        WaitProgressBar->SetPosition(0);
        Session.AckStep = 7;
        if (!UpdateNeeded()) {
            PostEvent(MsgBootloaderFileStep);
            break;
        }
        ShowDuration(4);
        if (serial::TComPort* port = SessionComPort()) {
            port->ChangeV24TimeOut(-1, -1, -1, 0);
        }
        job.Variant = Session.ProgVariant;
        if (RunProgrammer(Session.ProgVariant == 2 ? Method::DeviceLoader : Method::Xmodem,
                          job.ProgFile)) {
            if (Session.ProgVariant == 2) {
                ShowLogText(Text(Msg::StoringNewData));
                SecTimer->SetEnabled(true);
                WaitProgressBar->SetMax(120);
                WaitProgressBar->SetPosition(0);
            }
        } else {
            PostEvent(MsgProgrammingFailed);
        }
        break;
    case MsgTerminalStep:
        if (!RunProgrammer(Method::BasicLoader, Session.ProgFile3)) {
            PostEvent(MsgBootFileFailed);
        }
        break;
    case MsgToolStep:
        SecTimer->SetEnabled(false);
        WaitProgressBar->SetPosition(0);
        if (RunProgrammer(FileClass <= 1 ? Method::HexLoader : Method::Pic32Loader, job.ProgFile)) {
            PostEvent(MsgToolSucceeded);
        } else {
            PostEvent(MsgProgrammingFailed);
        }
        break;
    case MsgToolSucceeded:
        if (FileClass == 0 && StartMode == 0) {
            ShowLogText(Text(Msg::StoringNewData));
            wait->DelayTime(12000, false);
            SetClock(true);
        }
        break;
    case MsgBootFrameAnswer:
    case MsgBootByteAnswer:
    case MsgRecovery:
        if (id != MsgRecovery) {
            Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        }
        if (!RunProgrammer(Method::Recovery, job.ProgFile)) {
            PostEvent(MsgProgrammingFailed);
        }
        break;
    default:
        break;
    }
}

// The new firmware reports back with an acknowledge or reply 30 or 31. An
// instrument that stays silent must not leave the session waiting for good:
// after the bound the session goes on as after its acknowledge.
void TUpdateForm::AwaitInstrumentAfterProgramming() {
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.ReplyTimer = Timers.TimerStart(AfterProgrammingTimeoutMs);
    Session.AwaitingRestart = true;
}

void TUpdateForm::BootloaderFileStep() {
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    programmers::TDeviceIdent& ident = Job.Ident;
    if (BootUpdateNeeded() && ident.DevBoot > 2000) {
        UpdateStatusBar->SetPanelText(2, "19200");
        UpdateStatusBar->SetPanelText(3, "Version " + ident.FileBootVersion);
        wait->DelayTime(2000, true);
        SendCommand("A.2005\r\n");
        return;
    }
    if (Session.SensorNotice || Session.BootAnswer || Session.VersionUnreadable ||
        ident.DevBoot >= ident.FileBoot || Session.ProgFile3.size() < 5) {
        if (Job.ProgFiles.empty()) {
            FinishSession(false);
        } else {
            Session.AckStep = 8;
            if (!RunProgrammer(Method::LabTransfer, Job.ProgFiles.front())) {
                PostEvent(MsgBootFileFailed);
            }
        }
        return;
    }
    const bool updateNeeded = UpdateNeeded();
    if (updateNeeded && (ident.PcbNr.find("41216") != std::string::npos ||
                         ident.PcbNr.find("41217") != std::string::npos)) {
        WaitProgressBar->SetMax(100);
        SecTimer->SetEnabled(true);
        wait->DelayTime(ident.PcbNr.find("41216") != std::string::npos ? 32000 : 7000, true);
        SecTimer->SetEnabled(false);
    }
    Job.SensorAbsent = ident.DevBoot == 0 && !Session.BootAnswer ? 1 : 0;
    wait->DelayTime(3000, true);
    Job.Variant = 1;
    if (!RunProgrammer(Method::Bsl430, Session.ProgFile3,
                       TBslSettings{.SyncFirst = true,
                                    .QueryFirst = Session.Class2Mark || !Job.SensorAbsent,
                                    .Set9600After = StartMode == 2})) {
        PostEvent(MsgBootFileFailed);
    }
}

bool TUpdateForm::RunProgrammer(Method method, const std::string& fileName,
                                const programmers::TMethodSettings& settings) {
    serial::TComPort* port = SessionComPort();
    Job.StartMode = StartMode;
    TFormServices services(*this);
    std::unique_ptr<programmers::TProgrammerTyp> programmer;
    if (port != nullptr) {
        programmer = programmers::CreateProgrammer(method, {services, *port, *wait, Job}, settings);
    }
    if (programmer == nullptr) {
        // A method not built here fails the step openly, never as a success.
        ShowLogText(Text(Msg::MethodNotAvailable) + programmers::MethodEntry(method).Description +
                    " (" + fileName + ")");
        return false;
    }
    return programmer->Program(fileName);
}

} // namespace app
