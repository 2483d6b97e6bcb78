#include "app/Messages.h"
#include "app/Updatemain.h"
#include "platform/Application.h"

#include <cstdio>

namespace app {

namespace {

const std::array<std::string, 4> IdentQueries = {"A.2003\r\n", "A.2000\r\n", "A.2001\r\n",
                                                 "A.4001\r\n"};

} // namespace

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
        if (event.Id == KeyStart) {
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
    case MsgCharsReceived:
        OnCharsReceived(static_cast<int>(event.Data));
        return consumed;
    case MsgCloseWindow:
        Beenden();
        return consumed;
    case MsgAcknowledge:
    case MsgAcknowledgeAgain:
        OnAcknowledge();
        return consumed;
    case 20:
    case 200:
    case 2010:
    case 21:
    case 201:
    case 2011:
    case 23:
    case 203:
    case 2013:
    case 25:
    case 205:
        OnIdentificationAnswer(id, text != nullptr ? text : "");
        return consumed;
    case 30:
    case 31:
    case 208:
    case 262:
    case 920:
    case 1131:
    case 1132:
        OnInstrumentReply(id, event.Data);
        return consumed;
    case MsgProgrammingFailed:
    case MsgBootFileFailed:
        SessionFailed(id);
        return consumed;
    case MsgToolSucceeded:
    case MsgStartClass0:
    case MsgBootloaderFileStep:
    case MsgTerminalStep:
    case MsgToolStep:
    case MsgStartClass1:
    case MsgRetryClass1:
    case MsgStartClass2:
    case MsgStartClass3:
    case MsgStartClass4:
    case MsgBootFrameAnswer:
    case MsgBootByteAnswer:
    case MsgRecovery:
        ProgrammingStep(id);
        if (id == MsgBootFrameAnswer && text != nullptr) {
            Session.BootAnswerText = text;
        }
        return consumed;
    default:
        return event;
    }
}

void TUpdateForm::StartSession() {
    Session.Running = true;
    Session.AckStep = StartMode == 1 ? 1 : 0;
    Session.StartCmd = "A.1200\r\n";
    Session.BootAnswer = false;
    Session.AnswerChar = 0;
    Session.Done = false;
    Session.LineErrorSeen = false;
    Session.SensorNotice = false;
    Session.ProbeState = 0;
    Session.BootAnswerText.clear();
    Session.Class2Mark = false;
    Session.VersionUnreadable = false;
    Session.StartupProgramIndex = -1;
    Job = programmers::TProgJob{};
    SessionPortIndex = -1;
    SessionPortNumber = 0;
    RxBuf.Clear();
    OkBitBtn->SetEnabled(false);
    SecTimer->SetEnabled(false);
    WaitProgressBar->SetPosition(0);
    Session.ReplyTimer = Timers.TimerStart(ReplyTimeoutMs);
    WaitPanel->SetVisible(true);
    Session.CurrentBaud = 1;
    Session.QueryStep = 0;
    Session.CalibState = -1;
    Session.ScanIndex = -1;
    ScanStep(true);
}

void TUpdateForm::OnReplyTimeout() {
    if (Session.AwaitingRestart) {
        Session.AwaitingRestart = false;
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        ShowLogText(Text(Msg::NoAnswerAfterProgramming));
        Session.AckStep = 8;
        PostEvent(MsgBootloaderFileStep);
        return;
    }
    if (Session.ProbeState == 3) {
        SendAll(std::string(FileClass == 0   ? "\r\n"
                            : FileClass == 1 ? "\x85\x01\x00\x1A"
                                             : "",
                            FileClass == 0   ? 2
                            : FileClass == 1 ? 4
                                             : 0));
        Session.ProbeState = 4;
        return;
    }
    // A line error repeats the current rate once; it must not hold the
    // search there for good.
    const bool repeat = Session.LineErrorSeen;
    Session.LineErrorSeen = false;
    ScanStep(!repeat);
}

