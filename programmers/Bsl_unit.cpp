#include "programmers/Bsl_unit.h"

#include "platform/Files.h"
#include "serial/V24Parameter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

namespace programmers {

namespace {

// ---- The ROM bootstrap loader as this programmer speaks it ----------------

// Commands (frame header and the synchronisation share 0x80).
constexpr std::uint8_t CmdSync = 0x80;
constexpr std::uint8_t CmdRxPassword = 0x10;
constexpr std::uint8_t CmdRxData = 0x12;
constexpr std::uint8_t CmdTxData = 0x14;
constexpr std::uint8_t CmdEraseSegment = 0x16;
constexpr std::uint8_t CmdLoadPc = 0x1A;
constexpr std::uint8_t CmdTxVersion = 0x1E;
constexpr std::uint8_t CmdChangeBaud = 0x20;
constexpr std::uint8_t CmdSetOffset = 0x21;
constexpr std::uint8_t Filler = 'X';
constexpr std::uint8_t EraseSegmentMode[2] = {0x02, 0xA5};
constexpr std::array<std::uint8_t, 4> VersionBlock = {0xF0, 0x0F, 0x0E, 0x00}; // 14 bytes at 0x0FF0
constexpr std::array<std::uint8_t, 4> BaudArgs = {0x00, 0xC8, 0x02, Filler};
constexpr std::array<std::uint8_t, 4> BaudArgsF2xx = {0x80, 0x8C, 0x02, Filler};
constexpr std::uint8_t PatchPrepareLow = 0x22; // load PC 0x0C22 before the patch goes in
constexpr std::uint8_t PatchPrepareHigh = 0x0C;
constexpr std::size_t PasswordSize = 32;

// Replies.
constexpr std::uint8_t ReplyAck = 0x90;
constexpr std::uint8_t ReplyNak = 0xA0;
constexpr std::uint8_t ReplyNakAlt = 0x70;
constexpr std::uint8_t ReplyFrame = 0x80;
constexpr std::size_t FrameHead = 4;         // 0x80, command, L1, L2
constexpr std::size_t FrameOverhead = 6;     // head and checksum
constexpr std::size_t VersionFrameSize = 16; // through the loader version bytes
constexpr std::size_t ChipIdHigh = 4, ChipIdLow = 5, VersionMajor = 14, VersionMinor = 15;

// Error steps (the message box tells step 0 from all others).
constexpr std::int32_t StepNotAvailable = 0;
constexpr std::int32_t StepSync = 1;
constexpr std::int32_t StepVersionNo = 2;
constexpr std::int32_t StepBaudNo = 3;
constexpr std::int32_t StepPasswordNo = 4;
constexpr std::int32_t StepEraseMain = 5;
constexpr std::int32_t StepEraseTop = 6;
constexpr std::int32_t StepWrite = 8;
constexpr std::int32_t StepVerifyNo = 9;
constexpr std::int32_t StepStartNo = 10;
constexpr std::int32_t StepPatchPrepare = 11;
constexpr std::int32_t StepPatchRun = 12;
constexpr std::int32_t StepPatchWrite = 13;
constexpr std::int32_t StepPatchVerify = 14;
constexpr std::int32_t StepOffsetNo = 15;
constexpr std::int32_t StepLast = 16;

// Time-outs and pauses (ms).
constexpr std::uint32_t WatchdogRunMs = 15000;
constexpr std::uint32_t WatchdogLoaderMs = 5000;
constexpr long DialogueWaitMs = 1000;
constexpr long LoaderEntryWaitMs = 8000;
constexpr long BaudSwitchWaitMs = 1000;
constexpr long StartWaitMs = 1000;
constexpr long EndWaitMs = 2000;
constexpr long NudgeIntervalMs = 1000;
constexpr int NudgeCount = 7;

// Flash layout.
constexpr std::int32_t DefaultEraseStart = 0xFC00;
constexpr std::int32_t SegmentSize = 512;
constexpr std::int32_t EraseEnd = 0x0E80;
constexpr std::int32_t InfoSegment = 0x1080;
constexpr std::int32_t RetryEraseAbove = 0x11FF;
constexpr std::int32_t TopSegmentEnd = 0xFDFF;
constexpr std::int32_t TopSegment = 0xFFFF;
constexpr std::int32_t HighBase = 0x10000;

// Chips and instruments with their own rules.
constexpr std::uint32_t ChipF237 = 0xF237;
constexpr std::uint32_t ChipF26F = 0xF26F;
constexpr std::uint32_t ChipF135 = 0xF135;
constexpr const char* ModelSecondVector = "41245";

// Progress: the fixed part and the patch's share.
constexpr std::int32_t ProgressFixed = 8;
constexpr std::int32_t ProgressPatch = 258;

constexpr const char* PatchFileName = "Patch.TXT";
constexpr std::size_t ReadChunk = 1000;

// ---------------------------------------------------------------------------

std::int32_t VariantRow(std::int32_t variant) {
    return std::clamp(variant, 0, 2);
}

std::string HexText(unsigned value) {
    char text[12];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// "1.60" read as a decimal number times 1000.01, truncated.
std::int32_t VersionNumber(const std::string& text) {
    double value = 0;
    std::size_t pos = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10 + (text[pos] - '0');
    }
    if (pos < text.size() && text[pos] == '.') {
        double scale = 0.1;
        for (++pos; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
            value += (text[pos] - '0') * scale;
            scale /= 10;
        }
    }
    return static_cast<std::int32_t>(value * 1000.01);
}

// The hexadecimal number at the start of a reply text; at most 64 characters
// are looked at.
bool ParseVector(const char* text, std::uint32_t& value) {
    if (text == nullptr) {
        return false;
    }
    std::size_t pos = 0;
    while (pos < 64 && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
    }
    if (text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        pos += 2;
    }
    bool any = false;
    value = 0;
    for (; pos < 64; ++pos) {
        const char c = text[pos];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                           : -1;
        if (digit < 0) {
            break;
        }
        value = (value << 4 | static_cast<unsigned>(digit)) & 0xFFFFFFFFu;
        any = true;
    }
    return any;
}

std::size_t DataCount(const TTiTxtRecord& record) {
    return record.Length > TiTxtHeaderSize ? record.Length - TiTxtHeaderSize : 0;
}

} // namespace

std::uint16_t BslChecksum(const std::uint8_t* bytes, std::size_t count) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < count; i += 2) {
        const std::uint16_t high = i + 1 < count ? bytes[i + 1] : 0;
        sum ^= static_cast<std::uint16_t>(bytes[i] | high << 8);
    }
    return static_cast<std::uint16_t>(sum ^ 0xFFFF);
}

