#include "programmers/Emf_loadunit.h"

#include "programmers/BslDialogue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace programmers {

namespace {

// In the XMODEM phase it runs from the last packet acknowledged.
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
// What one notification brings in the XMODEM phase is an answer byte, maybe
// after a late text line; far more is noise and is not kept.
constexpr std::size_t MaxAnswerInput = 4 * ReadChunk;
// Enough for a receiver that wants two in a row.
constexpr std::uint8_t CancelUpload[2] = {TXmodemSender::Can, TXmodemSender::Can};
constexpr std::size_t MaxChecksumDigits = 8;
constexpr const char* ErrorCaption = "Error";

constexpr char CmdUpload = 'u';
constexpr char CmdChecksum = 'c';
constexpr char CmdRestart = 'r';

// What the watchdog waited for the answer to, before the upload.
const char* StageCommand(T_EMFLoader::Stage stage) {
    switch (stage) {
    case T_EMFLoader::Stage::Wake:
        return "the wake command";
    case T_EMFLoader::Stage::Entry:
    case T_EMFLoader::Stage::SecondStage:
        return "the entry command";
    case T_EMFLoader::Stage::Version:
        return "the bootloader start";
    case T_EMFLoader::Stage::Checksum:
        return "the checksum query";
    default:
        return "the last command";
    }
}

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

TProgrammerResult T_EMFLoader::Program(const std::string& fileName) {
    Host.SetProgressPosition(0);
    TFailure fileFailure;
    if (!LoadTransferImage(Host, fileName, Image, fileFailure)) {
        return TProgrammerResult::Failed(std::move(fileFailure));
    }
    ImageCrc_ = ImageCrc(Image);
    AppendTrailer(Image);
    Sender.Start(Image.Bytes);
    Host.SetProgressMaximum(static_cast<int>(Image.BlockCount), ProgressUnit::Blocks);
    Host.SetProgressPosition(2);
    Version106 = 0;
    FailureText.clear();

    BeginRun(WatchdogMs);
    Host.ShowTitleState(TitleState::Plain);
    if (Job.LoaderMode != 0) {
        // An earlier upload was cut off: the bootloader waits on the line.
        StartBootloader();
    } else {
        Stage_ = Stage::Wake;
        WriteText(protocol::command::Dialogue);
    }
    PumpUntil();
    Quiet.Stop();

    Host.ShowTitleState(TitleState::Plain);
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
    return RunResult();
}

void T_EMFLoader::ShowFailure() {
    // The watchdog before the upload is the only failure without a text of
    // its own; an empty box would leave the operator guessing.
    if (FailureText.empty() && Failure.Line != platform::SerialResult::Ok) {
        FailureText = Failure.Cause; // the log has it already
    } else if (FailureText.empty()) {
        FailureText = Host.Text(ProgrammerText::NoAnswer);
        Host.ShowLogLine(FailureText);
    }
    Host.Dialogs().MessageBox(FailureText, ErrorCaption, platform::MB_OK | platform::MB_ICONERROR);
}

void T_EMFLoader::FailWith(const std::string& text, std::string cause, std::string detail) {
    FailureText = text;
    Host.ShowLogLine(text);
    Fail(std::move(cause), std::move(detail));
}

std::string T_EMFLoader::PacketUnderWay() const {
    return Sender.GetState() == TXmodemSender::State::EotSent
               ? std::string("EOT")
               : std::to_string(Sender.PacketsBuilt());
}

void T_EMFLoader::FailUpload(ProgrammerText text, const std::string& cause) {
    const std::string packet = PacketUnderWay();
    WriteBytes(CancelUpload, sizeof CancelUpload);
    FailWith(Host.Text(text) + packet, "XMODEM: " + cause + " at packet " + packet);
}

void T_EMFLoader::Abort() {
    if (Stage_ == Stage::Upload && Finished == 0) {
        WriteBytes(CancelUpload, sizeof CancelUpload);
    }
    Fail("aborted");
}

void T_EMFLoader::OnWatchdog() {
    if (Stage_ == Stage::Upload) {
        FailUpload(ProgrammerText::XmodemStalled, Silence("no progress"));
        return;
    }
    Fail(Silence(std::string("XMODEM: no answer to ") + StageCommand(Stage_)));
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
        // Only the wake's: the reply to the entry command may come as an
        // acknowledge too, and must not send the entry again.
        if (Stage_ == Stage::Wake) {
            SendEntry();
        }
        break;
    case protocol::event::CommandReply:
        if (Stage_ == Stage::Entry || Stage_ == Stage::SecondStage) {
            OnEntryReply(text);
        }
        break;
    case protocol::reply::XmodemBootloaderVersion:
        if (Stage_ == Stage::Version) {
            CheckVersion(text);
        }
        break;
    case protocol::reply::XmodemChecksum:
        if (Stage_ == Stage::Checksum) {
            CheckChecksum(text);
        }
        break;
    default:
        break;
    }
}

