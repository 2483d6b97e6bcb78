#include "app/FileVersion.h"
#include "app/Messages.h"
#include "app/UpdateSession.h"
#include "platform/Files.h"

#include <array>

namespace app {

namespace {

// First probe by file class; the second probe is entry 3 + class.
const std::array<std::string, 8> BootProbes = {
    std::string("\x68\x00\x00\x68\x00\x00\x00\x00\x16", 9),
    std::string("\x80", 1),
    "\r\n",
    "\r\n",
    std::string("\x85\x01\x00\x1A", 4),
    "",
    "",
    ""};
constexpr std::uint32_t PauseAfterBaudChangeMs = 500;
constexpr std::uint32_t PauseBeforeProbeMs = 200;

serial::BaudTag BaudTagOfCode(int code) {
    return static_cast<serial::BaudTag>(code >= 0 && code <= 5 ? code : 2);
}

std::string ProbeFor(std::size_t entry) {
    return entry < BootProbes.size() ? BootProbes[entry] : std::string();
}

// The port's record and its running line both take the line.
void SetPortLine(serial::TComPort& port, const serial::V24ParameterTag& line) {
    port.InitParameter(&line, false);
    port.ChangeV24Parameter(
        static_cast<serial::BaudTag>(line.Baudrate), static_cast<serial::StopBitTag>(line.StopBits),
        static_cast<serial::ParitaetTag>(line.Paritaet), line.KeinNullZeichen != 0);
}

} // namespace

std::string UpdateSession::WakeCommand() const {
    return command::WakeForStartMode(Session.StartMode);
}

std::string UpdateSession::ExitCommand() const {
    return command::ExitForFileClass(Session.FileClass);
}

void UpdateSession::SendBootProbe(ProbeState probe) {
    const std::size_t fileClass = static_cast<std::size_t>(Session.ProbeClass);
    SendAll(ProbeFor(probe == ProbeState::SecondProbeSent ? 3 + fileClass : fileClass));
    Session.ProbeState = probe;
}

std::string UpdateSession::CurrentBaudText() const {
    const int code = Session.CurrentBaud;
    return code >= 0 && code < static_cast<int>(BaudRateTexts.size()) ? BaudRateTexts[code] : "";
}

std::string UpdateSession::FindDefFile(std::uint32_t prozTyp) const {
    for (const DeviceRow& row : DeviceTable) {
        if (row.ProzTyp == prozTyp) {
            return row.ProgDefFile;
        }
    }
    return {};
}

int UpdateSession::PortTableIndexOf(int portNumber) const {
    for (int i = 0; i < PortCount; ++i) {
        if (PortTable[i] != nullptr && PortTable[i]->PortIndex() + 1 == portNumber) {
            return i;
        }
    }
    return -1;
}

void UpdateSession::SendAll(const std::string& text) {
    for (int i = 0; i < PortCount; ++i) {
        if (PortTable[i] != nullptr && PortTable[i]->IsOpen() &&
            PortTable[i]->Write(text.data(), static_cast<int>(text.size()), false) ==
                serial::V24_LINE_FAILED) {
            PassOverFailedPort(i);
        }
    }
}

// Without a word a port that hung up (an adapter pulled) would only make the
// search end as "no instrument found".
void UpdateSession::PassOverFailedPort(int tableIndex) {
    serial::TComPort* port = PortTable[tableIndex];
    if (Session.PortIndex >= 0) {
        // Whoever waits on the session's line would otherwise wait for its
        // time-out.
        if (tableIndex == Session.PortIndex) {
            PostEvent(event::LineFailed, LineFailedData(tableIndex));
        }
        return;
    }
    if (port == nullptr || !port->IsOpen()) {
        return;
    }
    window_.ShowLine(Text(Msg::PortFailedInSearch) + port->FailureText());
    passedOver_[static_cast<std::size_t>(tableIndex)] = port->PortIndex();
    port->Close();
}

// The failure box asks the operator to check the connection and try again:
// an adapter plugged in again must be found.
void UpdateSession::ReopenPassedOverPorts() {
    for (int i = 0; i < PortCount; ++i) {
        int& index = passedOver_[static_cast<std::size_t>(i)];
        if (index >= 0 && PortTable[i] != nullptr && !PortTable[i]->IsOpen() &&
            PortTable[i]->Open(window_.Handle(), 0, index, false) != serial::INVALID_HANDLE_VALUE) {
            index = -1;
        }
    }
}

std::string UpdateSession::SearchedPortNames() const {
    std::string names;
    for (int i = 0; i < PortCount; ++i) {
        const serial::TComPort* port = PortTable[i];
        const int index = port != nullptr && port->IsOpen()
                              ? port->PortIndex()
                              : passedOver_[static_cast<std::size_t>(i)];
        if (index >= 0) {
            names += (names.empty() ? "" : ", ") + serial::TComPort::PortName(index);
        }
    }
    return names;
}

void UpdateSession::ChooseSessionPort(int tableIndex, int portNumber) {
    Session.PortIndex = tableIndex;
    Session.PortNumber = portNumber;
    // The line the port was chosen at (the instrument's answer's): a retry
    // after the line died opens the port at it when no step since kept another.
    if (serial::TComPort* port = SessionComPort()) {
        SaveLiveSessionLine(*port);
    }
    window_.ShowStatusPanel(1, "Com" + std::to_string(portNumber));
}

void UpdateSession::SetLoaderLine(int fileClass) {
    if (!searchLinesSaved_) {
        for (int i = 0; i < PortCount; ++i) {
            if (PortTable[i] != nullptr) {
                searchLines_[static_cast<std::size_t>(i)] = *PortTable[i]->GetV24Parameter();
            }
        }
        searchLinesSaved_ = true;
    }
    Session.ProbeClass = fileClass;
    serial::V24ParameterTag record = searchLines_[0];
    record.StopBits = serial::S_1;
    if (fileClass == 1) {
        record.Paritaet = serial::Even;
        Session.CurrentBaud = 3;
    } else {
        Session.CurrentBaud = 5;
    }
    record.Baudrate = BaudTagOfCode(Session.CurrentBaud);
    for (int i = 0; i < PortCount; ++i) {
        if (PortTable[i] != nullptr) {
            SetPortLine(*PortTable[i], record);
        }
    }
    window_.ShowStatusPanel(2, "BL-Baud");
    Session.RxBuf.Clear();
}

// The stop bits and parity of the bootloader step would keep an instrument's
// firmware from hearing the next search.
void UpdateSession::RestoreSearchLines() {
    if (!searchLinesSaved_) {
        return;
    }
    searchLinesSaved_ = false;
    for (int i = 0; i < PortCount; ++i) {
        if (PortTable[i] != nullptr) {
            SetPortLine(*PortTable[i], searchLines_[static_cast<std::size_t>(i)]);
        }
    }
}

void UpdateSession::SendBytes(const std::string& bytes) {
    if (serial::TComPort* port = SessionComPort()) {
        if (port->Write(bytes.data(), static_cast<int>(bytes.size()), false) ==
            serial::V24_LINE_FAILED) {
            PassOverFailedPort(Session.PortIndex);
        }
    } else {
        SendAll(bytes);
    }
}

void UpdateSession::SendCommand(const std::string& text, bool log) {
    SendBytes(text);
    if (log) {
        AddLogLine(text);
    }
}

void UpdateSession::DecideNoInstrument() {
    End(Outcome::NoDevice, NoInstrumentFailure());
}

bool UpdateSession::ScanStep(bool advance) {
    const int listLength = static_cast<int>(Config.BaudList.size());
    if (advance) {
        ++Session.ScanIndex;
    }
    if (Session.ScanIndex > listLength) {
        if (Session.RecoveredBy != RetryableStep::None) {
            RecoveredInstrumentSilent();
            return false;
        }
        DecideNoInstrument();
        if (Config.AutoStartActive) {
            Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
            window_.Close();
        } else {
            SearchFailed();
        }
        return false;
    }
    // A step that waited gives up when another session (a menu recovery) took
    // over meanwhile.
    const std::uint32_t generation = Session.Generation;
    if (Session.ScanIndex < listLength) {
        Session.CurrentBaud = Config.BaudList[static_cast<std::size_t>(Session.ScanIndex)];
        window_.ShowStatusPanel(2, CurrentBaudText());
        Session.RxBuf.Clear();
        for (int i = 0; i < PortCount; ++i) {
            if (PortTable[i] != nullptr) {
                PortTable[i]->ChangeBaudrate(BaudTagOfCode(Session.CurrentBaud));
            }
        }
        window_.Wait().DelayTime(PauseAfterBaudChangeMs, false);
        SendAll(command::WakePreamble);
        window_.Wait().DelayTime(PauseAfterBaudChangeMs, true);
        if (generation != Session.Generation) {
            return true;
        }
        SendAll(WakeCommand());
        AddLogLine(WakeCommand());
        return true;
    }
    // The bootloader step: an instrument that sits in its loader answers a probe.
    SetLoaderLine(Session.FileClass);
    window_.Wait().DelayTime(PauseBeforeProbeMs, true);
    if (generation != Session.Generation) {
        return true;
    }
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    if (Session.FileClass == 1 && !Session.BootInfoShown) {
        if (Config.AutoStartActive && !Config.ProgErrorNewTry) {
            // An identification promises its own code for "nothing answered".
            End(Options.IdentifyOnly ? Outcome::NoDevice : Outcome::NoLoaderAnswer,
                NoInstrumentFailure());
            window_.Close();
            return false;
        }
        Session.BootInfoShown = true;
        const std::string& abort = Config.Language == 0 ? AbbruchtextD : AbbruchtextE;
        std::string expanded = ExpandText(abort);
        std::size_t firstBreak = expanded.find("\r\n");
        std::string secondLine =
            firstBreak == std::string::npos ? std::string() : expanded.substr(firstBreak + 2);
        secondLine = secondLine.substr(0, secondLine.find("\r\n"));
        if (CloseOnInfo) {
            for (int i = 0; i < PortCount; ++i) {
                if (PortTable[i] != nullptr) {
                    PortTable[i]->Close();
                }
            }
        }
        dialogs_.MessageBox(secondLine + Text(Msg::ConfirmWithOk), Text(Msg::CaptionInfo),
                            platform::MB_OK | platform::MB_ICONINFORMATION);
        if (CloseOnInfo) {
            for (int i = 0; i < PortCount; ++i) {
                if (PortTable[i] != nullptr) {
                    PortTable[i]->Open(window_.Handle(), 0,
                                       i == 0 && Config.FixedPort ? Config.FixedPortIndex
                                                                  : PortNumbers[i] - 1,
                                       true);
                }
            }
        }
    }
    if (generation != Session.Generation) {
        return true;
    }
    Session.ReplyTimer = Timers.TimerStart(ReplyTimeoutMs);
    SendBootProbe(ProbeState::FirstProbeSent);
    return true;
}

void UpdateSession::OnCharsReceived(int portNumber) {
    const int tableIndex = PortTableIndexOf(portNumber);
    if (tableIndex < 0) {
        return;
    }
    char buffer[TRxBuffer::ReadChunk + 1];
    const int count = PortTable[tableIndex]->Read(buffer, TRxBuffer::ReadChunk);
    if (count == serial::V24_LINE_FAILED) {
        PassOverFailedPort(tableIndex);
        return;
    }
    if (count <= 0) {
        return;
    }
    Session.RxBuf.Append(buffer, static_cast<std::size_t>(count));
    auto chooseSessionPort = [&] {
        if (Session.PortIndex < 0) {
            ChooseSessionPort(tableIndex, portNumber);
        }
    };
    // Each post is handled at once; the loop re-reads the buffer every pass,
    // since a handler may receive more in the meantime.
    do {
        std::string line;
        while (Session.RxBuf.TakeLine(line)) {
            AddLogLine(line + " <-");
            ReplyLine reply = ParseReplyLine(line);
            if (!reply.IsReply) {
                continue;
            }
            if (reply.HasInfoPrefix) {
                PostEvent(reply.Number, reinterpret_cast<std::intptr_t>(
                                            Session.Replies.KeepText(reply.HashText)));
            }
            if (reply.HasDollar) {
                PostEvent(reply.Number, reinterpret_cast<std::intptr_t>(
                                            Session.Replies.KeepValue(reply.DollarValue)));
            }
            if (reply.EndsWithBang) {
                chooseSessionPort();
                Session.RecoveredBy = RetryableStep::None; // a firmware answers
                PostEvent(event::Acknowledge);
            }
            if (reply.HasCommandPrefix) {
                // The line tells whose answer it is (XMODEM entry) and
                // whether its acknowledge came with it.
                PostEvent(event::CommandReply,
                          reinterpret_cast<std::intptr_t>(Session.Replies.KeepText(line)));
            }
            if (reply.EndsWithQuestion) {
                PostEvent(event::Rejected,
                          reinterpret_cast<std::intptr_t>(Session.Replies.KeepText(line)));
            }
        }
        TRxBuffer::BootAnswer answer = Session.RxBuf.TakeBootAnswer();
        if (answer.What == TRxBuffer::BootAnswer::Frame) {
            Session.BootAnswer = true;
            chooseSessionPort();
            PostEvent(event::BootFrameAnswer,
                      reinterpret_cast<std::intptr_t>(Session.Replies.KeepText(answer.Text)));
        } else if (answer.What == TRxBuffer::BootAnswer::Byte) {
            Session.BootAnswer = true;
            chooseSessionPort();
            PostEvent(event::BootByteAnswer, static_cast<unsigned char>(answer.Character));
        }
    } while (Session.RxBuf.HasLineEnd());
}

void UpdateSession::OnLineError(int portNumber) {
    Session.LineErrorSeen = true;
    const int tableIndex = PortTableIndexOf(portNumber);
    if (tableIndex >= 0) {
        char discard[TRxBuffer::ReadChunk + 1];
        PortTable[tableIndex]->Read(discard, TRxBuffer::ReadChunk);
    }
    // The reply timer also bounds the waits for a restarted instrument, for
    // the calibration and for a menu recovery's probe: only the search moves on.
    const bool searching = Session.PendingRecovery == RecoveryKind::None &&
                           !Session.AwaitingRestart && !Session.Calibrating;
    if (searching && Session.ReplyTimer != 0 && Timers.InUse(Session.ReplyTimer)) {
        const std::uint32_t generation = Session.Generation;
        Timers.TimerRestart(Session.ReplyTimer);
        window_.Wait().DelayTime(500, true);
        if (generation == Session.Generation) {
            ScanStep(true);
        }
    }
}

bool UpdateSession::ReadFileVersion(const std::string& marker, const std::string& fileName) {
    FileVersionKind kind = VersionKindOf(marker, fileName);
    std::string bytes;
    programmers::TProgramFile file = LocateProgramFile(fileName);
    if (file.Problem.empty() && !ReadVersionWindow(kind, file.Path, bytes)) {
        file.Problem = Text(Msg::FirmwareFileUnreadable);
    }
    if (!file.Problem.empty()) {
        // A version of 0 would call the instrument newer or up to date.
        return FailCheckForFile(file);
    }
    const std::string version = VersionFromBytes(kind, marker, bytes);
    programmers::TDeviceIdent& ident = Session.Job.Ident;
    if (ident.FileSwVersion.empty() && kind != FileVersionKind::SRecord) {
        ident.FileSwVersion = version;
        ident.FileSw = VersionNumber(version);
    } else {
        ident.FileBootVersion = version;
        ident.FileBoot = VersionNumber(version);
    }
    return true;
}

bool UpdateSession::UpdateNeeded() const {
    const programmers::TDeviceIdent& ident = Session.Job.Ident;
    return ident.DevSw < ident.FileSw || (ident.DevSw == ident.FileSw && Session.ForceUpdate);
}

bool UpdateSession::BootUpdateNeeded() const {
    const programmers::TDeviceIdent& ident = Session.Job.Ident;
    return ident.DevBoot < ident.FileBoot ||
           (ident.DevBoot == ident.FileBoot && Session.ForceUpdate);
}

} // namespace app