T_BSL430::T_BSL430(const TProgrammerContext& context, const TBslSettings& settings)
    : TProgrammerTyp(context), Settings(settings), Image(std::make_unique<TTiTxtTable>()),
      Patch(std::make_unique<TTiTxtPatchTable>()) {}

const char* T_BSL430::PasswordQuery(std::int32_t variant) {
    return protocol::command::PasswordQuery[VariantRow(variant)];
}

const char* T_BSL430::LoaderEntry(std::int32_t variant) {
    return protocol::command::LoaderEntry[VariantRow(variant)];
}

// ---- Blocking run ----------------------------------------------------------

bool T_BSL430::Program(const std::string& fileName) {
    Variant = Job.Variant;
    QueryFirst = Settings.QueryFirst ? 1 : 0;
    Host.ShowProgress(0, 0);
    LoadConfig();
    // A file that cannot be used stops here, before the instrument is touched.
    if (!LoadImage(fileName)) {
        return false;
    }
    ProgressTotal = ProgressFixed + 4 * LastRecord + 4;
    Host.ShowProgress(2, ProgressTotal);

    BeginRun(WatchdogRunMs);
    Host.ShowProgress(10, -1);
    if (Settings.LoaderMode) {
        if (Job.PasswordKnown != 0) {
            ResetVector_ = Job.ResetVector & 0xFFFF;
            PasswordKnown = 1;
        } else {
            ResetVector_ = DefaultVectorForLoaderMode();
        }
        EnterLoader(Settings.SyncFirst ? 1 : 0);
    } else {
        SendText(protocol::command::Dialogue);
    }
    PumpUntil();

    Host.ShowProgress(10, -1);
    if (!Settings.Set9600After || Failed != 0 || Job.NoPortChange != 0) {
        Port.LoadLastV24Parameter();
        Host.ShowBaudText(std::to_string(serial::BaudRateOf(Port.GetV24Parameter()->Baudrate)));
    } else {
        Host.ShowBaudText("9600");
        Port.ChangeV24Parameter(serial::B__9600, serial::S_2, serial::NoParity, true);
    }
    EndRun(EndWaitMs);
    if (Failed != 0 && !FileErrorShown) {
        ShowError();
    }
    return Failed == 0;
}

void T_BSL430::ShowError() {
    if (CurrentStep >= StepLast) {
        CurrentStep = StepLast;
    }
    Host.Dialogs().MessageBox(Host.BootErrorText(CurrentStep), "Error",
                              platform::MB_OK | platform::MB_ICONERROR);
    LastErrorStep = CurrentStep;
}

