#include "app/Updatemain.h"
#include "platform/Application.h"

namespace app {

kernel::TEventRec TUpdateForm::ProcessEvents() {
    for (;;) {
        kernel::TEventRec event = events_.GetEvent();
        if (event.Kind != kernel::evNothing) {
            DispatchUnlessStale(event);
        }
        event = events_.GetEvent();
        if (event.Kind == kernel::evNothing) {
            return kernel::TEvents::ClearEvent();
        }
        DispatchUnlessStale(event);
        // Only the outermost pump lets window messages in; a nested one does
        // so once in eleven passes, so that it cannot starve the window.
        if (pumpDepth_ == 0) {
            pumpDepth_ = 1;
            platform::Application::Instance().ProcessMessages();
            pumpDepth_ = 0;
        } else if (++pumpDepth_ > 10) {
            pumpDepth_ = 0;
        }
    }
}

void TUpdateForm::DispatchUnlessStale(kernel::TEventRec event) {
    if (timers_.TickIsCurrent(event)) {
        events_.DispatchEvent(event);
    }
}

void TUpdateForm::Dispatch(platform::Message& message) {
    if (message.Msg == WM_CHARS_RECEIVED) {
        events_.PostMsg(event::CharsReceived, static_cast<std::intptr_t>(message.WParam));
        ProcessEvents();
    } else if (message.Msg == WM_LINE_ERROR) {
        session_.OnLineError(static_cast<int>(message.WParam));
    } else if (message.Msg == WM_TERMINATION_SIGNAL) {
        OnTerminationSignal();
    }
}

void TUpdateForm::TimerIntervall(platform::TTimer& sender) {
    // A slot stopped while its tick was already on the way posts nothing.
    if (sender.Enabled()) {
        events_.PostTimer(sender.Tag(), sender.Arming());
        ProcessEvents();
    }
}

void TUpdateForm::OkBitBtnClick() {
    Sprache->SetEnabled(false);
    events_.PostKey(event::KeyStart);
    ProcessEvents();
}

void TUpdateForm::StartTimerTimer() {
    StartTimer->SetEnabled(false);
    if (config_.AutoStartActive) {
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
