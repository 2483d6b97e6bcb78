#include "programmers/Bsl_unit.h"

#include "serial/V24Parameter.h"

#include <algorithm>
#include <span>

namespace programmers {

using namespace bsl430;
using namespace rombsl;

namespace {

constexpr std::uint8_t EraseSegmentMode[2] = {0x02, 0xA5};
constexpr std::array<std::uint8_t, 4> VersionBlock = {0xF0, 0x0F, 0x0E, 0x00}; // 14 bytes at 0x0FF0
constexpr std::array<std::uint8_t, 4> BaudArgs = {0x00, 0xC8, 0x02, Filler};
constexpr std::array<std::uint8_t, 4> BaudArgsF2xx = {0x80, 0x8C, 0x02, Filler};
constexpr std::size_t PasswordSize = 32;
constexpr std::size_t VersionFrameSize = 16; // through the loader version bytes
constexpr std::size_t ChipIdHigh = 4, ChipIdLow = 5, VersionMajor = 14, VersionMinor = 15;

// Time-outs and pauses (ms).
constexpr std::uint32_t WatchdogRunMs = 15000;
constexpr std::uint32_t WatchdogLoaderMs = 5000;
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
constexpr std::int32_t InfoLowSegment = 0x1000; // erased when the image writes it
constexpr std::int32_t MainFlashStart = 0x1100; // below: information memory
constexpr std::int32_t RetryEraseAbove = 0x11FF;
constexpr std::int32_t TopSegmentEnd = 0xFDFF;
constexpr std::int32_t TopSegment = 0xFFFF;
constexpr std::int32_t HighBase = 0x10000;

// Chips and instruments with their own rules.
constexpr std::uint32_t ChipF237 = 0xF237;
constexpr std::uint32_t ChipF26F = 0xF26F;
constexpr std::uint32_t ChipF135 = 0xF135;
constexpr const char* ModelSecondVector = "41245";

std::array<std::uint8_t, 4> AddressAndLength(std::uint16_t address, std::size_t length) {
    return {static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(length & 0xFF), static_cast<std::uint8_t>(length >> 8)};
}

} // namespace

T_BSL430::T_BSL430(const TProgrammerContext& context, const TBslSettings& settings)
    : TBslDeviceDialogue(context, settings), Image(std::make_unique<TTiTxtTable>()),
      Patch(std::make_unique<TTiTxtPatchTable>()) {}

// ---- Blocking run ----------------------------------------------------------

TProgrammerResult T_BSL430::Program(const std::string& fileName) {
    Variant = Job.Variant;
    QueryFirst = Settings.QueryFirst ? 1 : 0;
    Host.SetProgressPosition(0);
    // A file that cannot be used stops here, before the instrument is touched.
    if (!LoadConfig() || !LoadImage(fileName)) {
        return RunResult();
    }
    ProgressTotal = ProgressFixed + 4 * LastRecord + 4;
    Host.SetProgressMaximum(ProgressTotal, ProgressUnit::Blocks);

    BeginRun(WatchdogRunMs);
    Host.ShowTitleState(TitleState::Plain);
    if (Settings.LoaderMode) {
        if (Job.PasswordKnown != 0) {
            ResetVector_ = Job.ResetVector & 0xFFFF;
            PasswordKnown = 1;
        } else {
            ResetVector_ = DefaultVectorForLoaderMode();
        }
        EnterLoader(Settings.SyncFirst);
    } else {
        SendText(protocol::command::Dialogue);
    }
    PumpUntil();
    return CloseRun(EndWaitMs, Job.NoPortChange != 0);
}

TProgrammerResult T_BSL430::CloseRun(long endWaitMs, bool restoreAnyway) {
    Host.ShowTitleState(TitleState::Plain);
    if (!Settings.Set9600After || Failed != 0 || restoreAnyway) {
        Port.LoadLastV24Parameter();
        Host.ShowBaudText(std::to_string(serial::BaudRateOf(Port.GetV24Parameter()->Baudrate)));
    } else {
        Host.ShowBaudText("9600");
        Port.ChangeV24Parameter(serial::B__9600, serial::S_2, serial::NoParity, true);
    }
    EndRun(endWaitMs);
    if (Failed != 0 && !FileErrorShown) {
        ShowError();
    }
    return RunResult();
}

void T_BSL430::ShowError() {
    CurrentStep = std::min(CurrentStep, StepLast);
    TBslDeviceDialogue::ShowError();
}

bool T_BSL430::LoadImage(const std::string& name) {
    TTiTxtResult result;
    const auto read = [this](const std::string& text) {
        return ReadTiTxt(text.data(), text.size(), std::span(*Image));
    };
    if (!ReadImageFile(name, read, result)) {
        return false;
    }
    LastRecord = result.LastRecord;
    FirstHighRecord = result.FirstHighRecord;
    if (!ImageResetVector(std::span<const TTiTxtRecord>(*Image), result, StartAddress_)) {
        ShowFileError(name, Host.Text(ProgrammerText::NoResetVector));
        return false;
    }
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

// ---- Device dialogue hooks --------------------------------------------------

void T_BSL430::UseDefaultPassword() {
    ResetVector_ = DefaultVectorForDialogue();
}

void T_BSL430::TakePasswordReply(const char* text) {
    std::uint32_t value = 0;
    if (ParseHexNumber(text, 64, value)) {
        ResetVector_ = value & 0xFFFF;
    } else {
        Host.AddLogLine("password reply without a number: reset vector " + HexText(ResetVector_));
    }
}

void T_BSL430::StorePassword() {
    Job.ResetVector = ResetVector_;
}

void T_BSL430::EnterLoaderFromDialogue() {
    EnterLoader(true);
}

void T_BSL430::EnterLoader(bool syncFirst) {
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
    CountdownWait(LoaderEntryWaitMs);
    if (Finished != 0) {
        return;
    }
    Port.ClearBuffer(PurgeTxClear | PurgeRxClear);
    Replies.Clear();
    StartWatchdog(WatchdogLoaderMs);
    if (syncFirst) {
        Sync(&T_BSL430::StepVersion);
    } else {
        StepVersion();
    }
}

// ---- Replies ---------------------------------------------------------------

bool T_BSL430::OnCharsReceived(std::intptr_t) {
    RestartWatchdog();
    if (InLoader == 0) {
        return false;
    }
    TReplyBuffer& buffer = ReceiveBuffer();
    while (ReadInto(buffer)) {
        if (Nudging || Finished != 0) {
            buffer.Clear();
            continue;
        }
        HandleReplies();
    }
    return true;
}

void T_BSL430::HandleReplies() {
    while (InLoader != 0 && Finished == 0) {
        const std::optional<TBslReply> reply = Replies.Next();
        if (!reply) {
            return;
        }
        switch (reply->What) {
        case TBslReply::Kind::Frame:
            Host.AdvanceProgress(1);
            if (OnFrame != nullptr) {
                (this->*OnFrame)(reply->Frame);
            }
            break;
        case TBslReply::Kind::Ack:
            Host.AdvanceProgress(1);
            if (OnAck != nullptr) {
                (this->*OnAck)();
            }
            break;
        case TBslReply::Kind::Refusal:
            Host.AdvanceProgress(1);
            RunRetry();
            break;
        case TBslReply::Kind::Noise:
            break;
        }
    }
}

void T_BSL430::RunRetry() {
    const Step retry = OnRetry;
    if (retry == nullptr || !RetryHistory.Admit(retry)) {
        FailStep("refused, no retry left");
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
        Replies.Clear();
    }
    if (Finished != 0) {
        return;
    }
    if (InLoader == 0) {
        Fail(Silence("no answer from the instrument's dialogue"));
        return;
    }
    if (OnRetry == nullptr || !RetryHistory.Admit(OnRetry)) {
        FailStep(Silence("no answer, no retry left; the last wait"));
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
    const TBslFrame frame = BuildBslFrame(command, head, data, count);
    WriteBytes(frame.Bytes.data(), frame.Size);
}

void T_BSL430::SendWrite(const TTiTxtRecord& record) {
    const std::size_t count = DataCount(record);
    SendFrame(CmdRxData, AddressAndLength(record.Address, count), record.Data, count);
}

void T_BSL430::SendRead(const TTiTxtRecord& record) {
    // The loader reads at most 255 bytes, so the high length byte stays 0.
    SendFrame(CmdTxData, AddressAndLength(record.Address, DataCount(record) & 0xFF));
}

void T_BSL430::SendLoadPc(std::uint16_t address) {
    SendFrame(CmdLoadPc, {static_cast<std::uint8_t>(address & 0xFF),
                          static_cast<std::uint8_t>(address >> 8), Filler, Filler});
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

void T_BSL430::StepVersion() {
    Arm(bsl430::StepVersion, nullptr, &T_BSL430::VersionReply, &T_BSL430::StepVersionFallback);
    SendFrame(CmdTxVersion, {Filler, Filler, Filler, Filler});
}

void T_BSL430::StepVersionFallback() {
    if (PasswordAccepted == 0) {
        StepPassword();
        return;
    }
    Arm(bsl430::StepVersion, nullptr, &T_BSL430::VersionReply, &T_BSL430::StepVersionFallback);
    SendFrame(CmdTxData, VersionBlock);
}

void T_BSL430::VersionReply(const TBslFrame& frame) {
    if (frame.Size < VersionFrameSize) {
        return; // too short to say anything; the watchdog asks again
    }
    VersionKnown = 1;
    ChipId_ = static_cast<std::uint32_t>(frame.Bytes[ChipIdHigh] << 8 | frame.Bytes[ChipIdLow]);
    BslVersionText_ = HexText(frame.Bytes[VersionMajor]) + "." + HexText(frame.Bytes[VersionMinor]);
    BslVersion_ = LoaderVersionNumber(BslVersionText_);
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
    if (!LoadImage(name)) {
        FailStep("no image for the chip"); // the table is cleared: nothing left to write
        return;
    }
    ProgressTotal = ProgressFixed + 4 * LastRecord + 4;
    Host.SetProgressMaximum(ProgressTotal, ProgressUnit::Blocks);
    const auto& chips = Config.ChipImageVector1;
    if (std::find(chips.begin(), chips.end(), ChipId_) != chips.end()) {
        ResetVector_ = Config.ResetVector[0];
    }
}

void T_BSL430::StepPassword() {
    Arm(bsl430::StepPassword, &T_BSL430::AfterPassword, nullptr, &T_BSL430::StepPassword);
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
    // Flash above 64 KB holds old firmware too: by default the walk starts at
    // the image's highest segment there.
    EraseAddr = Job.EraseStart[image] > 0 ? static_cast<std::int32_t>(Job.EraseStart[image])
                                          : std::max(DefaultEraseStart, HighestHighSegment());
    ProgressTotal += std::max(0, (EraseAddr - LowestMainAddress()) / SegmentSize * 2 + 4);
    Host.SetProgressMaximum(ProgressTotal, ProgressUnit::Blocks);
    if (BslVersion_ == VersionNeedsPatch) {
        if (!LoadPatch()) {
            FailStep("the loader patch cannot be taken");
            return;
        }
        Sync(&T_BSL430::PatchPrepare);
    } else if (BslVersion_ < VersionFastBaud || Job.KeepBaud[image] != 0) {
        Sync(&T_BSL430::StepErase);
    } else {
        Sync(&T_BSL430::StepBaud);
    }
}

void T_BSL430::StepBaud() {
    Arm(bsl430::StepBaud, &T_BSL430::BaudSwitch, nullptr, &T_BSL430::StepBaud);
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
    Arm(bsl430::StepOffset, &T_BSL430::OffsetDone, nullptr, &T_BSL430::StepOffset);
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
    const bool infoSegmentDone = EraseAddr == InfoSegment;
    EraseAddr -= SegmentSize;
    // Data the image puts there would go into old bytes.
    if (infoSegmentDone && WritesBelow(InfoSegment)) {
        EraseAddr = InfoLowSegment;
        Sync(&T_BSL430::StepErase);
        return;
    }
    if (EraseAddr <= EraseEnd) {
        RecordIndex = 0;
        Sync(&T_BSL430::StepProgram);
        return;
    }
    // The walk reaches the segment of the image's lowest byte, whichever
    // record holds it; where flash begins inside a segment, that byte's own
    // address names it.
    const std::int32_t lowest = LowestMainAddress();
    if (EraseAddr < lowest) {
        EraseAddr = EraseAddr + SegmentSize > lowest ? lowest : InfoSegment;
    }
    Sync(&T_BSL430::StepErase);
}

// High records stand from FirstHighRecord up to the empty marker, with their
// addresses less 0x10000.
std::int32_t T_BSL430::HighestHighSegment() const {
    std::int32_t highest = 0;
    for (std::int32_t i = FirstHighRecord; HasHighRecords() && i <= LastRecord; ++i) {
        const TTiTxtRecord& record = (*Image)[static_cast<std::size_t>(i)];
        if (IsEmptyRecord(record)) {
            break;
        }
        const auto last =
            HighBase + record.Address + static_cast<std::int32_t>(DataCount(record)) - 1;
        highest = std::max(highest, last / SegmentSize * SegmentSize);
    }
    return highest;
}

std::span<const TTiTxtRecord> T_BSL430::LowRecords() const {
    const std::int32_t end = HasHighRecords() ? FirstHighRecord : LastRecord + 1;
    return {Image->data(), static_cast<std::size_t>(std::max(end, 0))};
}

bool T_BSL430::WritesBelow(std::int32_t address) const {
    return std::any_of(LowRecords().begin(), LowRecords().end(), [&](const TTiTxtRecord& record) {
        return DataCount(record) > 0 && record.Address < address;
    });
}

std::int32_t T_BSL430::LowestMainAddress() const {
    std::int32_t lowest = DefaultEraseStart;
    for (const TTiTxtRecord& record : LowRecords()) {
        if (DataCount(record) > 0 && record.Address >= MainFlashStart) {
            lowest = std::min<std::int32_t>(lowest, record.Address);
        }
    }
    return lowest;
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
    DetourSync(Advance(RecordIndex, LastRecord, &T_BSL430::StepProgram, &T_BSL430::StepVerify));
}

void T_BSL430::StepVerify() {
    if (!WalkRecord(&T_BSL430::StepVerify, false)) {
        return;
    }
    Arm(bsl430::StepVerify, nullptr, &T_BSL430::VerifyCompare, &T_BSL430::StepVerify);
    SendRead((*Image)[static_cast<std::size_t>(RecordIndex)]);
}

void T_BSL430::VerifyCompare(const TBslFrame& frame) {
    if (!SameRecord((*Image)[static_cast<std::size_t>(RecordIndex)], frame, "verify")) {
        FailStep(Difference);
        return;
    }
    VerifyNext();
}

void T_BSL430::VerifyNext() {
    const Step next = Advance(RecordIndex, LastRecord, &T_BSL430::StepVerify, &T_BSL430::StepStart);
    // Starting the firmware writes no flash: no patch before it.
    next == &T_BSL430::StepStart ? Sync(next) : DetourSync(next);
}

bool T_BSL430::SameRecord(const TTiTxtRecord& record, const TBslFrame& frame, const char* what) {
    return SameData(record.Data, DataCount(record), record.Address, frame.Data(), frame.DataCount(),
                    what);
}

// The chip starts at its reset vector after any reset; the firmware is
// started there too.
void T_BSL430::StepStart() {
    Wait(StartWaitMs);
    if (Finished != 0) {
        return;
    }
    Arm(bsl430::StepStart, &T_BSL430::StepFinish, nullptr, &T_BSL430::StepStart);
    Host.AddLogLine("start at 0x" + HexText(StartAddress_));
    SendLoadPc(StartAddress_);
}

void T_BSL430::StepFinish() {
    InLoader = 0;
    Host.ShowTitleState(TitleState::Complete);
    Succeed();
}

} // namespace programmers