bool T_BSL430::SendText(const char* text) {
    return WriteText(text);
}

void T_BSL430::LoadConfig() {
    Config = LoadBsl430Config(platform::JoinPath(Host.ProgramFolder(), Bsl430ConfigName));
    if (!Config.Note.empty()) {
        Host.AddLogLine(Config.Note);
    }
}

bool T_BSL430::ReadFileText(const std::string& path, std::string& content) {
    if (platform::ReadWholeFile(path, content)) {
        return true;
    }
    ShowFileError(path, Host.Language() == 0 ? "Die Datei kann nicht gelesen werden."
                                             : "The file cannot be read.");
    return false;
}

void T_BSL430::ShowFileError(const std::string& path, const std::string& reason) {
    const bool german = Host.Language() == 0;
    const std::string text =
        (german ? "Firmware-Datei \"" : "Firmware file \"") + path + "\":\r\n" + reason +
        (german ? "\r\nProgrammierung wurde abgebrochen." : "\r\nProgramming abort.");
    Host.ShowLogLine(text);
    Host.Dialogs().MessageBox(text, german ? "Fehler" : "Error",
                              platform::MB_OK | platform::MB_ICONERROR);
    FileErrorShown = true;
}

bool T_BSL430::LoadImage(const std::string& path) {
    std::string content;
    if (!ReadFileText(path, content)) {
        return false;
    }
    const TTiTxtResult result = ReadTiTxt(content.data(), content.size(), std::span(*Image));
    if (!result.Ok()) {
        ShowFileError(path, TiTxtErrorText(result));
        return false;
    }
    LastRecord = result.LastRecord;
    FirstHighRecord = result.FirstHighRecord;
    return true;
}

bool T_BSL430::LoadPatch() {
    const std::string path = platform::JoinPath(Host.ProgramFolder(), PatchFileName);
    std::string content;
    if (!ReadFileText(path, content)) {
        return false;
    }
    const TTiTxtResult result = ReadTiTxt(content.data(), content.size(), std::span(*Patch));
    if (!result.Ok()) {
        ShowFileError(path, TiTxtErrorText(result));
        return false;
    }
    LastPatch = result.LastRecord;
    ProgressTotal = ProgressFixed + 8 * LastRecord + 4 * LastPatch + ProgressPatch;
    Host.ShowProgress(2, ProgressTotal);
    return true;
}

std::uint16_t T_BSL430::DefaultVectorForLoaderMode() const {
    const bool second = HasHighRecords() ||
                        Job.DeviceName.find(ModelSecondVector) != std::string::npos ||
                        Job.ProzTyp == ChipF237 || Job.ProzTyp == ChipF26F;
    return Config.ResetVector[second ? 1 : 0];
}

std::uint16_t T_BSL430::DefaultVectorForDialogue() const {
    if (HasHighRecords() || Job.ProzTyp == ChipF237) {
        return Config.ResetVector[1];
    }
    return Config.ResetVector[Job.ProzTyp == ChipF135 ? 2 : 0];
}

// ---- Events ----------------------------------------------------------------

void T_BSL430::Abort() {
    Failed = 1;
    Finished = 1;
}

bool T_BSL430::TakesReply(std::int32_t id) const {
    return TProgrammerTyp::TakesReply(id) || id == protocol::reply::Password ||
           id == protocol::reply::PasswordAlt;
}

void T_BSL430::OnReply(std::int32_t id, std::intptr_t data) {
    switch (id) {
    case protocol::event::Acknowledge:
        if (InLoader == 0) {
            OnAcknowledge();
        }
        break;
    case protocol::reply::Password:
    case protocol::reply::PasswordAlt:
        if (InLoader == 0) {
            OnPassword(data);
        }
        break;
    case protocol::event::CommandReply:
        if (PasswordKnown != 0 && InLoader == 0) {
            EnterLoader(1);
        }
        break;
    case protocol::event::Rejected:
        CurrentStep = StepNotAvailable;
        Fail();
        break;
    default:
        break;
    }
}

void T_BSL430::OnAcknowledge() {
    if (AckBusy || Finished != 0) {
        return;
    }
    AckBusy = true;
    if (Job.ImagePerChip != 0) {
        Variant = 2;
        QueryFirst = 0;
    }
    Wait(DialogueWaitMs);
    AckBusy = false;
    if (Finished != 0 || InLoader != 0) {
        return;
    }
    if (QueryFirst != 0) {
        SendText(PasswordQuery(Variant));
        return;
    }
    ResetVector_ = DefaultVectorForDialogue();
    AcceptPassword();
}

