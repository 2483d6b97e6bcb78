#include "programmers/Wince_unit.h"

#include "kernel/Bufferunit.h"
#include "kernel/Stringunit.h"
#include "platform/Files.h"
#include "programmers/ProgramFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace programmers {

namespace {

constexpr std::uint8_t CrcStart = 0xFF;
// Characters that frame a block, and the check character's stand-in for 0.
constexpr std::uint8_t FrameChars[] = {'D', ',', '#'};

// The bar's maximum: the blocks of the file (an empty file is one empty block).
int BlockCount(std::size_t size) {
    return static_cast<int>(size == 0 ? 1 : (size + WinceBlockSize - 1) / WinceBlockSize);
}

} // namespace

std::uint8_t BlockCheckChar(std::string_view block) {
    std::uint8_t crc = CrcStart;
    for (char c : block) {
        crc = kernel::Crc8Step(crc, static_cast<std::uint8_t>(c), 8);
    }
    if (crc == 0) {
        return 1;
    }
    for (std::uint8_t framing : FrameChars) {
        if (crc == framing) {
            return static_cast<std::uint8_t>(crc + 1);
        }
    }
    return crc;
}

TBlockFrame MakeBlockFrame(std::string_view file, std::size_t offset) {
    TBlockFrame frame;
    offset = std::min(offset, file.size());
    frame.Length = std::min(WinceBlockSize, file.size() - offset);
    frame.Last = offset + frame.Length >= file.size();
    const std::string_view data = file.substr(offset, frame.Length);
    frame.Bytes = protocol::command::BlockPrefix + std::to_string(frame.Length) + ",";
    frame.Bytes.push_back(static_cast<char>(BlockCheckChar(data)));
    frame.Bytes.push_back('#');
    frame.Bytes.append(data);
    return frame;
}

TWinCEProg::TWinCEProg(const TProgrammerContext& context) : TProgrammerTyp(context) {}

TProgrammerResult TWinCEProg::Program(const std::string& fileName) {
    Host.SetProgressPosition(0);
    if (!LoadFile(fileName)) {
        return RunResult();
    }
    Host.SetProgressMaximum(BlockCount(Data.size()), ProgressUnit::Blocks);
    NextFile = 0;
    Switched = false;
    BeginRun(WinceWatchdogMs);
    Host.ShowTitleState(TitleState::Plain);
    if (Job.BlockSpeedLeftFrom != 0) {
        ReachLeftLoader();
    } else {
        DialogueStep();
    }
    PumpUntil();
    Host.ShowTitleState(TitleState::Plain);
    EndRun(WinceEndWaitMs);
    // A failed run leaves the instrument at its speed; the port goes back all
    // the same, and the retry first looks for the instrument there.
    RestoreLine();
    Job.BlockSpeedLeftFrom = Failed != 0 && InstrumentSwitched ? SavedBaud : 0;
    return RunResult();
}

void TWinCEProg::DialogueStep() {
    Reviving = false;
    OnAck = &TWinCEProg::BaudSwitchStep;
    SendText(protocol::command::Dialogue);
}

// A failed run left the instrument in its file loader at the transfer
// speed, where it hears nothing said at the session's: it is told there to
// end the transfer and go back, then the run starts as usual.
void TWinCEProg::ReachLeftLoader() {
    Reviving = true;
    SavedBaud = Job.BlockSpeedLeftFrom;
    InstrumentSwitched = true;
    FollowTransferSpeed();
    OnAck = &TWinCEProg::ReturnFromLeftLoader;
    SendText(protocol::command::TransferEnd);
}

void TWinCEProg::ReturnFromLeftLoader() {
    ChangeSpeed(SavedBaud, WinceSwitchBackWaitMs, true, &TWinCEProg::DialogueStep);
}

bool TWinCEProg::SendText(const char* text) {
    LastCommand = CommandNamed(text);
    return WriteText(text);
}

bool TWinCEProg::LoadFile(const std::string& name) {
    std::string path;
    TFailure failure;
    if (!ProgramFilePath(Host, name, path, failure)) {
        Fail(std::move(failure));
        return false;
    }
    if (!platform::ReadWholeFile(path, Data)) {
        const std::string reason = Host.Text(ProgrammerText::FileUnreadable);
        ShowFileErrorBox(Host, path, reason);
        Fail(FileFailure(path, reason));
        return false;
    }
    FileName = name;
    FileDate = platform::FileAge(path);
    Sent = 0;
    return true;
}

void TWinCEProg::Abort() {
    Fail("aborted");
}

bool TWinCEProg::TakesReply(std::int32_t id) const {
    return id == protocol::event::Acknowledge || id == protocol::event::Rejected ||
           id == protocol::reply::FileComplete || id == protocol::reply::BlockRefused;
}

