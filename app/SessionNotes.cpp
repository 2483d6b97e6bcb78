#include "app/Updatemain.h"
#include "platform/Files.h"
#include "platform/PortMap.h"

#include <charconv>
#include <filesystem>

// What the session tells its report, and the end of an identification.

namespace app {

void TUpdateForm::NotePort() {
    ReportPort port;
    port.Number = Session.PortNumber;
    port.Device = platform::PortDevicePath(Session.PortNumber - 1);
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(port.Device, error);
    if (!error) {
        port.Device = device.string();
    }
    const std::string baud = CurrentBaudText();
    std::from_chars(baud.data(), baud.data() + baud.size(), port.Baud);
    Report.Port = port;
}

void TUpdateForm::NoteIdentity(const std::string& name) {
    const programmers::TDeviceIdent& ident = Session.Job.Ident;
    Report.Identity =
        ReportIdentity{ident.PcbNr, ident.DeviceNr, name, ident.SerialNr, ident.SwVersion};
}

void TUpdateForm::NoteFirmware() {
    ReportFirmware firmware;
    firmware.File = Session.CurrentFile;
    firmware.Version = Session.Job.Ident.FileSwVersion;
    if (!firmware.File.empty()) {
        DigestFirmware(firmware, LocateProgramFile(firmware.File).Path);
    }
    Report.Firmware = firmware;
}

void TUpdateForm::EndIdentification(bool updateAvailable) {
    // Identified, whatever the decision: the exit code says the instrument
    // answered. A file that could not be read left no decision to tell.
    if (updateAvailable) {
        End(Outcome::UpdateAvailable);
    } else if (Report.Outcome != outcome::Failed) {
        End(Outcome::Identified);
    }
    const programmers::TDeviceIdent& ident = Session.Job.Ident;
    const ReportIdentity shown = Report.Identity.value_or(ReportIdentity{});
    UpdateMemo->Add("identify: device=" + ident.DeviceNr + " name=" + shown.Name + " pcb=" +
                    ident.PcbNr + " serial=" + ident.SerialNr + " version=" + ident.SwVersion);
    UpdateMemo->Add("identify: firmware=" + Session.CurrentFile +
                    " version=" + ident.FileSwVersion + " decision=" + Report.Outcome);
    SendExitAfterCheck();
    AwaitExitAck();
}

void TUpdateForm::AwaitExitAck() {
    Session.AwaitingExitAck = true;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.ReplyTimer = Timers.TimerStart(ExitAckMs);
}

void TUpdateForm::EndAfterExitAck() {
    Session.AwaitingExitAck = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.Running = false;
    OkBitBtn->SetEnabled(true);
    if (Config.AutoStartActive) {
        Beenden();
    }
}

} // namespace app