void T_BSL430::OnPassword(std::intptr_t data) {
    std::uint32_t value = 0;
    if (ParseVector(reinterpret_cast<const char*>(data), value)) {
        ResetVector_ = value & 0xFFFF;
    } else {
        Host.AddLogLine("password reply without a number: reset vector " + HexText(ResetVector_));
    }
    AcceptPassword();
}

void T_BSL430::AcceptPassword() {
    PasswordKnown = 1;
    Job.ResetVector = ResetVector_;
    Job.PasswordKnown = 1;
    SendText(LoaderEntry(Variant));
}

void T_BSL430::EnterLoader(int mode) {
    if (InLoader != 0) {
        return;
    }
    InLoader = 1;
    StopWatchdog();
    if (Job.NoPortChange == 0) {
        Host.ShowBaudText("9600");
        Port.ChangeV24Parameter(serial::B__9600, serial::S_1, serial::Even, false);
        Port.ChangeHandShake(serial::NoHandshake);
    }
    Wait(LoaderEntryWaitMs);
    if (Finished != 0) {
        return;
    }
    Port.ClearBuffer(PurgeTxClear | PurgeRxClear);
    ReceivedCount = 0;
    StartWatchdog(WatchdogLoaderMs);
    if (mode == 1) {
        Sync(&T_BSL430::StepVersion);
    } else {
        StepVersion();
    }
}

bool T_BSL430::OnCharsReceived(std::intptr_t) {
    RestartWatchdog();
    if (InLoader == 0) {
        return false;
    }
    for (;;) {
        const std::size_t space = Received.size() - ReceivedCount;
        if (space < 2) {
            ReceivedCount = 0; // cannot happen: a pass leaves one partial frame at most
            continue;
        }
        const int got = Port.Read(reinterpret_cast<char*>(Received.data() + ReceivedCount),
                                  static_cast<unsigned long>(std::min(ReadChunk, space - 1)));
        if (got <= 0) {
            break;
        }
        ReceivedCount += static_cast<std::size_t>(got);
        if (Nudging) {
            ReceivedCount = 0;
            continue;
        }
        ParseReceived();
    }
    return true;
}

// Everything in front of a frame start is a reply byte or noise and goes;
// a frame goes whole once it is complete. Only one reply is ever
// outstanding, so of several reply bytes the last one counts.
void T_BSL430::ParseReceived() {
    while (ReceivedCount > 0 && InLoader != 0) {
        const auto begin = Received.begin();
        const auto end = begin + static_cast<std::ptrdiff_t>(ReceivedCount);
        const auto start = static_cast<std::size_t>(std::find(begin, end, ReplyFrame) - begin);
        std::uint8_t reply = 0;
        for (std::size_t i = 0; i < start; ++i) {
            const std::uint8_t byte = Received[i];
            if (byte == ReplyAck || byte == ReplyNak || byte == ReplyNakAlt) {
                reply = byte;
            }
        }
        std::size_t drop = start;
        bool frameGood = false;
        TBslFrame frame;
        if (ReceivedCount - start >= FrameHead) {
            const std::size_t l1 = Received[start + 2];
            if (Received[start + 3] != l1) {
                drop = start + 1; // a stray 0x80, not a frame
            } else if (ReceivedCount - start >= l1 + FrameOverhead) {
                frame.Size = l1 + FrameOverhead;
                std::copy_n(begin + static_cast<std::ptrdiff_t>(start), frame.Size,
                            frame.Bytes.begin());
                drop = start + frame.Size;
                const std::uint16_t sum = BslChecksum(frame.Bytes.data(), l1 + FrameHead);
                frameGood = frame.Bytes[l1 + 4] == (sum & 0xFF) && frame.Bytes[l1 + 5] == sum >> 8;
            }
        }
        if (drop == 0) {
            return; // a frame is still coming
        }
        std::copy(begin + static_cast<std::ptrdiff_t>(drop), end, begin);
        ReceivedCount -= drop;

        if (frameGood) {
            Host.ShowProgress(3, 1);
            if (OnFrame != nullptr) {
                (this->*OnFrame)(frame);
            }
        } else if (reply == ReplyAck) {
            Host.ShowProgress(3, 1);
            if (OnAck != nullptr) {
                (this->*OnAck)();
            }
        } else if (reply != 0) {
            Host.ShowProgress(3, 1);
            RunRetry();
        }
    }
}

void T_BSL430::RunRetry() {
    const Step retry = OnRetry;
    if (retry == nullptr || !RetryHistory.Admit(retry)) {
        Fail();
        return;
    }
    if (retry == &T_BSL430::EraseNext) {
        EraseNext();
    } else {
        Sync(retry);
    }
}