void T_EMFLoader::SendEntry() {
    if (Mode_ == 1 && Settings.AlternateEntry) {
        Mode_ = 2;
    }
    Stage_ = Stage::Entry;
    RestartWatchdog();
    EntryReply = CommandReplyNumber(protocol::command::XmodemEntry[Mode_]);
    WriteText(protocol::command::XmodemEntry[Mode_]);
    WriteText(Job.KeepBaud[0] == 1 ? protocol::command::XmodemKeepBaudLine
                                   : protocol::command::XmodemFastLine);
    Port.SaveLastV24Parameter();
}

// The wake's acknowledge may come in the "A." form as well; only the line
// that answers the entry command starts the bootloader, once.
void T_EMFLoader::OnEntryReply(const char* line) {
    if (CommandReplyNumber(line) != EntryReply) {
        Host.AddLogLine("not the entry's reply: " + std::string(line != nullptr ? line : ""));
        return;
    }
    if (Stage_ == Stage::Entry && Mode_ > 1) {
        SecondStageEntry();
    } else {
        StartBootloader();
    }
}

void T_EMFLoader::StartBootloader() {
    Stage_ = Stage::Version;
    const serial::BaudTag baud = Job.KeepBaud[0] == 1 ? serial::B__9600 : Settings.Baud;
    Port.ChangeV24Parameter(baud, serial::S_2, serial::NoParity, false);
    Host.ShowBaudText(std::to_string(serial::BaudRateOf(baud)));
    Delay.DelayTime(BootloaderStartWaitMs, false);
    StopWatchdog();
    StartWatchdog(WatchdogMs);
    WriteText(protocol::command::XmodemBootloaderStart);
}

void T_EMFLoader::SecondStageEntry() {
    Stage_ = Stage::SecondStage;
    Port.ChangeV24Parameter(serial::B__9600, serial::S_2, serial::NoParity, false);
    Host.ShowBaudText("9600");
    StopWatchdog();
    Delay.CountdownTime(SecondStageWaitMs, false);
    StartWatchdog(WatchdogMs);
    Mode_ = 0;
    EntryReply = CommandReplyNumber(protocol::command::XmodemEntrySecondStage);
    WriteText(protocol::command::XmodemEntrySecondStage);
    WriteText(protocol::command::XmodemKeepBaudLine);
}

void T_EMFLoader::CheckVersion(const char* text) {
    VersionText = text != nullptr ? text : "";
    Version106 = LoaderVersionNumber(VersionText) >= UnlockFromVersion ? 1 : 0;
    VersionText = VersionText.substr(0, VersionText.find(','));
    Host.ShowLoaderVersion(VersionText);
    Stage_ = Stage::Upload;
    RestartWatchdog();
    // 'u' erases the flash: until a restart the instrument waits in its
    // bootloader, and a retry must go there directly.
    Job.LoaderMode = 1;
    SendCommandChar(CmdUpload);
}

bool T_EMFLoader::OnCharsReceived(std::intptr_t) {
    if (Stage_ != Stage::Upload) {
        // Only a stage's answer restarts the watchdog: an instrument that
        // keeps talking must not hold the entry open for ever.
        return false; // the reply parser reads the bootloader's text replies
    }
    // Only progress restarts the watchdog now: a receiver that answers
    // without taking a packet must not keep the transfer alive.
    XmodemStep(false);
    return true;
}

