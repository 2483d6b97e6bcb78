#include "programmers/Bsl_54xx_unit.h"

#include "serial/V24Parameter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <span>

namespace programmers {

using namespace bsl5xx;
using namespace bsl54xx;

namespace {

constexpr std::uint32_t WatchdogRunMs = 15000;
constexpr std::uint32_t WatchdogLoaderMs = 5000;
constexpr long LoaderEntryWaitMs = 4000;
constexpr long BaudSwitchWaitMs = 1000;
constexpr long StartWaitMs = 3000;
constexpr long EndWaitMs = 1500;

constexpr std::size_t PasswordVectors = 16;
constexpr std::size_t ResetEntry = 15;
constexpr std::size_t PasswordGroup = 6; // characters per vector in the password reply
constexpr std::uint32_t NoVector = 0xFFFFFFFF;

constexpr std::uint32_t ChipIdAddress = 0x1A04;
constexpr std::uint8_t ChipIdLength = 4;

// Flash layout.
constexpr std::uint32_t SegmentSize = 512;
constexpr std::uint32_t DefaultEraseStart = 0xFC00;
constexpr std::uint32_t TopSegment = 0xFE00; // vectors and with them the password
constexpr std::uint32_t TopSegmentAddress = 0xFFFF;
constexpr std::uint32_t HighBase = 0x10000;
// Information memory, in segments of its own; below it the loader's flash.
constexpr std::uint32_t InfoStart = 0x1800;
constexpr std::uint32_t InfoEnd = 0x1A00;
constexpr std::uint32_t InfoSegmentSize = 128;

std::uint32_t SegmentOf(std::uint32_t address) {
    return address / SegmentSize * SegmentSize;
}

} // namespace

namespace bsl54xx {

std::vector<std::uint32_t> ErasePlan(std::span<const TTiTxtWideRecord> records,
                                     std::uint32_t start) {
    std::set<std::uint32_t> mainWritten;
    std::set<std::uint32_t> infoWritten;
    for (const TTiTxtWideRecord& record : records) {
        const std::size_t count = DataCount(record);
        if (count == 0) {
            continue;
        }
        const std::uint32_t last = record.Address + static_cast<std::uint32_t>(count) - 1;
        for (std::uint32_t a = record.Address; a <= last && a < InfoEnd;
             a = a / InfoSegmentSize * InfoSegmentSize + InfoSegmentSize) {
            if (a >= InfoStart) {
                infoWritten.insert(a / InfoSegmentSize * InfoSegmentSize);
            }
        }
        for (std::uint32_t a = std::max(record.Address, InfoEnd); a <= last;
             a = SegmentOf(a) + SegmentSize) {
            if (SegmentOf(a) != TopSegment) {
                mainWritten.insert(SegmentOf(a));
            }
        }
    }
    std::vector<std::uint32_t> plan;
    std::set<std::uint32_t> planned;
    if (!mainWritten.empty()) {
        const std::uint32_t lowest = *mainWritten.begin();
        for (std::uint32_t address = start; SegmentOf(address) >= lowest;
             address = SegmentOf(address) - SegmentSize) {
            const std::uint32_t segment = SegmentOf(address);
            if (segment != TopSegment && planned.insert(segment).second) {
                plan.push_back(address);
            }
        }
    }
    for (auto segment = mainWritten.rbegin(); segment != mainWritten.rend(); ++segment) {
        if (planned.insert(*segment).second) {
            plan.push_back(*segment);
        }
    }
    plan.insert(plan.end(), infoWritten.begin(), infoWritten.end());
    return plan;
}

} // namespace bsl54xx

T_BSL_54XX_430::T_BSL_54XX_430(const TProgrammerContext& context, const TBslSettings& settings)
    : T_BSL430(context, settings), Image(std::make_unique<TTiTxtWideTable>()) {}

// ---- Blocking run ----------------------------------------------------------

TProgrammerResult T_BSL_54XX_430::Program(const std::string& fileName) {
    Variant = Job.Variant;
    QueryFirst = Settings.QueryFirst ? 1 : 0;
    Host.SetProgressPosition(0);
    if (!LoadConfig() || !LoadImage(fileName)) {
        return RunResult();
    }
    ProgressTotal = bsl430::ProgressFixed + 4 * LastRecord + 4;
    Host.SetProgressMaximum(ProgressTotal, ProgressUnit::Blocks);

    BeginRun(WatchdogRunMs);
    Host.ShowTitleState(TitleState::Plain);
    if (Settings.LoaderMode) {
        if (Job.PasswordKnown != 0) {
            Vectors_ = Job.VectorTable;
            PasswordKnown = 1;
        } else {
            DefaultVectors();
        }
        EnterLoader();
    } else {
        SendText(protocol::command::Dialogue);
    }
    PumpUntil();
    return CloseRun(EndWaitMs, false);
}

void T_BSL_54XX_430::ShowError() {
    StopWatchdog();
    T_BSL430::ShowError();
    Failed = 1;
    Finished = 1;
}

// The image, with its reset vector: the chip starts there after any reset,
// so the firmware is started there too.
bool T_BSL_54XX_430::LoadImage(const std::string& name) {
    TTiTxtResult result;
    const auto read = [this](const std::string& text) {
        return ReadTiTxtWide(text.data(), text.size(), std::span(*Image));
    };
    if (!ReadImageFile(name, read, result)) {
        return false;
    }
    LastRecord = result.LastRecord;
    HighestAddress = 0;
    for (std::int32_t i = 0; i <= LastRecord; ++i) {
        const TTiTxtWideRecord& record = (*Image)[static_cast<std::size_t>(i)];
        const std::size_t count = DataCount(record);
        if (count > 0 && record.Address >= HighBase) {
            HighestAddress =
                std::max(HighestAddress, record.Address + static_cast<std::uint32_t>(count) - 1);
        }
    }
    if (!ImageResetVector(std::span<const TTiTxtWideRecord>(*Image), result, StartAddress_)) {
        ShowFileError(name, Host.Text(ProgrammerText::NoResetVector));
        return false;
    }
    return true;
}

// ---- Device dialogue hooks --------------------------------------------------

void T_BSL_54XX_430::DefaultVectors() {
    Vectors_.fill(NoVector);
    Vectors_[ResetEntry] = Config.ResetVector[0];
}

void T_BSL_54XX_430::UseDefaultPassword() {
    DefaultVectors();
}

// Groups of six characters, the reset vector first, fill the table from
// its last entry down.
void T_BSL_54XX_430::TakePasswordReply(const char* text) {
    Vectors_.fill(NoVector);
    const std::size_t length = text != nullptr ? std::strlen(text) : 0;
    const std::size_t groups = std::clamp<std::size_t>(length / PasswordGroup, 1, PasswordVectors);
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t at = g * PasswordGroup;
        std::uint32_t value = 0;
        if (at < length && ParseHexNumber(text + at, std::min(PasswordGroup, length - at), value)) {
            Vectors_[ResetEntry - g] = value;
        }
    }
}

