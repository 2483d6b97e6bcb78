#include "app/FailureCauses.h"
#include "app/PortOpenFailure.h"
#include "app/Updatemain.h"
#include "platform/PortMap.h"
#include "serial/Comport.h"

namespace app {

namespace {

// The box is worded in the window's language at the time of the failure.
void BoxOpenFailuresOf(serial::TComPort& port, platform::Dialogs& dialogs, const int& language) {
    port.SetOnOpenFailure([&dialogs, &language](const serial::TOpenFailure& failure) {
        dialogs.MessageBox(OpenFailureText(failure, language),
                           MessageText(Msg::CaptionError, language),
                           platform::MB_OK | platform::MB_ICONERROR);
    });
}

} // namespace

void TUpdateForm::SurveyPorts() {
    UpdateCom->Check_AllV24();
    int usable = UpdateCom->GetMaxV24Useable();
    if (usable > MaxPorts) {
        LogDropped({std::to_string(usable - MaxPorts) + " serial ports after the first " +
                    std::to_string(MaxPorts)});
        usable = MaxPorts;
    }
    portCount_ = usable;
    for (int i = 0; i < portCount_; ++i) {
        portNumbers_[i] = UpdateCom->Get_UseableV24(i) + 1;
    }
}

// A production line runs one tool per port: a probe of the neighbours' ports
// would hold them for a moment, just when their own tool opens them.
void TUpdateForm::AssignPortOption() {
    if (!options_.Port.empty()) {
        portOptionIndex_ = platform::AssignPort(options_.Port, portOptionError_);
        platform::LimitPortMapTo(portOptionIndex_);
    }
}

void TUpdateForm::TakePortOption() {
    if (options_.Port.empty()) {
        return;
    }
    config_.FixedPort = true;
    config_.FixedPortIndex = portOptionIndex_;
    if (portOptionIndex_ < 0) {
        // The command line was checked; only a map without a free number is
        // left. The run ends as for a port that cannot be opened.
        dialogs_.MessageBox(portOptionError_, Text(Msg::CaptionError),
                            platform::MB_OK | platform::MB_ICONERROR);
    }
}

void TUpdateForm::OpenFixedPort() {
    portCount_ = 1;
    portTable_[0] = UpdateCom;
    const int index = config_.FixedPortIndex;
    // --port without a number: the port component would open COM1 instead,
    // which on a production line is another instrument's.
    if (!options_.Port.empty() && portOptionIndex_ < 0) {
        session_.End(Outcome::PortUnavailable, FailureAt(step::StartUp, portOptionError_));
        config_.AutoStart = false;
        // No session may run: it would reopen the port by that number.
        OkBitBtn->SetEnabled(false);
        return;
    }
    BoxOpenFailuresOf(*UpdateCom, dialogs_, config_.Language);
    if (UpdateCom->Open(handle_, 0, index, true) == serial::INVALID_HANDLE_VALUE) {
        session_.End(Outcome::PortUnavailable, OpenFailureRecord(UpdateCom->LastOpenFailure()));
        config_.AutoStart = false;
    }
    UpdateStatusBar->SetPanelText(0, "Com" + std::to_string(index + 1));
}

// A port that exists but is held by another program or kept from this user
// is left out of the search; without a word the operator would only hear
// that no instrument was found.
void TUpdateForm::NotePortsPassedOver() {
    std::string names;
    for (int i = 0; i < UpdateCom->GetMaxV24Devices(); ++i) {
        const int index = UpdateCom->Get_DeviceV24(i);
        bool usable = false;
        for (int u = 0; u < UpdateCom->GetMaxV24Useable(); ++u) {
            usable = usable || UpdateCom->Get_UseableV24(u) == index;
        }
        if (!usable) {
            names += (names.empty() ? "" : ", ") + serial::TComPort::PortName(index);
        }
    }
    if (!names.empty()) {
        UpdateMemo->Add(MessageText(Msg::PortsPassedOver, config_.Language) + names);
    }
}

void TUpdateForm::OpenUsablePorts() {
    NotePortsPassedOver();
    // No usable port: nothing to open; the device search then finds nobody.
    if (portCount_ == 0) {
        return;
    }
    BoxOpenFailuresOf(*UpdateCom, dialogs_, config_.Language);
    UpdateCom->Open(handle_, 0, portNumbers_[0] - 1, true);
    const serial::DCB line = UpdateCom->LoadV24Parameter();
    const serial::COMMTIMEOUTS timeouts = UpdateCom->LoadV24TimeOut();
    portTable_[0] = UpdateCom;
    std::string panel = "[Com" + std::to_string(portNumbers_[0]) + "]";
    for (int i = 1; i < portCount_; ++i) {
        auto* port = new serial::TComPort(this, "ComPort" + std::to_string(i + 1));
        port->SetDialogs(&dialogs_);
        port->SetLanguage(config_.Language);
        BoxOpenFailuresOf(*port, dialogs_, config_.Language);
        *port->GetV24Parameter() = *UpdateCom->GetV24Parameter();
        portTable_[i] = port;
        if (port->Open(handle_, 0, portNumbers_[i] - 1, true) != serial::INVALID_HANDLE_VALUE) {
            port->SaveV24Parameter(&line);
            port->SaveV24TimeOut(&timeouts);
        }
        panel += " [" + std::to_string(portNumbers_[i]) + "]";
    }
    UpdateStatusBar->SetPanelText(0, panel);
}

void TUpdateForm::ClosePorts() {
    for (serial::TComPort*& port : portTable_) {
        if (port != nullptr) {
            port->Close();
            port = nullptr;
        }
    }
}

} // namespace app