void T_BSL430::OnWatchdog() {
    if (Job.StartMode == 2) {
        StopWatchdog();
        Nudging = true;
        const std::uint8_t sync = CmdSync;
        for (int i = 0; i < NudgeCount && Finished == 0; ++i) {
            WriteBytes(&sync, 1);
            Wait(NudgeIntervalMs);
        }
        Nudging = false;
        ReceivedCount = 0;
    }
    if (Finished != 0) {
        return;
    }
    if (InLoader == 0) {
        Fail();
        return;
    }
    if (OnRetry == nullptr || !RetryHistory.Admit(OnRetry)) {
        Fail();
        return;
    }
    // A lost acknowledge repeats the step it would have started; a lost
    // data frame has no acknowledge step, so its own step is sent again.
    const Step next = OnAck != nullptr ? OnAck : OnRetry;
    if (next == &T_BSL430::EraseNext) {
        EraseNext();
    } else {
        Sync(next);
    }
    if (Finished == 0) {
        StopWatchdog();
        StartWatchdog(WatchdogLoaderMs);
    }
}

// ---- Frames ----------------------------------------------------------------

void T_BSL430::Arm(std::int32_t step, Step onAck, FrameStep onFrame, Step onRetry) {
    CurrentStep = step;
    OnAck = onAck;
    OnFrame = onFrame;
    OnRetry = onRetry;
}

void T_BSL430::SendSync() {
    const std::uint8_t sync = CmdSync;
    WriteBytes(&sync, 1);
}

void T_BSL430::SendFrame(std::uint8_t command, const std::array<std::uint8_t, 4>& head,
                         const std::uint8_t* data, std::size_t count) {
    std::array<std::uint8_t, TBslFrame::MaxSize> frame{};
    count = std::min(count, TiTxtDataSize);
    const auto l1 = static_cast<std::uint8_t>(head.size() + count);
    frame[0] = ReplyFrame;
    frame[1] = command;
    frame[2] = l1;
    frame[3] = l1;
    std::copy(head.begin(), head.end(), frame.begin() + FrameHead);
    if (count > 0) {
        std::copy_n(data, count, frame.begin() + FrameHead + head.size());
    }
    const std::uint16_t sum = BslChecksum(frame.data(), FrameHead + l1);
    frame[FrameHead + l1] = static_cast<std::uint8_t>(sum & 0xFF);
    frame[FrameHead + l1 + 1] = static_cast<std::uint8_t>(sum >> 8);
    WriteBytes(frame.data(), FrameHead + l1 + 2);
}

void T_BSL430::SendWrite(const TTiTxtRecord& record) {
    const std::size_t count = DataCount(record);
    SendFrame(CmdRxData,
              {static_cast<std::uint8_t>(record.Address & 0xFF),
               static_cast<std::uint8_t>(record.Address >> 8),
               static_cast<std::uint8_t>(count & 0xFF), static_cast<std::uint8_t>(count >> 8)},
              record.Data, count);
}

void T_BSL430::SendRead(const TTiTxtRecord& record) {
    SendFrame(CmdTxData, {static_cast<std::uint8_t>(record.Address & 0xFF),
                          static_cast<std::uint8_t>(record.Address >> 8),
                          static_cast<std::uint8_t>(DataCount(record) & 0xFF), 0});
}

void T_BSL430::SendLoadPc(std::uint8_t low, std::uint8_t high) {
    SendFrame(CmdLoadPc, {low, high, Filler, Filler});
}

void T_BSL430::SendPassword() {
    std::array<std::uint8_t, PasswordSize> password;
    password.fill(0xFF);
    password[PasswordSize - 2] = static_cast<std::uint8_t>(ResetVector_ & 0xFF);
    password[PasswordSize - 1] = static_cast<std::uint8_t>(ResetVector_ >> 8 & 0xFF);
    SendFrame(CmdRxPassword, {0xFF, 0xFF, 0xFF, 0xFF}, password.data(), password.size());
}

// ---- Conversation ----------------------------------------------------------

void T_BSL430::Sync(Step next) {
    Arm(StepSync, next, nullptr, next);
    SendSync();
}

void T_BSL430::DetourSync(Step next) {
    if (PatchLoaded == 0) {
        Sync(next);
        return;
    }
    DetourNext = next;
    Sync(&T_BSL430::DetourRun);
}

void T_BSL430::StepVersion() {
    Arm(StepVersionNo, nullptr, &T_BSL430::VersionReply, &T_BSL430::StepVersionFallback);
    SendFrame(CmdTxVersion, {Filler, Filler, Filler, Filler});
}