void T_BSL_54XX_430::StorePassword() {
    Job.VectorTable = Vectors_;
    Job.ResetVector = Vectors_[ResetEntry];
}

void T_BSL_54XX_430::EnterLoaderFromDialogue() {
    EnterLoader();
}

void T_BSL_54XX_430::OnImagePerChip() {
    Variant = 2;
}

void T_BSL_54XX_430::EnterLoader() {
    if (InLoader != 0) {
        return;
    }
    InLoader = 1;
    StopWatchdog();
    Port.ChangeV24Parameter(serial::B__9600, serial::S_1, serial::Even, false);
    Port.ChangeHandShake(serial::NoHandshake);
    Host.ShowBaudText("9600");
    CountdownWait(LoaderEntryWaitMs);
    if (Finished != 0) {
        return;
    }
    Replies.Clear();
    StartWatchdog(WatchdogLoaderMs);
    StepPassword();
}

// ---- Replies ---------------------------------------------------------------

void T_BSL_54XX_430::HandleReplies() {
    while (InLoader != 0 && Finished == 0) {
        const std::optional<TBsl5xxReply> reply = Replies.Next();
        if (!reply) {
            return;
        }
        switch (reply->What) {
        case TBsl5xxReply::Kind::Ack:
            Host.AdvanceProgress(1);
            if (OnAck != nullptr) {
                (this->*OnAck)();
            }
            break;
        case TBsl5xxReply::Kind::Error:
            Host.AdvanceProgress(1);
            Host.AddLogLine("BSL refusal 0x" + HexText(reply->Code));
            RunRetry();
            break;
        case TBsl5xxReply::Kind::Data:
            Host.AdvanceProgress(1);
            if (OnData != nullptr) {
                (this->*OnData)(*reply);
            }
            break;
        case TBsl5xxReply::Kind::Message:
            Host.AdvanceProgress(1);
            OnMessage(reply->Code);
            break;
        case TBsl5xxReply::Kind::Noise:
            break;
        }
    }
}