bool T_EMFLoader::OnTimer(int slot) {
    if (!Quiet.Owns(slot)) {
        return false;
    }
    if (Stage_ == Stage::Upload && Finished == 0) {
        XmodemStep(true);
    } else {
        Quiet.Stop();
    }
    return true;
}

std::uint32_t T_EMFLoader::LineBaud() const {
    return serial::BaudRateOf(Port.GetV24Parameter()->Baudrate);
}

bool T_EMFLoader::ReadReceiver(std::string& input) {
    // The port notifies again only once all of its input is read.
    std::uint8_t chunk[ReadChunk + 1];
    for (int got = ReadBytes(chunk, ReadChunk); got > 0; got = ReadBytes(chunk, ReadChunk)) {
        if (input.size() < MaxAnswerInput) {
            input.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(got));
        }
    }
    return Finished == 0;
}

void T_EMFLoader::XmodemStep(bool silenceExpired) {
    std::string input;
    if (!ReadReceiver(input)) {
        Quiet.Stop();
        return;
    }
    if (input.empty() && !silenceExpired) {
        return;
    }
    const std::uint32_t builtBefore = Sender.PacketsBuilt();
    const std::uint32_t acknowledgedBefore = Sender.Acknowledged();
    // Bytes already here, their notification still queued, come before the silence.
    const std::span<const std::uint8_t> bytes{reinterpret_cast<const std::uint8_t*>(input.data()),
                                              input.size()};
    AnswerReceiver(silenceExpired ? Quiet.Expired(Sender, bytes, LineBaud())
                                  : Quiet.Received(Sender, bytes, LineBaud()));
    if (Finished != 0) {
        return;
    }
    if (Sender.Acknowledged() != acknowledgedBefore) {
        RestartWatchdog();
    }
    if (Sender.PacketsBuilt() != builtBefore) {
        Host.AdvanceProgress(static_cast<int>(Sender.PacketsBuilt() - builtBefore));
    }
    if (Sender.GetState() == TXmodemSender::State::Finished) {
        Stage_ = Stage::Checksum;
        SendCommandChar(CmdChecksum);
    }
}

// Writes the sender's reply, or ends the upload the sender gave up on.
void T_EMFLoader::AnswerReceiver(std::span<const std::uint8_t> reply) {
    switch (Sender.GetFailure()) {
    case TXmodemSender::Failure::Refused:
        FailUpload(ProgrammerText::XmodemRefused, "the receiver refused the packet");
        return;
    case TXmodemSender::Failure::Restarted:
        FailUpload(ProgrammerText::XmodemRestarted, "the receiver started over");
        return;
    case TXmodemSender::Failure::Cancelled:
        FailWith(Host.Text(ProgrammerText::XmodemCancelled) + PacketUnderWay(),
                 "XMODEM: the receiver cancelled at packet " + PacketUnderWay());
        return;
    case TXmodemSender::Failure::None:
        break;
    }
    if (!reply.empty()) {
        WriteBytes(reply.data(), reply.size());
    }
}

void T_EMFLoader::CheckChecksum(const char* text) {
    std::uint32_t reported = 0;
    const bool readable = ParseImageChecksum(text, reported);
    if (!readable || reported != ImageCrc_) {
        // A restart into an image the bootloader holds differently could
        // leave the instrument without working firmware.
        const std::string line = text != nullptr ? text : "";
        const std::string found = readable ? Hex4(reported) : "\"" + line + "\"";
        FailWith(Host.Text(ProgrammerText::ChecksumMismatch) + found + " / " + Hex4(ImageCrc_),
                 "XMODEM: the bootloader's checksum " + found + " is not the image's " +
                     Hex4(ImageCrc_),
                 line);
        return;
    }
    Stage_ = Stage::Done;
    Wait(BeforeRestartWaitMs);
    if (Finished != 0 || !SendCommandChar(CmdRestart)) {
        return;
    }
    Job.LoaderMode = 0;
    Host.SetProgressPosition(0);
    Host.ShowTitleState(TitleState::Complete);
    // From here the restarted firmware speaks to the session.
    Succeed();
    Wait(AfterRestartWaitMs);
}

} // namespace programmers
