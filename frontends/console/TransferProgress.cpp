#include "frontends/console/TransferProgress.h"

#include <algorithm>

namespace console {

void TransferProgress::Update(int position, int maximum, const std::string& unit) {
    if (position <= 0 || maximum <= 0) {
        if (position_ > 0) {
            shown_ = actual_ = tenthLined_ = positionLined_ = 0;
            lastLine_.reset();
        }
        position_ = std::max(position, 0);
        maximum_ = std::max(maximum, 0);
        return;
    }
    position_ = position;
    maximum_ = maximum;
    unit_ = unit;
    const long long percent = 100LL * std::min(position, maximum) / maximum;
    actual_ = static_cast<int>(percent);
    shown_ = std::max(shown_, actual_);
}

std::string TransferProgress::Text() const {
    const std::string percent = std::to_string(shown_) + " %";
    if (unit_.empty() || actual_ < shown_) {
        return percent;
    }
    return percent + " (" + std::to_string(position_) + "/" + std::to_string(maximum_) + " " +
           unit_ + ")";
}

std::optional<std::string> TransferProgress::DueLine(Clock::time_point now) {
    if (!Active() || position_ == positionLined_ || actual_ < shown_) {
        return std::nullopt;
    }
    const int tenth = actual_ / 10;
    const bool newTenth = tenth > tenthLined_ || !lastLine_;
    const bool secondPassed = lastLine_ && now - *lastLine_ >= std::chrono::seconds(1);
    if (!newTenth && !secondPassed) {
        return std::nullopt;
    }
    tenthLined_ = tenth;
    positionLined_ = position_;
    lastLine_ = now;
    return "progress: " + Text();
}

} // namespace console