void T_BSL_54XX_430::OnMessage(std::uint8_t code) {
    switch (code) {
    case MsgSuccess:
        if (OnMessageOk != nullptr) {
            (this->*OnMessageOk)();
        }
        break;
    case MsgPasswordError:
        // The loader has erased its flash after a wrong password: the blank
        // one opens it now, and the image goes in whole anyway.
        if (CurrentStep == bsl54xx::StepPassword && !BlankPasswordSent) {
            BlankPasswordSent = true;
            Host.AddLogLine("BSL password refused, the flash is erased: blank password");
            Vectors_.fill(NoVector);
            StepPassword();
            break;
        }
        EndWithMessage(code);
        break;
    case MsgWriteCheckFailed:
    case MsgFlashFailBit:
    case MsgVoltageChange:
        EndWithMessage(code);
        break;
    default:
        break;
    }
}

void T_BSL_54XX_430::EndWithMessage(std::uint8_t code) {
    Host.AddLogLine("BSL message " + std::to_string(code) + " at step " +
                    std::to_string(CurrentStep));
    LastErrorStep = CurrentStep;
    FailStep("loader message " + std::to_string(code));
}

void T_BSL_54XX_430::RunRetry() {
    if (OnRetry == nullptr || !RetryHistory.Admit(OnRetry)) {
        FailStep("refused or silent, no retry left");
        return;
    }
    (this->*OnRetry)();
}

void T_BSL_54XX_430::OnWatchdog() {
    if (InLoader == 0) {
        Fail(Silence("no answer from the instrument's dialogue"));
        return;
    }
    RunRetry();
}

// ---- Frames ----------------------------------------------------------------

void T_BSL_54XX_430::Arm(std::int32_t step, Step onAck, DataStep onData, Step onMessage,
                         Step onRetry) {
    CurrentStep = step;
    OnAck = onAck;
    OnData = onData;
    OnMessageOk = onMessage;
    OnRetry = onRetry;
}

void T_BSL_54XX_430::Send(std::uint8_t command, const std::uint8_t* data, std::size_t count) {
    const TBsl5xxFrame frame = Build5xxFrame(command, data, count);
    WriteBytes(frame.Bytes.data(), frame.Size);
}

void T_BSL_54XX_430::SendAddress(std::uint8_t command, std::uint32_t address,
                                 const std::uint8_t* data, std::size_t count) {
    std::array<std::uint8_t, MaxCore> core{};
    core[0] = static_cast<std::uint8_t>(address & 0xFF);
    core[1] = static_cast<std::uint8_t>(address >> 8 & 0xFF);
    core[2] = static_cast<std::uint8_t>(address >> 16 & 0xFF);
    count = std::min(count, core.size() - 4);
    std::copy_n(data, count, core.begin() + 3);
    Send(command, core.data(), count + 3);
}