void TWinCEProg::OnReply(std::int32_t id, std::intptr_t data) {
    if (Finished != 0) {
        return;
    }
    switch (id) {
    case protocol::event::Acknowledge:
        RestartWatchdog();
        if (BlockUnacknowledged) {
            BlockUnacknowledged = false;
            Host.AdvanceProgress(1);
        }
        if (Changing) {
            AckWhileChanging = true;
        } else if (OnAck != nullptr) {
            (this->*OnAck)();
        }
        break;
    case protocol::reply::FileComplete:
        FileCompleteStep();
        break;
    case protocol::reply::BlockRefused: {
        const char* text = reinterpret_cast<const char*>(data);
        if (text != nullptr && std::strtol(text, nullptr, 10) == protocol::reply::ResendBlock) {
            if (!LastFrame.empty()) {
                WriteBytes(reinterpret_cast<const std::uint8_t*>(LastFrame.data()),
                           LastFrame.size());
            }
        } else {
            Fail("file loader: block refused", text != nullptr ? text : "");
        }
        break;
    }
    case protocol::event::Rejected:
        // A loader a failed run left behind: any answer shows it hears.
        if (Reviving && OnAck == &TWinCEProg::ReturnFromLeftLoader) {
            RestartWatchdog();
            ReturnFromLeftLoader();
        }
        break; // otherwise the watchdog decides
    default:
        break;
    }
}

void TWinCEProg::OnWatchdog() {
    if (Reviving) {
        // Not in its loader any more (switched off meanwhile, say): it
        // listens at the session's speed again.
        RestoreLine();
        InstrumentSwitched = false;
        RestartWatchdog();
        DialogueStep();
        return;
    }
    Host.ShowLogLine(Host.Text(ProgrammerText::NoAnswer));
    Fail(Silence("no answer to " + LastCommand));
}

void TWinCEProg::Arm(Step next) {
    OnAck = next;
    if (AckWhileChanging) {
        AckWhileChanging = false;
        (this->*next)();
    }
}

// The instrument changes its speed on the command and the port follows after
// the wait. An acknowledge that arrives meanwhile is kept for the step after
// the change: running a step at a speed in change would send into the void.
void TWinCEProg::ChangeSpeed(unsigned long baud, long waitMs, bool back, Step next) {
    OnAck = nullptr;
    AckWhileChanging = false;
    char text[48];
    std::snprintf(text, sizeof text, "%s%lu\r\n", protocol::command::SetBaudPrefix, baud);
    if (!SendText(text)) {
        return;
    }
    InstrumentSwitched = !back;
    Changing = true;
    Wait(waitMs);
    Changing = false;
    if (Finished != 0) {
        return;
    }
    if (back) {
        RestoreLine();
    } else {
        FollowTransferSpeed();
    }
    Arm(next);
}

void TWinCEProg::FollowTransferSpeed() {
    Port.ChangeV24Parameter(serial::B_38400, serial::S_2, serial::NoParity, false);
    Host.ShowBaudText(std::to_string(WinceTransferBaud));
    Switched = true;
}

void TWinCEProg::RestoreLine() {
    if (!Switched) {
        return;
    }
    Port.LoadLastV24Parameter();
    Host.ShowBaudText(std::to_string(SavedBaud));
    Switched = false;
}

void TWinCEProg::BaudSwitchStep() {
    SavedBaud = Port.LoadV24Parameter().BaudRate;
    ChangeSpeed(WinceTransferBaud, WinceSwitchUpWaitMs, false, &TWinCEProg::HeaderStep);
}

void TWinCEProg::HeaderStep() {
    OnAck = &TWinCEProg::BlockStep;
    const char* header = Job.Ident.DevExe >= WinceNewHeaderFromExe
                             ? protocol::command::FileHeader
                             : protocol::command::FileHeaderOld;
    // Instruments have always been told the names in capitals, as the
    // configuration and the expanded lists held them.
    const std::string text = header + NameTransform(kernel::UpperAscii(FileName)) + "," +
                             std::to_string(FileDate) + "," + std::to_string(Data.size()) + "\r\n";
    SendText(text.c_str());
}

void TWinCEProg::BlockStep() {
    TBlockFrame frame = MakeBlockFrame(Data, Sent);
    LastCommand = "the block at byte " + std::to_string(Sent) + " of " + FileName;
    if (frame.Last) {
        OnAck = &TWinCEProg::FileEndStep;
    }
    Sent += frame.Length;
    LastFrame = std::move(frame.Bytes);
    BlockUnacknowledged = true;
    WriteBytes(reinterpret_cast<const std::uint8_t*>(LastFrame.data()), LastFrame.size());
}

void TWinCEProg::FileEndStep() {
    OnAck = &TWinCEProg::FileCompleteStep;
    SendText(protocol::command::FileEnd);
}

void TWinCEProg::FileCompleteStep() {
    if (NextFile >= Job.ProgFiles.size()) {
        SessionEndStep();
        return;
    }
    RestartWatchdog();
    if (!LoadFile(Job.ProgFiles[NextFile++])) {
        return;
    }
    Host.SetProgressMaximum(BlockCount(Data.size()), ProgressUnit::Blocks);
    Host.SetProgressPosition(0);
    HeaderStep();
}

void TWinCEProg::SessionEndStep() {
    OnAck = &TWinCEProg::BaudRestoreStep;
    SendText(protocol::command::TransferEnd);
}

void TWinCEProg::BaudRestoreStep() {
    ChangeSpeed(SavedBaud, WinceSwitchBackWaitMs, true, &TWinCEProg::FinishStep);
}

void TWinCEProg::FinishStep() {
    Succeed();
}

} // namespace programmers
