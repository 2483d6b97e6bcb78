#include "programmers/Programmerunit.h"

#include "platform/Application.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstring>

namespace programmers {

namespace {

constexpr std::size_t ReadChunk = 1000;

} // namespace

TProgrammerTyp::TProgrammerTyp(const TProgrammerContext& context)
    : Host(context.Host), Port(context.Port), Delay(context.Delay), Job(context.Job) {}

kernel::TEventRec TProgrammerTyp::EventHandler(void* context, kernel::TEvents&,
                                               kernel::TEventRec event) {
    auto* self = static_cast<TProgrammerTyp*>(context);
    return self->HandleEvent(event) ? kernel::TEvents::ClearEvent() : event;
}

bool TProgrammerTyp::HandleEvent(const kernel::TEventRec& event) {
    switch (event.Kind) {
    case kernel::evKey:
        if (event.Id != protocol::event::KeyEscape || !AbortsOnEscape()) {
            return TakesKey(event.Id);
        }
        AbortRun("aborted by the operator (Escape)");
        return true;
    case kernel::evMessage:
        // Also after the end: a dead line ends the run's own closing waits.
        if (event.Id == protocol::event::LineFailed) {
            if (!Host.CurrentLineFailure(event.Data)) {
                return false; // stale: the session drops it
            }
            LineFailed();
            return true;
        }
        // Once the transfer has ended, what the restarted firmware says
        // belongs to the session's restart step.
        if (Finished != 0) {
            return false;
        }
        if (event.Id == protocol::event::CharsReceived) {
            return OnCharsReceived(event.Data);
        }
        if (!TakesReply(event.Id)) {
            return false;
        }
        OnReply(event.Id, event.Data);
        return true;
    case kernel::evTimer:
        if (event.Id == 0) {
            return false;
        }
        if (event.Id != WatchdogSlot) {
            return OnTimer(event.Id);
        }
        OnWatchdog();
        return true;
    default:
        return false;
    }
}

bool TProgrammerTyp::TakesReply(std::int32_t id) const {
    return id == protocol::event::Acknowledge || id == protocol::event::CommandReply ||
           id == protocol::event::Rejected;
}

void TProgrammerTyp::BeginRun(std::uint32_t watchdogMs) {
    Host.EventQueue().AddHandler(&TProgrammerTyp::EventHandler, this);
    Port.SaveLastV24Parameter();
    StartWatchdog(watchdogMs);
    Failed = 0;
    Finished = 0;
    Failure = {};
    lineDiedAfter_ = {};
    AbortedRun = false;
}

void TProgrammerTyp::PumpUntil() {
    platform::Application& application = platform::Application::Instance();
    while (Finished == 0) {
        Host.ProcessEvents();
        if (Finished != 0) {
            break;
        }
        // A closing window ends the transfer; waiting on would never return.
        if (application.Terminated()) {
            AbortRun("aborted: the program is closing");
            break;
        }
        AwaitWork();
    }
}

void TProgrammerTyp::AwaitWork() {
    platform::Application::Instance().HandleMessage();
}

void TProgrammerTyp::EndRun(long waitMs) {
    // Nothing more will come on a dead line.
    if (Failure.Line == platform::SerialResult::Ok && lineDiedAfter_.Empty()) {
        Wait(waitMs);
    }
    Host.SetProgressPosition(0);
    Host.EventQueue().RemoveHandler(&TProgrammerTyp::EventHandler, this);
    StopWatchdog();
}

void TProgrammerTyp::Wait(long ms) {
    Delay.DelayTime(ms, true);
}

void TProgrammerTyp::CountdownWait(long ms) {
    Delay.CountdownTime(ms, true);
}

void TProgrammerTyp::StartWatchdog(std::uint32_t ms) {
    WatchdogIntervalMs = ms;
    WatchdogSlot = Host.TimerPool().TimerStart(ms);
}

void TProgrammerTyp::StopWatchdog() {
    WatchdogSlot = Host.TimerPool().TimerStop(WatchdogSlot);
}

void TProgrammerTyp::RestartWatchdog() {
    Host.TimerPool().TimerRestart(WatchdogSlot);
}

bool TProgrammerTyp::WriteText(const char* text) {
    const int written = Port.Write(text, -1, false);
    Host.AddLogLine(text);
    // XON/XOFF framing may add bytes to what was written.
    if (written < static_cast<int>(std::strlen(text))) {
        LineFailed();
        return false;
    }
    return true;
}

bool TProgrammerTyp::WriteBytes(const std::uint8_t* data, std::size_t count) {
    const int written =
        Port.Write(reinterpret_cast<const char*>(data), static_cast<int>(count), false);
    if (written < static_cast<int>(count)) {
        LineFailed();
        return false;
    }
    return true;
}

int TProgrammerTyp::ReadBytes(std::uint8_t* buffer, std::size_t count) {
    const int got = Port.Read(reinterpret_cast<char*>(buffer), static_cast<unsigned long>(count));
    if (got < 0) {
        LineFailed();
        return -1;
    }
    return got;
}

bool TProgrammerTyp::ReadInto(TReplyBuffer& buffer) {
    // Only the loader's own garbage can fill it: a reply is far shorter.
    if (buffer.FreeSpace() < 2) {
        buffer.Clear();
    }
    // Read ends what it reads with a zero byte.
    const int got = ReadBytes(buffer.Free(), std::min(ReadChunk, buffer.FreeSpace() - 1));
    if (got <= 0) {
        return false;
    }
    buffer.Commit(static_cast<std::size_t>(got));
    return true;
}

void TProgrammerTyp::LineFailed() {
    if (Finished != 0 && Failed == 0) {
        // Complete and verified: the transfer stands, and the session's next
        // step on the line fails instead.
        if (lineDiedAfter_.Empty()) {
            lineDiedAfter_ = PortFailure(Port);
            Host.ShowLogLine(lineDiedAfter_.Cause);
        }
        return;
    }
    if (Finished != 0) {
        return; // said once is enough
    }
    TFailure failure = PortFailure(Port);
    Host.ShowLogLine(failure.Cause);
    Fail(std::move(failure));
    OnLineFailure();
}

std::int32_t CommandReplyNumber(const char* line) {
    if (line == nullptr) {
        return -1;
    }
    const char* a = std::strstr(line, "A.");
    const char* c = std::strstr(line, "C.");
    const char* prefix = a == nullptr || (c != nullptr && c < a) ? c : a;
    if (prefix == nullptr || prefix[2] < '0' || prefix[2] > '9') {
        return -1;
    }
    std::int32_t number = 0;
    for (const char* digit = prefix + 2; *digit >= '0' && *digit <= '9'; ++digit) {
        if (number > 99999999) {
            return -1; // no command number is that long
        }
        number = number * 10 + (*digit - '0');
    }
    return number;
}

bool ReplyLineAcknowledges(const char* line) {
    const std::size_t length = line == nullptr ? 0 : std::strlen(line);
    return length > 0 && line[length - 1] == '!';
}

TFailure FileFailure(const std::string& path, const std::string& reason) {
    return TransferFailure("firmware file \"" + platform::Utf8ToLatin1(path) + "\": " + reason);
}

void ShowFileErrorBox(TProgrammerHost& host, const std::string& path, const std::string& reason) {
    const std::string text = host.Text(ProgrammerText::FirmwareFile) + " \"" +
                             platform::Utf8ToLatin1(path) + "\":\r\n" + reason + "\r\n" +
                             host.Text(ProgrammerText::ProgrammingAborted);
    host.ShowLogLine(text);
    host.Dialogs().MessageBox(text, host.Text(ProgrammerText::CaptionError),
                              platform::MB_OK | platform::MB_ICONERROR);
}

void TProgrammerTyp::Fail(std::string cause, std::string detail) {
    Fail(TransferFailure(std::move(cause), std::move(detail)));
}

void TProgrammerTyp::Fail(TFailure failure) {
    if (Failure.Empty()) {
        Failure = std::move(failure);
    }
    StopWatchdog();
    Failed = 1;
    Finished = 1;
}

void TProgrammerTyp::AbortRun(const char* cause) {
    if (Finished == 0) {
        AbortedRun = true;
        Failure = TransferFailure(cause);
    }
    Abort();
}

std::string TProgrammerTyp::Silence(const std::string& what) const {
    return what + " within " + std::to_string(WatchdogIntervalMs) + " ms";
}

TProgrammerResult TProgrammerTyp::RunResult() const {
    // A run that never ended (a check before it returned early) is no success.
    if (Failed == 0 && Finished != 0) {
        TProgrammerResult success = TProgrammerResult::Success();
        success.LineDiedAfter = lineDiedAfter_;
        return success;
    }
    TFailure failure = Failure;
    if (failure.Empty()) {
        failure =
            TransferFailure(Finished != 0 ? "transfer failed" // never a failure without a word
                                          : "the transfer did not run");
    }
    return AbortedRun ? TProgrammerResult::Aborted(std::move(failure))
                      : TProgrammerResult::Failed(std::move(failure));
}

void TProgrammerTyp::Succeed() {
    // A late watchdog must not turn the end wait into a failure.
    StopWatchdog();
    Finished = 1;
}

} // namespace programmers