void T_BSL430::StepVersionFallback() {
    if (PasswordAccepted == 0) {
        StepPassword();
        return;
    }
    Arm(StepVersionNo, nullptr, &T_BSL430::VersionReply, &T_BSL430::StepVersionFallback);
    SendFrame(CmdTxData, VersionBlock);
}

void T_BSL430::VersionReply(const TBslFrame& frame) {
    if (frame.Size < VersionFrameSize) {
        return; // too short to say anything; the watchdog asks again
    }
    VersionKnown = 1;
    ChipId_ = static_cast<std::uint32_t>(frame.Bytes[ChipIdHigh] << 8 | frame.Bytes[ChipIdLow]);
    BslVersionText_ = HexText(frame.Bytes[VersionMajor]) + "." + HexText(frame.Bytes[VersionMinor]);
    BslVersion_ = VersionNumber(BslVersionText_);
    Host.AddLogLine("BSL " + BslVersionText_ + ", chip " + HexText(ChipId_));
    if (Job.ImagePerChip != 0) {
        LoadChipImage();
        if (Finished != 0) {
            return;
        }
    }
    Sync(&T_BSL430::StepPassword);
}

void T_BSL430::LoadChipImage() {
    std::string name = Host.FindDefFile(ChipId_);
    const bool tiTxt =
        name.find(".txt") != std::string::npos || name.find(".TXT") != std::string::npos;
    if (name.size() <= 4 || !tiTxt) {
        return;
    }
    if (name.back() == '@') {
        name.pop_back();
        Job.KeepBaud[1] = 1;
    }
    const std::string path =
        name.front() == '/' ? name : platform::JoinPath(Host.ProgramFolder(), name);
    if (!LoadImage(path)) {
        Fail(); // the table is cleared: there is no image left to write
        return;
    }
    ProgressTotal = ProgressFixed + 4 * LastRecord + 4;
    Host.ShowProgress(2, ProgressTotal);
    const auto& chips = Config.ChipImageVector1;
    if (std::find(chips.begin(), chips.end(), ChipId_) != chips.end()) {
        ResetVector_ = Config.ResetVector[0];
    }
}

void T_BSL430::StepPassword() {
    Arm(StepPasswordNo, &T_BSL430::AfterPassword, nullptr, &T_BSL430::StepPassword);
    SendPassword();
}

void T_BSL430::AfterPassword() {
    PasswordAccepted = 1;
    if (VersionKnown == 0) {
        Sync(&T_BSL430::StepVersion);
    } else {
        PrepareErase();
    }
}

void T_BSL430::PrepareErase() {
    const auto image = static_cast<std::size_t>(std::clamp(Variant, 0, 1));
    EraseAddr = Job.EraseStart[image] > 0 ? static_cast<std::int32_t>(Job.EraseStart[image])
                                          : DefaultEraseStart;
    const std::int32_t lowest = (*Image)[1].Address;
    ProgressTotal += std::max(0, (EraseAddr - lowest) / SegmentSize * 2 + 4);
    Host.ShowProgress(2, ProgressTotal);
    if (BslVersion_ == 1100) {
        if (!LoadPatch()) {
            Fail();
            return;
        }
        Sync(&T_BSL430::PatchPrepare);
    } else if (BslVersion_ < 1600 || Job.KeepBaud[image] != 0) {
        Sync(&T_BSL430::StepErase);
    } else {
        Sync(&T_BSL430::StepBaud);
    }
}

void T_BSL430::StepBaud() {
    Arm(StepBaudNo, &T_BSL430::BaudSwitch, nullptr, &T_BSL430::StepBaud);
    SendFrame(CmdChangeBaud, ChipId_ == ChipF237 || ChipId_ == ChipF26F ? BaudArgsF2xx : BaudArgs);
}

void T_BSL430::BaudSwitch() {
    Wait(BaudSwitchWaitMs);
    if (Finished != 0) {
        return;
    }
    Port.ChangeV24Parameter(serial::B_38400, serial::S_1, serial::Even, false);
    Host.ShowBaudText("38400");
    Wait(BaudSwitchWaitMs);
    if (Finished == 0) {
        Sync(&T_BSL430::StepErase);
    }
}

void T_BSL430::SetOffset(std::uint8_t wanted, Step next) {
    OffsetWanted = wanted;
    OffsetNext = next;
    StepOffset();
}

void T_BSL430::StepOffset() {
    Arm(StepOffsetNo, &T_BSL430::OffsetDone, nullptr, &T_BSL430::StepOffset);
    SendFrame(CmdSetOffset, {0, 0, OffsetWanted, Filler});
}

