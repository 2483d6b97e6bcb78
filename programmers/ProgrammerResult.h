#pragma once

#include "platform/SerialDevice.h"

#include <string>
#include <utility>

namespace programmers {

// The session step a programmer's run is reported under.
inline constexpr const char* TransferStep = "transfer";

// Why a step failed, as the log, the report and the operator's box name it.
struct TFailure {
    std::string Step;   // the session step: "search", "check", "transfer", "restart", ...
    std::string Cause;  // short and specific, e.g. "COM3 (/dev/ttyUSB0): read: hung up (EIO)"
    std::string Detail; // the reply or time-out that failed it; may be empty
    // The line's result and errno when the line failed it, else Ok and 0.
    platform::SerialResult Line = platform::SerialResult::Ok;
    int Errno = 0;

    bool Empty() const { return Cause.empty(); }
};

// What a programmer's run ends with.
struct TProgrammerResult {
    enum class Kind { Success, Failed, Aborted };

    Kind Result = Kind::Failed;
    TFailure Failure; // set for Failed and Aborted
    // Success only: the line died after the transfer was complete. The
    // transfer stands; the session's next step on the line fails with this.
    TFailure LineDiedAfter;

    static TProgrammerResult Success() { return {Kind::Success, {}, {}}; }
    static TProgrammerResult Failed(TFailure failure) {
        return {Kind::Failed, std::move(failure), {}};
    }
    static TProgrammerResult Aborted(TFailure failure) {
        return {Kind::Aborted, std::move(failure), {}};
    }
    bool Succeeded() const { return Result == Kind::Success; }
};

} // namespace programmers
