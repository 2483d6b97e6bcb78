#include "programmers/Emf_loadunit.h"

#include "programmers/BslDialogue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace programmers {

namespace {

constexpr std::uint32_t WatchdogMs = 10 * 1000;
constexpr long BootloaderStartWaitMs = 3000; // the bootloader starts at its own speed
constexpr long SecondStageWaitMs = 10 * 1000;
constexpr long BeforeRestartWaitMs = 300;
constexpr long AfterRestartWaitMs = 500;
constexpr long BeforePortChangeWaitMs = 200;
constexpr long EndWaitMs = 1500;
// From 1.06 on the unlock line follows each command character.
constexpr std::int32_t UnlockFromVersion = 1060;
constexpr std::size_t ReadChunk = 250;
constexpr std::size_t MaxChecksumDigits = 8;
constexpr const char* ErrorCaption = "Error";
// Progress code whose value is a text, appended to the software version shown.
constexpr int ProgressBootloaderVersion = 24;

constexpr char CmdUpload = 'u';
constexpr char CmdChecksum = 'c';
constexpr char CmdRestart = 'r';

std::string Hex4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

} // namespace

bool ParseImageChecksum(const char* text, std::uint32_t& value) {
    // More digits than fit would wrap into a false match.
    const std::size_t length = text == nullptr ? 0 : ::strnlen(text, MaxChecksumDigits + 1);
    return length <= MaxChecksumDigits && ParseHexNumber(text, length, value);
}

T_EMFLoader::T_EMFLoader(const TProgrammerContext& context, const TXmodemSettings& settings)
    : TProgrammerTyp(context), Settings(settings), Mode_(std::clamp(settings.Mode, 0, 2)) {}

bool T_EMFLoader::SendCommandChar(char c) {
    Host.AddLogLine(std::string(1, c));
    const std::uint8_t byte = static_cast<std::uint8_t>(c);
    if (!WriteBytes(&byte, 1)) {
        return false;
    }
    return Version106 == 0 ||
           WriteBytes(reinterpret_cast<const std::uint8_t*>(protocol::command::XmodemUnlock),
                      sizeof protocol::command::XmodemUnlock);
}

bool T_EMFLoader::Program(const std::string& fileName) {
    Host.ShowProgress(progress::Position, 0);
    if (!LoadTransferImage(Host, fileName, Image)) {
        return false;
    }
    ImageCrc_ = ImageCrc(Image);
    AppendTrailer(Image);
    Sender.Start(Image.Bytes);
    Host.ShowProgress(progress::Maximum, static_cast<std::intptr_t>(Image.BlockCount));
    Host.ShowProgress(progress::Position, 2);
    TransferMode = 0;
    Version106 = 0;
    FailureText.clear();

    BeginRun(WatchdogMs);
    Host.ShowProgress(progress::Title, progress::TitleRunning);
    if (!Settings.LoaderMode) {
        WriteText(protocol::command::Dialogue);
    }
    PumpUntil();

    Host.ShowProgress(progress::Title, progress::TitleRunning);
    Wait(BeforePortChangeWaitMs);
    if (Settings.DeviceFamily != 2 || Failed != 0) {
        Port.LoadLastV24Parameter();
        Host.ShowBaudText(std::to_string(serial::BaudRateOf(Port.GetV24Parameter()->Baudrate)));
    } else {
        Port.ChangeV24Parameter(serial::B__9600, serial::S_2, serial::NoParity, true);
        Host.ShowBaudText("9600");
    }
    EndRun(EndWaitMs);
    if (Failed != 0) {
        ShowFailure();
    }
    return Failed == 0;
}

void T_EMFLoader::ShowFailure() {
    // The watchdog is the only failure without a text of its own; an empty
    // box would leave the operator guessing.
    if (FailureText.empty()) {
        FailureText = Host.Text(ProgrammerText::NoAnswer);
        Host.ShowLogLine(FailureText);
    }
    Host.Dialogs().MessageBox(FailureText, ErrorCaption, platform::MB_OK | platform::MB_ICONERROR);
}

void T_EMFLoader::FailWith(const std::string& text) {
    FailureText = text;
    Host.ShowLogLine(text);
    Fail();
}

bool T_EMFLoader::TakesReply(std::int32_t id) const {
    return id == protocol::event::Acknowledge || id == protocol::event::CommandReply ||
           id == protocol::reply::XmodemBootloaderVersion || id == protocol::reply::XmodemChecksum;
}

bool T_EMFLoader::TakesKey(std::int32_t id) const {
    // The operator's start command must not start a session under the transfer.
    return id == protocol::event::KeyStart;
}

