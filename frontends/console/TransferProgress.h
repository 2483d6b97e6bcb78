#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace console {

// The transfer's progress as an operator reads it, from the progress bar of
// the window model: a percentage that never goes backwards within one
// transfer, and the plain lines a log or a pipe gets instead of a status
// line. A transfer method may raise the bar's maximum once it has learnt
// more (the erase of a bootstrap loader); the percentage then holds until
// the work done catches up with it.
class TransferProgress {
public:
    using Clock = std::chrono::steady_clock;

    // The bar's maximum and position as the model now has them, and what a
    // step counts ("blocks", "bytes"); without a unit (a percentage, stages,
    // seconds) only the percentage is told. A position back to 0 ends the
    // transfer; the next one starts from 0 %.
    void Update(int position, int maximum, const std::string& unit);

    bool Active() const { return position_ > 0 && maximum_ > 0; }
    // The percentage shown, never below what it showed before.
    int Percent() const { return shown_; }
    // "40 % (104/256 blocks)"; the percentage alone without a unit and
    // while it is held, when the counts would say less.
    std::string Text() const;

    // A line is due at each tenth of the transfer reached, and in between
    // once a second while the transfer moves; nothing while the percentage
    // is held above the work done.
    std::optional<std::string> DueLine(Clock::time_point now);

private:
    int position_ = 0;
    int maximum_ = 0;
    std::string unit_;
    int shown_ = 0;
    int actual_ = 0;
    int tenthLined_ = 0;
    int positionLined_ = 0;
    std::optional<Clock::time_point> lastLine_;
};

} // namespace console
