#include "app/FailureCauses.h"
#include "app/FileVersion.h"
#include "app/IniLines.h"
#include "app/Messages.h"
#include "app/ProgFileList.h"
#include "app/UpdateSession.h"
#include "kernel/Stringunit.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <algorithm>
#include <cctype>

namespace app {

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return !part.empty() && text.find(part) != std::string::npos;
}

std::string Cut(const std::string& text, std::size_t width) {
    return text.size() < width ? text : text.substr(0, width - 1);
}

// Removes everything up to and including the first comma; false without one.
bool DropThroughComma(std::string& text) {
    std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return false;
    }
    text.erase(0, comma + 1);
    return true;
}

std::uint32_t FlashEraseValue(const std::string& text) {
    std::uint32_t address = 0;
    return FlashEraseAddress(text, address) ? address : 0;
}

// "@" at the end of a file name keeps the transfer at the low baud rate.
bool TakeKeepBaudMark(std::string& name) {
    if (!name.empty() && name.back() == '@') {
        name.pop_back();
        return true;
    }
    return false;
}

} // namespace

void UpdateSession::OnIdentificationAnswer(std::int32_t id, const std::string& text) {
    programmers::TDeviceIdent& ident = Session.Job.Ident;
    switch (id) {
    case reply::PcbNr:
    case reply::PcbNrAlt:
    case reply::PcbNrAlt2:
        ident.PcbNr = Cut(text, programmers::IdentWidth::PcbNr);
        report_.Step = step::Identify;
        Timers.TimerRestart(Session.ReplyTimer);
        SendCommand(command::ReadDeviceNr);
        Session.QueryStep = 2;
        break;
    case reply::DeviceNr:
    case reply::DeviceNrAlt:
    case reply::DeviceNrAlt2:
        ident.DeviceNr = Cut(text, programmers::IdentWidth::DeviceNr);
        SendCommand(command::ReadVersion);
        Session.QueryStep = 3;
        Timers.TimerRestart(Session.ReplyTimer);
        break;
    case reply::Version:
    case reply::VersionAlt:
    case reply::VersionSensor:
        if (id == reply::VersionSensor && Session.FileClass == 2) {
            ident.DevExe = VersionNumber(text);
            break;
        }
        ident.SwVersion = Cut(text, programmers::IdentWidth::Version);
        Session.VersionUnreadable = text.find("X.XX") != std::string::npos;
        ident.DevSw = VersionNumber(text);
        if (std::size_t comma = text.find(','); comma != std::string::npos) {
            ident.DevBoot = VersionNumber(text.substr(comma + 1));
        }
        Timers.TimerRestart(Session.ReplyTimer);
        if (ident.DevSw > 63 || text.find("Y.YY") != std::string::npos) {
            SendCommand(command::ReadSerialNr);
            Session.QueryStep = 4;
        } else {
            PostEvent(reply::SerialNrAlt,
                      reinterpret_cast<std::intptr_t>(Session.Replies.KeepText(" ")));
        }
        break;
    case reply::SerialNr:
    case reply::SerialNrAlt: {
        ident.SerialNr = Cut(text, programmers::IdentWidth::SerialNr);
        Session.CalibState = Pressures.PressureIndex(ident.DeviceNr, ident.SerialNr, ident.DevSw);
        Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
        for (int i = 0; i < PortCount; ++i) {
            if (i != Session.PortIndex && PortTable[i] != nullptr) {
                PortTable[i]->Close();
            }
        }
        report_.Step = step::Check;
        NotePort();
        const bool updateNeeded = CheckDevice();
        if (Options.IdentifyOnly) {
            EndIdentification(updateNeeded);
        } else if (updateNeeded) {
            if (Session.FileClass >= 0 && Session.FileClass <= 4) {
                PostEvent(event::StartByFileClass[Session.FileClass]);
            } else {
                ShowLogText(Text(Msg::MethodNotAvailable) + "file class " +
                            std::to_string(Session.FileClass));
                EndAfterCheck();
            }
        } else {
            EndAfterCheck();
        }
        break;
    }
    default:
        break;
    }
}