void T_EMFLoader::OnReply(std::int32_t id, std::intptr_t data) {
    const char* text = reinterpret_cast<const char*>(data);
    switch (id) {
    case protocol::event::Acknowledge:
        SendEntry();
        break;
    case protocol::event::CommandReply:
        if (Mode_ > 1) {
            SecondStageEntry();
        } else {
            StartBootloader();
        }
        break;
    case protocol::reply::XmodemBootloaderVersion:
        CheckVersion(text);
        break;
    case protocol::reply::XmodemChecksum:
        CheckChecksum(text);
        break;
    default:
        break;
    }
}

void T_EMFLoader::SendEntry() {
    if (Mode_ == 1 && Settings.AlternateEntry) {
        Mode_ = 2;
    }
    WriteText(protocol::command::XmodemEntry[Mode_]);
    WriteText(Job.KeepBaud[0] == 1 ? protocol::command::XmodemKeepBaudLine
                                   : protocol::command::XmodemFastLine);
    Port.SaveLastV24Parameter();
}

void T_EMFLoader::StartBootloader() {
    const serial::BaudTag baud = Job.KeepBaud[0] == 1 ? serial::B__9600 : Settings.Baud;
    Port.ChangeV24Parameter(baud, serial::S_2, serial::NoParity, false);
    Host.ShowBaudText(std::to_string(serial::BaudRateOf(baud)));
    Delay.DelayTime(BootloaderStartWaitMs, false);
    StopWatchdog();
    StartWatchdog(WatchdogMs);
    WriteText(protocol::command::XmodemBootloaderStart);
}

void T_EMFLoader::SecondStageEntry() {
    Port.ChangeV24Parameter(serial::B__9600, serial::S_2, serial::NoParity, false);
    Host.ShowBaudText("9600");
    StopWatchdog();
    Delay.CountdownTime(SecondStageWaitMs, false);
    StartWatchdog(WatchdogMs);
    Mode_ = 0;
    WriteText(protocol::command::XmodemEntrySecondStage);
    WriteText(protocol::command::XmodemKeepBaudLine);
}

void T_EMFLoader::CheckVersion(const char* text) {
    VersionText = text != nullptr ? text : "";
    Version106 = LoaderVersionNumber(VersionText) >= UnlockFromVersion ? 1 : 0;
    VersionText = VersionText.substr(0, VersionText.find(','));
    Host.ShowProgress(ProgressBootloaderVersion,
                      reinterpret_cast<std::intptr_t>(VersionText.c_str()));
    TransferMode = 1;
    SendCommandChar(CmdUpload);
}

bool T_EMFLoader::OnCharsReceived(std::intptr_t) {
    RestartWatchdog();
    if (TransferMode == 0) {
        return false; // the reply parser reads the bootloader's text replies
    }
    XmodemStep();
    return true;
}

void T_EMFLoader::XmodemStep() {
    std::uint8_t batch[ReadChunk + 1];
    if (ReadBytes(batch, ReadChunk) <= 0 || Finished != 0) {
        return;
    }
    // Only the batch's first byte answers a packet; the port notifies again
    // only once all of its input is read.
    std::uint8_t rest[ReadChunk + 1];
    while (ReadBytes(rest, ReadChunk) > 0) {
    }
    if (Finished != 0) {
        return;
    }
    const std::uint8_t first = batch[0];
    const std::uint32_t builtBefore = Sender.PacketsBuilt();
    const std::span<const std::uint8_t> reply = Sender.OnReceived({&first, 1});
    if (!reply.empty() && !WriteBytes(reply.data(), reply.size())) {
        return;
    }
    if (Sender.PacketsBuilt() != builtBefore) {
        Host.ShowProgress(progress::Step, 1);
    }
    if (Sender.GetState() == TXmodemSender::State::Finished) {
        TransferMode = 0;
        SendCommandChar(CmdChecksum);
    }
}

void T_EMFLoader::CheckChecksum(const char* text) {
    std::uint32_t reported = 0;
    const bool readable = ParseImageChecksum(text, reported);
    if (!readable || reported != ImageCrc_) {
        // A restart into an image the bootloader holds differently could
        // leave the instrument without working firmware.
        FailWith(
            Host.Text(ProgrammerText::ChecksumMismatch) +
            (readable ? Hex4(reported) : "\"" + std::string(text != nullptr ? text : "") + "\"") +
            " / " + Hex4(ImageCrc_));
        return;
    }
    Wait(BeforeRestartWaitMs);
    SendCommandChar(CmdRestart);
    Host.ShowProgress(progress::Position, 0);
    Wait(AfterRestartWaitMs);
    Host.ShowProgress(progress::Title, progress::TitleComplete);
    Finished = 1;
}

} // namespace programmers
