#include "programmers/LabFileTransfer.h"

#include "platform/Files.h"
#include "programmers/ProgramFile.h"

#include <algorithm>
#include <cctype>

namespace programmers {

TLabFileTransfer::TLabFileTransfer(const TProgrammerContext& context) : TProgrammerTyp(context) {}

TProgrammerResult TLabFileTransfer::Program(const std::string& fileName) {
    BeginRun(LabAckTimeoutMs);
    FirstFile = fileName;
    // An instrument with a file still open refuses to open another one.
    ClosingLeftFile = Job.LabFileLeftOpen != 0;
    if (ClosingLeftFile ? Send(protocol::command::LabFileClose) : StartFirstFile()) {
        PumpUntil();
    } else {
        Fail("the first file could not be started");
    }
    Host.SetProgressPosition(0);
    EndRun(0);
    Job.LabFileLeftOpen = Failed != 0 && (Active || ClosingLeftFile) ? 1 : 0;
    return RunResult();
}

bool TLabFileTransfer::StartFirstFile() {
    FileIndex = 1;
    return StartFile(FirstFile, 0);
}

bool TLabFileTransfer::Send(const std::string& command) {
    if (command.starts_with(protocol::command::LabFileBlock)) {
        // A block's data would fill the log: its command names it.
        LastCommand = CommandNamed(command, "#");
        return WriteBytes(reinterpret_cast<const std::uint8_t*>(command.data()), command.size());
    }
    LastCommand = CommandNamed(command);
    return WriteText(command.c_str());
}

bool TLabFileTransfer::StartFile(const std::string& name, std::size_t extraSteps) {
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
    Remaining = Data.size();
    Host.SetProgressPosition(0);
    // One step per block, a short last block included.
    const std::size_t blocks = (Data.size() + LabBlockSize - 1) / LabBlockSize;
    Host.SetProgressMaximum(static_cast<int>(blocks + extraSteps), ProgressUnit::Blocks);
    Active = true;
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return Send(protocol::command::LabFileOpen + lower + "\r\n");
}

void TLabFileTransfer::NextFile() {
    if (FileIndex >= Job.ProgFiles.size()) {
        Succeed();
        return;
    }
    // The opening counts as a step of its own here.
    if (!StartFile(Job.ProgFiles[FileIndex++], 1)) {
        Fail("file " + Job.ProgFiles[FileIndex - 1] + " could not be started");
        return;
    }
    Host.AdvanceProgressBar(1);
}

void TLabFileTransfer::Abort() {
    Fail("aborted");
}

// The OK button must not start a session while files are sent; every other
// key goes on to the session.
bool TLabFileTransfer::TakesKey(std::int32_t id) const {
    return id == protocol::event::KeyStart;
}

bool TLabFileTransfer::TakesReply(std::int32_t id) const {
    return id == protocol::event::Acknowledge || id == protocol::event::Rejected;
}

void TLabFileTransfer::OnReply(std::int32_t id, std::intptr_t data) {
    if (Finished != 0) {
        return;
    }
    RestartWatchdog();
    if (ClosingLeftFile) {
        // Either answer will do: the file may have been closed meanwhile.
        ClosingLeftFile = false;
        if (!StartFirstFile()) {
            Fail("the first file could not be started");
        }
        return;
    }
    if (id == protocol::event::Rejected) {
        // Waiting on would only end in the watchdog's misleading silence.
        Host.ShowLogLine(Host.Text(ProgrammerText::CommandRefused) + LastCommand);
        const char* line = reinterpret_cast<const char*>(data);
        Fail("the instrument refused " + LastCommand, line != nullptr ? line : "");
        return;
    }
    if (Active && Remaining > 0) {
        const std::size_t n = std::min(LabBlockSize, Remaining);
        std::string block = protocol::command::LabFileBlock;
        block.push_back(static_cast<char>(n));
        block.append(Data, Data.size() - Remaining, n);
        Remaining -= n;
        // The bar alone: the title belongs to the session here.
        if (Send(block)) {
            Host.AdvanceProgressBar(1);
        }
    } else if (Active) {
        Host.SetProgressPosition(0);
        Active = false;
        Send(protocol::command::LabFileClose);
    } else {
        NextFile();
    }
}

void TLabFileTransfer::OnWatchdog() {
    Host.ShowLogLine(Host.Text(ProgrammerText::NoAnswer));
    Fail(Silence("no answer to " + LastCommand));
}

} // namespace programmers
