#include "programmers/TermProg.h"

#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "programmers/ProgramFile.h"

#include <algorithm>
#include <vector>

namespace programmers {

namespace {

constexpr const char* FileMissingCaption = " Error ";
constexpr const char* NamedFile = "L3_TermL.A37"; // the file the box text names
constexpr const char* LineSpeed = "19200";

} // namespace

const char* BasicLoaderFile(char memoryVariant) {
    return memoryVariant == HighMemoryVariant ? "L3_TermH.A37" : "L3_TermL.A37";
}

TTermProg::TTermProg(const TProgrammerContext& context) : TProgrammerTyp(context) {}

TProgrammerResult TTermProg::Program(const std::string& fileName) {
    fileName_ = fileName;
    BeginRun(SilenceMs);
    Port.ChangeHandShake(serial::RTS_CTS);
    Port.ChangeBaudrate(serial::B_19200);
    Host.ShowBaudText(LineSpeed);
    stop_ = 0;
    retryPending_ = false;
    scanner_.Clear();
    sent_ = 0;
    file_.clear();
    PumpUntil();
    Port.LoadLastV24Parameter();
    EndRun(0);
    return RunResult();
}

void TTermProg::Stop() {
    stop_ = 1;
    retryPending_ = false;
    // A piece handed over but not yet begun stays unsent.
    Port.TXSuspend();
}

void TTermProg::Abort() {
    Aborted(TransferFailure("aborted"));
}

bool TTermProg::OnCharsReceived(std::intptr_t) {
    std::vector<std::int32_t> found;
    for (;;) {
        std::size_t room = 0;
        char* place = scanner_.ReadPlace(room);
        const int got = ReadBytes(reinterpret_cast<std::uint8_t*>(place), room);
        if (got <= 0) {
            break;
        }
        scanner_.Commit(static_cast<std::size_t>(got), found);
    }
    if (!found.empty()) {
        RestartWatchdog();
    }
    for (std::int32_t message : found) {
        Post(message);
    }
    return true;
}

bool TTermProg::TakesReply(std::int32_t id) const {
    switch (id) {
    case termmsg::Abort:
    case termmsg::Programmed:
    case termmsg::WaitingForFile:
    case termmsg::SendPiece:
    case termmsg::RecordDefect:
    case termmsg::Erasing:
        return true;
    default:
        return false;
    }
}

void TTermProg::OnReply(std::int32_t id, std::intptr_t) {
    if (Finished != 0) {
        return;
    }
    switch (id) {
    case termmsg::Erasing:
        Host.ClearLog();
        Host.ShowLogLine(Host.Text(ProgrammerText::TermPreparing));
        break;
    case termmsg::WaitingForFile:
        LoadFile();
        break;
    case termmsg::SendPiece:
        SendPiece();
        break;
    case termmsg::Programmed:
        Succeeded();
        break;
    case termmsg::RecordDefect:
        TransmitError(TransferFailure("Basic-Loader: a record arrived defective"));
        break;
    case termmsg::Abort:
        Aborted(TransferFailure("Basic-Loader: the loader aborted"));
        break;
    default:
        break;
    }
}

void TTermProg::OnWatchdog() {
    Host.AddLogLine("Basic-Loader: no announcement and no progress");
    Aborted(TransferFailure(Silence("Basic-Loader: no announcement and no progress")));
}

void TTermProg::OnLineFailure() {
    Stop();
    Host.ShowLogLine(Host.Text(ProgrammerText::TermAborted));
}

void TTermProg::AwaitWork() {
    if (!retryPending_) {
        TProgrammerTyp::AwaitWork();
        return;
    }
    // The transmit thread is still busy: give it time instead of spinning.
    retryPending_ = false;
    platform::Application::Instance().ProcessMessagesFor(RetryMs, {});
    Post(termmsg::SendPiece);
}

void TTermProg::Post(std::int32_t message) {
    Host.EventQueue().PostMsg(message, 0);
}

void TTermProg::LoadFile() {
    const TProgramFile file = LocateProgramFile(Host, fileName_);
    std::string content;
    if (!file.Problem.empty() || !platform::ReadWholeFile(file.Path, content)) {
        // The loader would wait for records that never come.
        std::string text = Host.Text(ProgrammerText::TermFileMissing);
        if (std::size_t at = text.find(NamedFile); at != std::string::npos) {
            text.replace(at, std::string(NamedFile).size(), fileName_);
        }
        // The box keeps its known text; the log says where and why.
        const std::string reason =
            file.Problem.empty() ? Host.Text(ProgrammerText::FileUnreadable) : file.Problem;
        Host.ShowLogLine("\"" + platform::Utf8ToLatin1(file.Path) + "\": " + reason);
        Host.Dialogs().MessageBox(text, FileMissingCaption,
                                  platform::MB_OK | platform::MB_ICONERROR);
        Aborted(FileFailure(file.Path, reason));
        return;
    }
    if (content.size() > MaxFileSize) {
        // Cut short, the instrument would be left with half a program.
        Host.Dialogs().MessageBox(Host.Text(ProgrammerText::FirmwareFile) + " \"" + fileName_ +
                                      "\": " + Host.Text(ProgrammerText::FileUnreadable),
                                  FileMissingCaption, platform::MB_OK | platform::MB_ICONERROR);
        Aborted(FileFailure(file.Path, "larger than " + std::to_string(MaxFileSize) + " bytes"));
        return;
    }
    // The bar counts bytes; the title tells the percentage.
    Host.SetProgressMaximum(static_cast<int>(content.size()), ProgressUnit::Bytes);
    Host.ShowLogLine(Host.Text(ProgrammerText::TermProgramming));
    file_ = std::move(content);
    sent_ = 0;
    Host.ShowTitleState(TitleState::Plain);
    Host.SetProgressPosition(0);
    RestartWatchdog();
    Post(termmsg::SendPiece);
}

void TTermProg::SendPiece() {
    if (stop_ != 0 || sent_ >= file_.size()) {
        return;
    }
    const std::size_t length = std::min(PieceSize, file_.size() - sent_);
    const int result = Port.Write(file_.data() + sent_, static_cast<int>(length), true);
    if (result == serial::V24_TX_BUSY) {
        retryPending_ = true;
        return;
    }
    if (result <= 0) {
        // A short write, a failed line or a refused piece: the instrument
        // has a gap in its records.
        const bool lineFailed = result == serial::V24_LINE_FAILED;
        TFailure failure = lineFailed ? PortFailure(Port) : TransferFailure(Port.FailureText());
        if (lineFailed) {
            Host.ShowLogLine(failure.Cause);
        }
        Host.ShowTitleProgress(TitleTag('T'), 100.0 * static_cast<double>(sent_) /
                                                  static_cast<double>(file_.size()));
        TransmitError(std::move(failure));
        return;
    }
    sent_ += length;
    RestartWatchdog();
    const double percent = 100.0 * static_cast<double>(sent_) / static_cast<double>(file_.size());
    Host.SetProgressPosition(static_cast<int>(sent_));
    Host.ShowTitleProgress(TitleTag(' '), percent);
    if (sent_ < file_.size()) {
        Post(termmsg::SendPiece);
    }
}

void TTermProg::Succeeded() {
    Host.ClearLog();
    Host.ShowLogLine(Host.Text(ProgrammerText::TermSuccessful));
    Host.Beep();
    Host.ShowTitleState(TitleState::Ended);
    Succeed();
}

void TTermProg::Aborted(TFailure failure) {
    if (Finished != 0) {
        return;
    }
    Host.ShowLogLine(Host.Text(ProgrammerText::TermAborted));
    Stop();
    Fail(std::move(failure));
}

void TTermProg::TransmitError(TFailure failure) {
    Host.ShowLogLine(Host.Text(ProgrammerText::TermTransmitError));
    Aborted(std::move(failure));
}

std::string TTermProg::TitleTag(char second) const {
    return std::string(1, Job.MemoryVariant == HighMemoryVariant ? 'H' : 'L') + second + ' ';
}

} // namespace programmers