void TUpdateForm::OnAcknowledge() {
    const std::int32_t step = Session.AckStep;
    if (Session.AwaitingRestart) {
        Session.AwaitingRestart = false;
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    }
    if (step == 0) {
        SendCommand("A.1000\r\n");
        Timers.TimerRestart(Session.ReplyTimer);
    }
    if (step == 1) {
        SendCommand(
            IdentQueries[static_cast<std::size_t>(Session.QueryStep) % IdentQueries.size()]);
        Timers.TimerRestart(Session.ReplyTimer);
        Session.QueryStep = 1;
    }
    if (step == 2 && !Session.Done) {
        if (Session.ProgFile1.size() < 4) {
            Session.AckStep = 4;
        } else {
            ShowLogText(Text(Msg::ProgrammingName));
            if (RunProgrammer(FileClass <= 1 ? programmers::Method::HexLoader
                                             : programmers::Method::Pic32Loader,
                              Session.ProgFile1)) {
                Session.ToolStepDone = true;
                SecTimer->SetEnabled(true);
            } else {
                PostEvent(MsgProgrammingFailed);
            }
            ShowLogText(Text(Msg::StoringNewData));
            WaitProgressBar->SetPosition(1);
        }
    }
    if (!Session.Done) {
        switch (Session.AckStep) {
        case 3:
            PostEvent(MsgStartClass0);
            break;
        case 4:
            PostEvent(MsgToolStep);
            break;
        case 5:
            PostEvent(MsgBootloaderFileStep);
            break;
        case 6:
            PostEvent(MsgTerminalStep);
            break;
        case 7:
            PostEvent(MsgBootloaderFileStep);
            break;
        default:
            break;
        }
    }
    ++Session.AckStep;
}