// ---- Conversation ----------------------------------------------------------

void T_BSL_54XX_430::StepPassword() {
    Arm(bsl54xx::StepPassword, nullptr, nullptr, &T_BSL_54XX_430::StepVersion,
        &T_BSL_54XX_430::StepPassword);
    std::array<std::uint8_t, 2 * PasswordVectors> password{};
    for (std::size_t i = 0; i < PasswordVectors; ++i) {
        password[2 * i] = static_cast<std::uint8_t>(Vectors_[i] & 0xFF);
        password[2 * i + 1] = static_cast<std::uint8_t>(Vectors_[i] >> 8 & 0xFF);
    }
    Send(CmdRxPassword, password.data(), password.size());
}

void T_BSL_54XX_430::StepVersion() {
    Arm(bsl54xx::StepVersion, nullptr, &T_BSL_54XX_430::VersionReply, nullptr,
        &T_BSL_54XX_430::StepVersion);
    Send(CmdTxVersion);
}

void T_BSL_54XX_430::VersionReply(const TBsl5xxReply& reply) {
    if (reply.DataCount() < 4) {
        return; // says nothing; the watchdog asks again
    }
    char text[16];
    std::snprintf(text, sizeof text, "%X.%X%X", reply.Data()[1], reply.Data()[2], reply.Data()[3]);
    BslVersion5xx = LoaderVersionNumber(text);
    Host.AddLogLine(std::string("BSL ") + text);
    StepChip();
}

void T_BSL_54XX_430::StepChip() {
    Arm(bsl54xx::StepVersion, nullptr, &T_BSL_54XX_430::ChipReply, nullptr,
        &T_BSL_54XX_430::StepChip);
    const std::uint8_t length[2] = {ChipIdLength, 0};
    SendAddress(CmdTxData, ChipIdAddress, length, sizeof length);
}

void T_BSL_54XX_430::ChipReply(const TBsl5xxReply& reply) {
    if (reply.DataCount() < 2) {
        return;
    }
    Chip = static_cast<std::uint16_t>(reply.Data()[0] | reply.Data()[1] << 8);
    Host.AddLogLine("chip " + HexText(Chip));
    PrepareErase();
    const auto image = static_cast<std::size_t>(std::clamp(Variant, 0, 1));
    Job.KeepBaud[image] != 0 ? StepErase() : StepBaud();
}

void T_BSL_54XX_430::PrepareErase() {
    const auto image = static_cast<std::size_t>(std::clamp(Variant, 0, 1));
    // Flash above 64 KB holds old firmware too: by default the walk starts at
    // the image's highest segment there.
    const std::uint32_t highSegment =
        HighestAddress >= HighBase ? SegmentOf(HighestAddress) : DefaultEraseStart;
    const std::uint32_t start = Job.EraseStart[image] > 0
                                    ? Job.EraseStart[image]
                                    : std::max(DefaultEraseStart, highSegment);
    ErasePlan_ = bsl54xx::ErasePlan(
        std::span<const TTiTxtWideRecord>(Image->data(), static_cast<std::size_t>(LastRecord + 1)),
        start);
    EraseIndex = 0;
    ProgressTotal += static_cast<std::int32_t>(ErasePlan_.size() * 2 + 4);
    Host.SetProgressMaximum(ProgressTotal, ProgressUnit::Blocks);
}

void T_BSL_54XX_430::StepBaud() {
    Arm(bsl54xx::StepBaud, &T_BSL_54XX_430::BaudSwitch, nullptr, nullptr,
        &T_BSL_54XX_430::StepBaud);
    const std::uint8_t rate = Baud38400;
    Send(CmdChangeBaud, &rate, 1);
}

void T_BSL_54XX_430::BaudSwitch() {
    OnAck = nullptr;
    Port.ChangeV24Parameter(serial::B_38400, serial::S_1, serial::Even, false);
    Host.ShowBaudText("38400");
    Wait(BaudSwitchWaitMs);
    if (Finished == 0) {
        StepErase();
    }
}