bool UpdateSession::CheckDevice() {
    programmers::TDeviceIdent& ident = Session.Job.Ident;
    Session.StartMode = StartModeAsRead;
    Session.ForceUpdate = false;
    Session.FileRefused = false;
    Session.SensorQuestionMark = 1;
    window_.ShowWaitPanel(false);
    const bool sensorMode = Session.StartMode >= 2 && Session.StartMode <= 4;
    bool sensorFound = true;
    if (sensorMode) {
        sensorFound = DropThroughComma(ident.DeviceNr);
        if (DropThroughComma(ident.PcbNr)) {
            std::size_t dot = ident.DeviceNr.find('.');
            std::size_t from = dot == std::string::npos ? 0 : dot + 1;
            for (std::size_t k = from;
                 k < from + 3 && k < ident.DeviceNr.size() && k < ident.PcbNr.size(); ++k) {
                ident.DeviceNr[k] = ident.PcbNr[k];
            }
        }
    }
    // Which device entry the instrument is.
    int entry = -1;
    for (std::size_t i = 0; i < DeviceTable.size() && entry < 0; ++i) {
        if (Contains(ident.DeviceNr, DeviceTable[i].DeviceNr)) {
            entry = static_cast<int>(i);
        }
    }
    if (entry < 0 && Contains(ident.PcbNr, ident.DeviceNr)) {
        for (std::size_t i = 0; i < DeviceTable.size() && entry < 0; ++i) {
            if (Contains(ident.PcbNr, DeviceTable[i].DeviceNrDef)) {
                entry = static_cast<int>(i);
            }
        }
    }
    if (entry < 0 && !DeviceTable.empty() &&
        DeviceTable[0].DeviceNrDef.find("XXXXX") != std::string::npos &&
        (!sensorMode || ident.DeviceNr.size() < 10)) {
        entry = 0;
    }
    // A file that cannot be read tells nothing about the instrument: the check
    // fails (the box said why) with what is known so far.
    const auto failedOnFile = [this, &entry] {
        NoteIdentity(DeviceTable[static_cast<std::size_t>(entry)].DeviceName);
        NoteFirmware();
        return false;
    };
    bool fileKnown = false;
    if (entry >= 0) {
        const DeviceRow& row = DeviceTable[static_cast<std::size_t>(entry)];
        Session.Job.ProzTyp = row.ProzTyp;
        const std::vector<std::string> pieces = ProgFileList(row.ProgFile2);
        Session.CurrentFile = pieces.empty() ? std::string() : pieces.front();
        Session.Job.KeepBaud[0] = TakeKeepBaudMark(Session.CurrentFile) ? 1 : 0;
        Session.Job.ProgFiles.clear();
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            if (pieces[i].find("*.*") == std::string::npos) {
                Session.Job.ProgFiles.push_back(pieces[i]);
                continue;
            }
            // Kept as found: they are opened by these names.
            for (const std::string& file : platform::FindFiles(Options.ProgramFolder, pieces[i])) {
                Session.Job.ProgFiles.push_back(platform::Utf8ToLatin1(file));
            }
        }
        Session.ProgFile1 = row.ProgFile1;
        Session.ProgFile3 = row.ProgFile3.substr(0, row.ProgFile3.find(','));
        Session.Job.KeepBaud[1] = TakeKeepBaudMark(Session.ProgFile3) ? 1 : 0;
        Session.SWKenn1 = row.SWKenn1;
        Session.SWKenn2 = row.SWKenn2;
        Session.SWKenn3 = row.SWKenn3;
        Session.BootLoadKenn = row.BootLoadKenn;
        Session.FlashErase = {FlashEraseValue(row.FlashErase1), FlashEraseValue(row.FlashErase2),
                              FlashEraseValue(row.FlashErase3)};
        // The programmers' erase starts of the first and the second image.
        Session.Job.EraseStart = {Session.FlashErase[0], Session.FlashErase[1]};
        const int k = static_cast<unsigned char>(Session.AnswerChar) + entry == 144 ? 0 : 1;
        Session.ProgDefFile = k < static_cast<int>(DeviceTable.size())
                                  ? DeviceTable[static_cast<std::size_t>(k)].ProgDefFile
                                  : row.ProgDefFile;
        Session.FileClass = FileClassOf(Session.CurrentFile, true);
        fileKnown = std::find(FirmwareFiles.begin(), FirmwareFiles.end(),
                              platform::UpperLatin1(Session.CurrentFile)) != FirmwareFiles.end();
        if (!Session.CurrentFile.empty() && !TakeSessionFile(Session.CurrentFile)) {
            return failedOnFile();
        }
    }
    const bool nameRefused = !Session.BootAnswerText.empty() && entry >= 0 &&
                             !Contains(Session.BootAnswerText,
                                       DeviceTable[static_cast<std::size_t>(entry)].BootLoadKenn);
    if (entry < 0 || !fileKnown || nameRefused) {
        NoteIdentity(entry >= 0 ? DeviceTable[static_cast<std::size_t>(entry)].DeviceName : "");
        if (entry >= 0) {
            NoteFirmware();
        }
        End(Outcome::WrongDevice, WrongDeviceFailure(entry, fileKnown));
        dialogs_.MessageBox(Text(Msg::WrongDevice), Text(Msg::CaptionError),
                            platform::MB_OK | platform::MB_ICONERROR);
        std::string names;
        std::vector<std::string> seen;
        for (const DeviceRow& row : DeviceTable) {
            if (std::find(seen.begin(), seen.end(), row.DeviceName) == seen.end()) {
                seen.push_back(row.DeviceName);
                names += row.DeviceName + ", ";
            }
        }
        std::string text = Text(Msg::DownloadIsForName);
        std::size_t name = text.find("NAME");
        if (name != std::string::npos) {
            text.replace(name, 4, names);
        }
        window_.ShowLine(text);
        return false;
    }
    if (sensorMode) {
        ident.DevSw = ident.DevBoot;
        ident.DevBoot = 0;
        DropThroughComma(ident.SwVersion);
        if (!sensorFound) {
            int answer = dialogs_.MessageBox(Text(Msg::NoSensorQuestion), Text(Msg::CaptionInfo),
                                             platform::MB_YESNO | platform::MB_ICONQUESTION);
            if (answer != platform::IDYES) {
                End(Outcome::SensorDeclined,
                    FailureAt(step::Check,
                              "no sensor answered, and the update without one was declined"));
                return false;
            }
            entry = 0;
            Session.Job.SensorAbsent = 1;
            Session.SensorQuestionMark = 0;
            ident.SwVersion = "X.XX";
            Session.VersionUnreadable = true;
            ident.DeviceNr = DeviceTable[0].DeviceNr;
            ident.SerialNr = "XXXXXXXX";
        }
        DropThroughComma(ident.SerialNr);
        if (Session.StartMode == 3 || Session.StartMode == 4) {
            Session.ProgVariant = Session.StartMode == 3 ? 1 : 2;
            Session.StartMode = 2;
            Session.StartCmd = Session.Job.SensorAbsent ? command::EnterSensorLoaderNoSensor
                                                        : command::EnterSensorLoader;
        }
    }
    if (Session.StartMode == 5) {
        Session.StartMode = 0;
        Session.ProgVariant = 2;
    }
    const int model = LeadingDecimal(ident.DeviceNr);
    if (model >= 41218 && model <= 41221) {
        Session.ProgFile3 = "l3_terml.a37";
    }
    const DeviceRow& row = DeviceTable[static_cast<std::size_t>(entry)];
    if (!TakeSessionFiles()) {
        return failedOnFile();
    }
    Session.DeviceNameText = row.DeviceName;
    Session.Job.DeviceName = row.DeviceName;
    NoteIdentity(row.DeviceName);
    window_.ShowIdentityField(IdentityField::Name, ident.DeviceNr + "  [" + row.DeviceName + "]");
    window_.ShowIdentityField(IdentityField::Serial, ident.SerialNr);
    window_.ShowIdentityField(IdentityField::Pcb, ident.PcbNr);
    window_.ShowIdentityField(IdentityField::Software, ident.SwVersion);
    if (!ReadFileVersion(Session.SWKenn2, Session.CurrentFile)) {
        return failedOnFile();
    }
    std::string panel = "Version " + ident.FileSwVersion;
    // Lab instruments: the newest of their program files, and the start-up program.
    for (std::size_t i = 0; i < Session.Job.ProgFiles.size(); ++i) {
        const std::string& file = Session.Job.ProgFiles[i];
        std::string bytes;
        FileVersionKind kind = VersionKindOf(Session.SWKenn2, file);
        if (!ReadVersionWindow(kind, LocateProgramFile(file).Path, bytes)) {
            continue;
        }
        std::string version = VersionFromBytes(kind, Session.SWKenn2, bytes);
        if (kernel::UpperAscii(file).find("TARVINSTARTUP.EXE") != std::string::npos) {
            ident.FileExe = VersionNumber(version);
            Session.StartupProgramIndex = static_cast<std::int32_t>(i);
        } else if (VersionNumber(version) > ident.FileSw) {
            ident.FileSwVersion = version;
            ident.FileSw = VersionNumber(version);
        }
    }
    if (Session.StartupProgramIndex >= 0) {
        SendCommand(command::ReadStartupVersion);
        window_.Wait().DelayTime(3000, true);
    }
    for (const auto& [marker, file] : {std::pair{Session.SWKenn1, Session.ProgFile1},
                                       std::pair{Session.SWKenn3, Session.ProgFile3}}) {
        if (marker.empty()) {
            continue;
        }
        if (!ReadFileVersion(marker, file)) {
            return failedOnFile();
        }
        panel += " / " + ident.FileBootVersion;
    }
    window_.ShowStatusPanel(3, panel);
    Session.Job.ProgFile = Session.CurrentFile;
    Session.Job.BootFile = Session.ProgFile3;
    ident.ProgFileCount = static_cast<std::int32_t>(Session.Job.ProgFiles.size());

    NoteFirmware();

    // The version decision.
    const bool check = Config.SWCheck;
    const bool anyFile = AnyFileMode;
    if (check && !anyFile && ident.FileSw < ident.DevSw &&
        !(ident.FileBoot >= ident.DevBoot && ident.DevBoot != 0)) {
        End(Outcome::DeviceNewer,
            FailureAt(step::Check, "the instrument's version " + ident.SwVersion +
                                       " is newer than " + ident.FileSwVersion + " of " +
                                       Session.CurrentFile));
        dialogs_.MessageBox(Text(Msg::NoValidVersion), Text(Msg::CaptionError),
                            platform::MB_OK | platform::MB_ICONERROR);
        std::string text = Text(Msg::DeviceVersionNewer);
        if (std::size_t x = text.find("VersionX"); x != std::string::npos) {
            text.replace(x + 7, 1, " " + ident.SwVersion);
        } else if (std::size_t y = text.find("versionX"); y != std::string::npos) {
            text.replace(y + 7, 1, " " + ident.SwVersion);
        }
        window_.ShowLine(text);
        return false;
    }
    auto askSensorSoftware = [this] {
        return dialogs_.MessageBox(Text(Msg::SensorSoftwareOverRs232), Text(Msg::CaptionInfo),
                                   platform::MB_YESNO | platform::MB_ICONQUESTION) ==
               platform::IDYES;
    };
    if (check && !anyFile && ident.DevSw == ident.FileSw &&
        (ident.DevBoot == ident.FileBoot || ident.FileBoot == 0) && ident.DevExe == ident.FileExe) {
        if (Config.AutoStartActive) {
            End(Outcome::UpToDate);
            return false;
        }
        std::string text = Text(Msg::VersionAlreadyInDevice);
        for (const char* word : {"VersionX", "versionX"}) {
            if (std::size_t x = text.find(word); x != std::string::npos) {
                text.replace(x + 7, 1, " " + ident.SwVersion);
            }
        }
        bool yes =
            dialogs_.MessageBox(text, Text(Msg::CaptionInfo),
                                platform::MB_YESNO | platform::MB_ICONQUESTION) == platform::IDYES;
        Session.ForceUpdate = yes;
        if (!yes) {
            End(Outcome::UpToDateKept);
        }
        if (yes && Session.SensorNotice) {
            yes = askSensorSoftware();
        }
        return yes;
    }
    if (Session.SensorNotice && ident.DevBoot < ident.FileBoot) {
        return askSensorSoftware();
    }
    if (!check || anyFile) {
        ident.DevSw = ident.FileSw;
        Session.ForceUpdate = true;
        if (anyFile && AnyFileName.size() > 4) {
            Session.CurrentFile = AnyFileName;
            Session.Job.ProgFile = AnyFileName;
            NoteFirmware();
        }
    }
    return true;
}

} // namespace app
