#include "app/Updatemain.h"
#include "platform/Application.h"
#include "programmers/HexLoad.h"

namespace app {

kernel::TEventRec TUpdateForm::ProcessEvents() {
    for (;;) {
        kernel::TEventRec event = Events.GetEvent();
        if (event.Kind != kernel::evNothing) {
            Events.DispatchEvent(event);
        }
        event = Events.GetEvent();
        if (event.Kind == kernel::evNothing) {
            return kernel::TEvents::ClearEvent();
        }
        Events.DispatchEvent(event);
        // Only the outermost pump lets window messages in; a nested one does
        // so once in eleven passes, so that it cannot starve the window.
        if (PumpDepth == 0) {
            PumpDepth = 1;
            platform::Application::Instance().ProcessMessages();
            PumpDepth = 0;
        } else if (++PumpDepth > 10) {
            PumpDepth = 0;
        }
    }
}

void TUpdateForm::Dispatch(platform::Message& message) {
    if (message.Msg == WM_CHARS_RECEIVED) {
        Events.PostMsg(event::CharsReceived, static_cast<std::intptr_t>(message.WParam));
        ProcessEvents();
    } else if (message.Msg == WM_LINE_ERROR) {
        OnLineError(static_cast<int>(message.WParam));
    } else if (message.Msg == WM_TERMINATION_SIGNAL) {
        OnTerminationSignal();
    }
}

void TUpdateForm::TimerIntervall(platform::TTimer& sender) {
    // A slot stopped while its tick was already on the way posts nothing.
    if (sender.Enabled()) {
        Events.PostTimer(sender.Tag());
        ProcessEvents();
    }
}

void TUpdateForm::OkBitBtnClick() {
    Sprache->SetEnabled(false);
    Events.PostKey(event::KeyStart);
    ProcessEvents();
}

void TUpdateForm::StartTimerTimer() {
    StartTimer->SetEnabled(false);
    if (Config.AutoStartActive) {
        OkBitBtnClick();
    } else {
        ProcessEvents();
    }
}

void TUpdateForm::SecTimerTimer() {
    if (SecTimer->Enabled()) {
        WaitProgressBar->SetPosition(WaitProgressBar->Position() + 1);
    }
}

} // namespace app
