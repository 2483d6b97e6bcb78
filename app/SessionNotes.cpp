#include "app/UpdateSession.h"
#include "platform/Files.h"
#include "platform/PortMap.h"

#include <charconv>
#include <filesystem>

// What the session tells its report, and the end of an identification.

namespace app {

void UpdateSession::NotePort() {
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
    report_.Port = port;
}

void UpdateSession::NoteIdentity(const std::string& name) {
    const programmers::TDeviceIdent& ident = Session.Job.Ident;
    report_.Identity =
        ReportIdentity{ident.PcbNr, ident.DeviceNr, name, ident.SerialNr, ident.SwVersion};
}

void UpdateSession::NoteFirmware() {
    ReportFirmware firmware;
    firmware.File = Session.CurrentFile;
    firmware.Version = Session.Job.Ident.FileSwVersion;
    if (!firmware.File.empty()) {
        DigestFirmware(firmware, LocateProgramFile(firmware.File).Path);
    }
    report_.Firmware = firmware;
}

void UpdateSession::EndIdentification(bool updateAvailable) {
    // Identified, whatever the decision: the exit code says the instrument
    // answered. A file that could not be read left no decision to tell.
    if (updateAvailable) {
        End(Outcome::UpdateAvailable);
    } else if (report_.Outcome != outcome::Failed) {
        End(Outcome::Identified);
    }
    const programmers::TDeviceIdent& ident = Session.Job.Ident;
    const ReportIdentity shown = report_.Identity.value_or(ReportIdentity{});
    window_.ShowLine("identify: device=" + ident.DeviceNr + " name=" + shown.Name + " pcb=" +
                     ident.PcbNr + " serial=" + ident.SerialNr + " version=" + ident.SwVersion);
    window_.ShowLine("identify: firmware=" + Session.CurrentFile +
                     " version=" + ident.FileSwVersion + " decision=" + report_.Outcome);
    SendExitAfterCheck();
    AwaitExitAck();
}

void UpdateSession::AwaitExitAck() {
    Session.AwaitingExitAck = true;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.ReplyTimer = Timers.TimerStart(ExitAckMs);
}

void UpdateSession::EndAfterExitAck() {
    Session.AwaitingExitAck = false;
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.Running = false;
    window_.EnableOk(true);
    if (Config.AutoStartActive) {
        window_.Close();
    }
}

} // namespace app