void T_BSL430::OffsetDone() {
    OffsetActive = OffsetWanted;
    Sync(OffsetNext);
}

void T_BSL430::StepErase() {
    if (EraseAddr >= HighBase && OffsetActive == 0) {
        SetOffset(1, &T_BSL430::StepErase);
        return;
    }
    if (EraseAddr < HighBase && OffsetActive != 0) {
        EraseAddr -= SegmentSize; // the highest segment below 0x10000 is left alone
        SetOffset(0, &T_BSL430::StepErase);
        return;
    }
    const auto address = static_cast<std::uint32_t>(EraseAddr - (OffsetActive != 0 ? HighBase : 0));
    // A refused erase low in flash is not worth another try.
    Arm(StepEraseMain, &T_BSL430::EraseNext, nullptr,
        EraseAddr > RetryEraseAbove ? &T_BSL430::StepErase : &T_BSL430::EraseNext);
    SendFrame(CmdEraseSegment,
              {static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8),
               EraseSegmentMode[0], EraseSegmentMode[1]});
}

void T_BSL430::EraseNext() {
    EraseAddr -= SegmentSize;
    if (EraseAddr <= EraseEnd) {
        RecordIndex = 0;
        Sync(&T_BSL430::StepProgram);
        return;
    }
    const std::int32_t lowest = (*Image)[1].Address;
    if (EraseAddr == lowest - 256) {
        EraseAddr = lowest;
    } else if (EraseAddr < lowest) {
        EraseAddr = InfoSegment;
    }
    Sync(&T_BSL430::StepErase);
}

void T_BSL430::EraseTop() {
    EraseAddr = TopSegment;
    Arm(StepEraseTop, &T_BSL430::AfterTopErase, nullptr, &T_BSL430::EraseTop);
    SendFrame(CmdEraseSegment, {0xFF, 0xFF, EraseSegmentMode[0], EraseSegmentMode[1]});
}

void T_BSL430::AfterTopErase() {
    TopErased = 1;
    if (IsEmptyRecord((*Image)[static_cast<std::size_t>(RecordIndex)])) {
        ProgramNext(); // past the marker
    } else {
        DetourSync(&T_BSL430::StepProgram);
    }
}

bool T_BSL430::WalkRecord(Step again, bool programming) {
    const TTiTxtRecord& record = (*Image)[static_cast<std::size_t>(RecordIndex)];
    if (DataCount(record) == 0) {
        if (HasHighRecords() && OffsetActive != 0) {
            SetOffset(0, again);
        } else if (HasHighRecords() && programming && TopErased == 0) {
            EraseTop();
        } else if (RecordIndex < LastRecord) {
            ++RecordIndex; // past the marker; the loader is synchronised already
            (this->*again)();
        } else {
            RecordIndex = 0;
            programming ? StepVerify() : StepStart();
        }
        return false;
    }
    if (!HasHighRecords()) {
        if (programming && TopErased == 0 &&
            record.Address + static_cast<std::int32_t>(DataCount(record)) > TopSegmentEnd) {
            EraseTop();
            return false;
        }
    } else if (RecordIndex == FirstHighRecord && OffsetActive == 0) {
        SetOffset(1, again);
        return false;
    }
    return true;
}

void T_BSL430::StepProgram() {
    if (!WalkRecord(&T_BSL430::StepProgram, true)) {
        return;
    }
    Arm(StepWrite, &T_BSL430::ProgramNext, nullptr, &T_BSL430::StepProgram);
    SendWrite((*Image)[static_cast<std::size_t>(RecordIndex)]);
}

void T_BSL430::ProgramNext() {
    if (RecordIndex < LastRecord) {
        ++RecordIndex;
        DetourSync(&T_BSL430::StepProgram);
    } else {
        RecordIndex = 0;
        DetourSync(&T_BSL430::StepVerify);
    }
}

void T_BSL430::StepVerify() {
    if (!WalkRecord(&T_BSL430::StepVerify, false)) {
        return;
    }
    Arm(StepVerifyNo, nullptr, &T_BSL430::VerifyCompare, &T_BSL430::StepVerify);
    SendRead((*Image)[static_cast<std::size_t>(RecordIndex)]);
}

void T_BSL430::VerifyCompare(const TBslFrame& frame) {
    if (!SameData((*Image)[static_cast<std::size_t>(RecordIndex)], frame, "verify")) {
        Fail();
        return;
    }
    VerifyNext();
}

void T_BSL430::VerifyNext() {
    if (RecordIndex < LastRecord) {
        ++RecordIndex;
        DetourSync(&T_BSL430::StepVerify);
    } else {
        RecordIndex = 0;
        Sync(&T_BSL430::StepStart);
    }
}