void TUpdateForm::OnInstrumentReply(std::int32_t id, std::intptr_t data) {
    const char* text = reinterpret_cast<const char*>(data);
    switch (id) {
    case 30:
        Session.AwaitingRestart = false;
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        if (StartMode == 2) {
            Session.AckStep = 8;
            FinishSession(false);
        } else {
            ShowLogText(Text(Msg::StoringNewData));
            wait->DelayTime(1000, false);
            SetClock(true);
        }
        break;
    case 31:
        Session.AwaitingRestart = false;
        Session.AckStep = 8;
        FinishSession(false);
        break;
    case 208:
        Job.HeaderFlag =
            text != nullptr && text[0] != '\0' ? static_cast<std::uint8_t>(text[0]) : 0;
        SendCommand("A.1220\r\n");
        break;
    case 262:
        Session.SensorNotice = true;
        break;
    case 920:
        if (Job.Ident.DeviceNr.find("41215") != std::string::npos && Job.Ident.DevSw <= 1049) {
            SendCommand("A.1500\r\n");
        } else {
            ++Session.AckStep;
            Session.SearchFailures = 0;
            PostEvent(MsgStartClass0);
        }
        break;
    case 1131: {
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        long ms = 0;
        for (const char* c = text; c != nullptr && *c >= '0' && *c <= '9' && ms < 600000; ++c) {
            ms = ms * 10 + (*c - '0');
        }
        wait->DelayTime(ms, false);
        break;
    }
    case 1132:
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
            Session.AckStep = 0;
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
    Session.Running = false;
    StartMode = StartModeAsRead;
    wait->DelayTime(1000, false);
    ClearIdentity();
    Session.Done = true;
    OkBitBtn->SetEnabled(true);
    SendCommand(ExitCommand());
    Session.QueryStep = 0;
    WaitPanel->SetVisible(false);
    if (Config.AutoStartActive) {
        wait->DelayTime(1000, true);
        Beenden();
    }
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
    if (BootUpdateNeeded() && Job.Ident.DevBoot > 2000) {
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
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    wait->DelayTime(3000, true);
    serial::TComPort* port = SessionComPort();
    if (StartMode == 2 && port != nullptr) {
        port->LoadLastV24Parameter();
    }
    if (Session.CalibState != -1) {
        Events.AddHandler(&TUpdateForm::CalibHandler, this);
        SendCommand("A.1000\r\n", false);
        return;
    }
    if (Job.Variant == 2) {
        wait->DelayTime(8000, true);
    }
    SendCommand(ExitCommand());
    ShowLogText(Text(Msg::DownloadSuccessful));
    SWStaticText->SetCaption(Job.Ident.FileSwVersion);
    OkBitBtn->SetEnabled(false);
    SecTimer->SetEnabled(false);
    WaitProgressBar->SetPosition(0);
    WaitPanel->SetVisible(false);
    ShowTitleProgress("", -1);
    wait->DelayTime(1000, true);
    if (reset) {
        SendCommand("U.606\r\n");
        wait->DelayTime(2000, true);
    }
    if ((port = SessionComPort()) != nullptr) {
        port->Close();
    }
    ExitCode = 0;
    Session.Running = false;
    if (Config.AutoStartActive) {
        Beenden();
    }
}

kernel::TEventRec TUpdateForm::CalibHandler(void* context, kernel::TEvents& events,
                                            kernel::TEventRec event) {
    auto* form = static_cast<TUpdateForm*>(context);
    if (event.Kind != kernel::evMessage || event.Id != MsgAcknowledge) {
        return event;
    }
    TSessionState& session = form->Session;
    if (session.CalibState == -1) {
        form->SendCommand(form->ExitCommand());
        events.RemoveHandler(&TUpdateForm::CalibHandler, form);
        form->FinishSession(false);
    } else if (session.CalibState == -2) {
        form->SendCommand(form->ExitCommand());
        session.CalibState = -1;
    } else {
        // An unknown serial number (-10) sends the default pressure.
        char command[48];
        std::snprintf(command, sizeof command, "%s%1.1f\r\n", "A.6162#",
                      static_cast<double>(form->Pressures.PressureValue(session.CalibState)));
        form->SendCommand(command);
        session.CalibState = -2;
    }
    return kernel::TEvents::ClearEvent();
}

void TUpdateForm::SessionFailed(std::int32_t id) {
    Session.AwaitingRestart = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    ExitCode = 1;
    Session.Running = false;
    ShowLogText(Config.Language == 0 ? AbbruchtextD : AbbruchtextE);
    OkBitBtn->SetEnabled(true);
    WaitPanel->SetVisible(false);
    if (id == MsgProgrammingFailed) {
        Events.AddHandler(&TUpdateForm::RetryHandler, this);
    }
    if (Config.AutoStartActive) {
        Beenden();
    }
}

kernel::TEventRec TUpdateForm::RetryHandler(void* context, kernel::TEvents& events,
                                            kernel::TEventRec event) {
    if (event.Kind != kernel::evKey || event.Id != KeyStart) {
        return event;
    }
    auto* form = static_cast<TUpdateForm*>(context);
    events.RemoveHandler(&TUpdateForm::RetryHandler, form);
    form->OkBitBtn->SetEnabled(false);
    form->UpdateMemo->Clear();
    form->SecTimer->SetEnabled(false);
    form->WaitProgressBar->SetPosition(0);
    if (form->Session.ToolStepDone) {
        form->PostEvent(MsgToolStep);
    } else {
        form->Session.AckStep = 2;
        static const std::int32_t RetryMessages[] = {MsgAcknowledgeAgain, MsgRetryClass1,
                                                     MsgStartClass2, MsgAcknowledgeAgain,
                                                     MsgStartClass4};
        const int fileClass = form->FileClass;
        form->PostEvent(fileClass >= 0 && fileClass <= 4 ? RetryMessages[fileClass]
                                                         : MsgAcknowledgeAgain);
    }
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
        dialogs_.MessageBox(Text(Msg::NoDeviceFound), Text(Msg::CaptionError),
                            platform::MB_OK | platform::MB_ICONERROR);
        Session.SearchFailures = 1;
        ClearIdentity();
        Events.PostKey(KeyStart);
        ProcessEvents();
        return;
    }
    dialogs_.MessageBox(ExpandText(Text(Msg::NoNameFound)), Text(Msg::CaptionError),
                        platform::MB_OK | platform::MB_ICONERROR);
    ClearIdentity();
    Beenden();
}

} // namespace app
