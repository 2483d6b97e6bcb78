#include "programmers/Programmerunit.h"

#include "platform/Application.h"

#include <cstring>

namespace programmers {

kernel::TEventRec TProgrammerTyp::EventHandler(void* context, kernel::TEvents&,
                                               kernel::TEventRec event) {
    auto* self = static_cast<TProgrammerTyp*>(context);
    return self->HandleEvent(event) ? kernel::TEvents::ClearEvent() : event;
}

bool TProgrammerTyp::HandleEvent(const kernel::TEventRec& event) {
    switch (event.Kind) {
    case kernel::evKey:
        if (event.Id != KeyEscape) {
            return false;
        }
        Abort();
        return true;
    case kernel::evMessage:
        if (event.Id == MsgCharsReceived) {
            return OnCharsReceived(event.Data);
        }
        if (!TakesReply(event.Id)) {
            return false;
        }
        OnReply(event.Id, event.Data);
        return true;
    case kernel::evTimer:
        if (event.Id == 0 || event.Id != WatchdogSlot) {
            return false;
        }
        OnWatchdog();
        return true;
    default:
        return false;
    }
}

bool TProgrammerTyp::TakesReply(std::int32_t id) const {
    return id == MsgAcknowledge || id == MsgReplyA || id == MsgRefused;
}

void TProgrammerTyp::BeginRun(std::uint32_t watchdogMs) {
    Host->EventQueue().AddHandler(&TProgrammerTyp::EventHandler, this);
    Port->SaveLastV24Parameter();
    StartWatchdog(watchdogMs);
}

void TProgrammerTyp::PumpUntil(const std::uint8_t& finished) {
    platform::Application& application = platform::Application::Instance();
    while (finished == 0) {
        Host->ProcessEvents();
        if (finished != 0) {
            break;
        }
        // A closing window ends the transfer; waiting on would never return.
        if (application.Terminated()) {
            Abort();
            break;
        }
        application.HandleMessage();
    }
}

void TProgrammerTyp::EndRun(long waitMs) {
    Wait(waitMs);
    Host->ShowProgress(1, 0);
    Host->EventQueue().RemoveHandler(&TProgrammerTyp::EventHandler, this);
    StopWatchdog();
}

void TProgrammerTyp::Wait(long ms) {
    DelayComp->DelayTime(ms, true);
}

void TProgrammerTyp::StartWatchdog(std::uint32_t ms) {
    WatchdogSlot = Host->TimerPool().TimerStart(ms);
}

void TProgrammerTyp::StopWatchdog() {
    WatchdogSlot = Host->TimerPool().TimerStop(WatchdogSlot);
}

void TProgrammerTyp::RestartWatchdog() {
    Host->TimerPool().TimerRestart(WatchdogSlot);
}

bool TProgrammerTyp::WriteText(const char* text) {
    Port->Write(text, -1, false);
    Host->AddLogLine(text);
    return true;
}

bool TProgrammerTyp::WriteBytes(const std::uint8_t* data, std::size_t count) {
    const int written =
        Port->Write(reinterpret_cast<const char*>(data), static_cast<int>(count), false);
    return written == static_cast<int>(count);
}

} // namespace programmers