void T_BSL_54XX_430::StepErase() {
    if (EraseIndex >= ErasePlan_.size()) {
        RecordIndex = 0;
        StepProgram();
        return;
    }
    EraseAddr = ErasePlan_[EraseIndex];
    Arm(bsl54xx::StepErase, nullptr, nullptr, &T_BSL_54XX_430::EraseNext,
        &T_BSL_54XX_430::StepErase);
    SendAddress(CmdEraseSegment, EraseAddr);
}

void T_BSL_54XX_430::EraseNext() {
    ++EraseIndex;
    StepErase();
}

void T_BSL_54XX_430::StepProgram() {
    const TTiTxtWideRecord& record = (*Image)[static_cast<std::size_t>(RecordIndex)];
    const std::size_t count = DataCount(record);
    if (count == 0) {
        ProgramNext();
        return;
    }
    if (!TopSegmentErased && record.Address + count >= TopSegment &&
        record.Address <= TopSegmentAddress) {
        EraseAddr = TopSegmentAddress;
        Arm(bsl54xx::StepEraseTop, nullptr, nullptr, &T_BSL_54XX_430::TopErased,
            &T_BSL_54XX_430::StepProgram);
        SendAddress(CmdEraseSegment, EraseAddr);
        return;
    }
    Arm(bsl54xx::StepWrite, nullptr, nullptr, &T_BSL_54XX_430::ProgramNext,
        &T_BSL_54XX_430::StepProgram);
    SendAddress(CmdRxData, record.Address, record.Data, count);
}

void T_BSL_54XX_430::TopErased() {
    TopSegmentErased = true;
    StepProgram();
}

void T_BSL_54XX_430::ProgramNext() {
    (this->*Advance(RecordIndex, LastRecord, &T_BSL_54XX_430::StepProgram,
                    &T_BSL_54XX_430::StepVerify))();
}

void T_BSL_54XX_430::StepVerify() {
    const TTiTxtWideRecord& record = (*Image)[static_cast<std::size_t>(RecordIndex)];
    const std::size_t count = DataCount(record);
    if (count == 0) {
        VerifyCompare({});
        return;
    }
    Arm(bsl54xx::StepVerify, nullptr, &T_BSL_54XX_430::VerifyCompare, nullptr,
        &T_BSL_54XX_430::StepVerify);
    const std::uint8_t length[2] = {static_cast<std::uint8_t>(count & 0xFF), 0};
    SendAddress(CmdTxData, record.Address, length, sizeof length);
}

void T_BSL_54XX_430::VerifyCompare(const TBsl5xxReply& reply) {
    const TTiTxtWideRecord& record = (*Image)[static_cast<std::size_t>(RecordIndex)];
    const std::size_t count = DataCount(record);
    if (count > 0 &&
        !SameData(record.Data, count, record.Address, reply.Data(), reply.DataCount(), "verify")) {
        FailStep(Difference);
        return;
    }
    (this->*Advance(RecordIndex, LastRecord, &T_BSL_54XX_430::StepVerify,
                    &T_BSL_54XX_430::StepStart))();
}

void T_BSL_54XX_430::StepStart() {
    OnData = nullptr; // a late read-back answers nothing during the wait
    Wait(StartWaitMs);
    if (Finished != 0) {
        return;
    }
    Arm(bsl54xx::StepStart, &T_BSL_54XX_430::StepFinish, nullptr, nullptr,
        &T_BSL_54XX_430::StepStart);
    Host.AddLogLine("start at 0x" + HexText(StartAddress_));
    SendAddress(CmdLoadPc, StartAddress_);
}

void T_BSL_54XX_430::StepFinish() {
    InLoader = 0;
    Host.ShowTitleState(TitleState::Complete);
    Succeed();
}

} // namespace programmers
