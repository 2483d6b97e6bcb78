#include "app/Updatemain.h"

namespace app {

// A silent pause of many seconds looks like a hang, and an operator who
// unplugs the instrument then ruins its update: the wait panel counts down.
void TUpdateForm::ShowWaitCountdown(long secondsLeft) {
    std::string caption = WaitPanel->Caption();
    // A language change meanwhile has put a fresh caption without our part.
    if (!countdownSuffix_.empty() && caption.ends_with(countdownSuffix_)) {
        caption.resize(caption.size() - countdownSuffix_.size());
    }
    if (secondsLeft <= 0) {
        WaitPanel->SetCaption(caption);
        if (countdownShowedPanel_) {
            WaitPanel->SetVisible(false);
        }
        countdownSuffix_.clear();
        countdownShowedPanel_ = false;
        return;
    }
    if (countdownSuffix_.empty()) {
        countdownShowedPanel_ = !WaitPanel->Visible();
    }
    std::string left = Text(Msg::WaitSecondsLeft);
    if (std::size_t x = left.find('X'); x != std::string::npos) {
        left.replace(x, 1, std::to_string(secondsLeft));
    }
    countdownSuffix_ = " " + left;
    WaitPanel->SetCaption(caption + countdownSuffix_);
    WaitPanel->SetVisible(true);
}

} // namespace app