bool T_BSL430::SameData(const TTiTxtRecord& record, const TBslFrame& frame, const char* what) {
    const std::size_t count = DataCount(record);
    std::size_t at = 0;
    if (frame.DataCount() == count) {
        at = static_cast<std::size_t>(
            std::mismatch(record.Data, record.Data + count, frame.Data()).first - record.Data);
        if (at == count) {
            return true;
        }
    }
    const bool german = Host.Language() == 0;
    const std::string address = HexText(record.Address + static_cast<unsigned>(at));
    Host.ShowLogLine(std::string(what) + (german ? ": Abweichung bei 0x" : ": difference at 0x") +
                     address);
    return false;
}

void T_BSL430::StepStart() {
    Wait(StartWaitMs);
    if (Finished != 0) {
        return;
    }
    // The start word sits four bytes before the end of the last record that
    // holds one; the empty marker may stand last.
    for (std::int32_t i = LastRecord; i >= 0; --i) {
        const TTiTxtRecord& record = (*Image)[static_cast<std::size_t>(i)];
        const std::size_t count = DataCount(record);
        if (count >= 4) {
            Arm(StepStartNo, &T_BSL430::StepFinish, nullptr, &T_BSL430::StepStart);
            SendLoadPc(record.Data[count - 4], record.Data[count - 3]);
            return;
        }
    }
    CurrentStep = StepStartNo;
    Fail();
}

void T_BSL430::StepFinish() {
    InLoader = 0;
    StopWatchdog();
    Host.ShowProgress(10, 100);
    Finished = 1;
}

// ---- Patch for loader 1.10 -------------------------------------------------

void T_BSL430::PatchPrepare() {
    Arm(StepPatchPrepare, &T_BSL430::PatchToPassword, nullptr, &T_BSL430::PatchPrepare);
    SendLoadPc(PatchPrepareLow, PatchPrepareHigh);
}

void T_BSL430::PatchToPassword() {
    Sync(&T_BSL430::PatchPassword);
}

void T_BSL430::PatchPassword() {
    Arm(StepPasswordNo, &T_BSL430::PatchWriteStart, nullptr, &T_BSL430::PatchPassword);
    SendPassword();
}

void T_BSL430::PatchWriteStart() {
    PatchIndex = 0;
    Sync(&T_BSL430::PatchWrite);
}

void T_BSL430::PatchWrite() {
    const TTiTxtRecord& record = (*Patch)[static_cast<std::size_t>(PatchIndex)];
    if (DataCount(record) == 0) {
        PatchWriteNext();
        return;
    }
    Arm(StepPatchWrite, &T_BSL430::PatchWriteNext, nullptr, &T_BSL430::PatchWrite);
    SendWrite(record);
}

void T_BSL430::PatchWriteNext() {
    if (PatchIndex < LastPatch) {
        ++PatchIndex;
        Sync(&T_BSL430::PatchWrite);
    } else {
        PatchIndex = 0;
        Sync(&T_BSL430::PatchVerify);
    }
}

void T_BSL430::PatchVerify() {
    const TTiTxtRecord& record = (*Patch)[static_cast<std::size_t>(PatchIndex)];
    if (DataCount(record) == 0) {
        PatchVerifyNext();
        return;
    }
    Arm(StepPatchVerify, nullptr, &T_BSL430::PatchVerifyCompare, &T_BSL430::PatchVerify);
    SendRead(record);
}

void T_BSL430::PatchVerifyCompare(const TBslFrame& frame) {
    if (!SameData((*Patch)[static_cast<std::size_t>(PatchIndex)], frame, PatchFileName)) {
        Fail();
        return;
    }
    PatchVerifyNext();
}

void T_BSL430::PatchVerifyNext() {
    if (PatchIndex < LastPatch) {
        ++PatchIndex;
        Sync(&T_BSL430::PatchVerify);
    } else {
        PatchIndex = 0;
        PatchLoaded = 1;
        Sync(&T_BSL430::StepErase);
    }
}

void T_BSL430::DetourRun() {
    std::uint16_t address = 0;
    for (std::int32_t i = 0; i <= LastPatch; ++i) {
        const TTiTxtRecord& record = (*Patch)[static_cast<std::size_t>(i)];
        if (DataCount(record) > 0) {
            address = record.Address;
            break;
        }
    }
    Arm(StepPatchRun, &T_BSL430::DetourDone, nullptr, &T_BSL430::DetourRun);
    SendLoadPc(static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8));
}

void T_BSL430::DetourDone() {
    Sync(DetourNext);
}

} // namespace programmers
