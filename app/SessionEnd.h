#pragma once

// The ways a session or a whole run ends, each with what it means for the
// exit code, the report and the operator. UpdateSession::End applies a row.

namespace app {

enum class Outcome {
    Updated,              // the new firmware reported back
    UpdatedInLoader,      // the Basic-Loader's own text told the operator what to do
    UpToDate,             // nothing newer to load, in an automatic run
    UpToDateKept,         // equal versions, and the operator did not load again
    UpdateAvailable,      // an identification found a newer file
    Identified,           // an identification ended without an update to offer
    WrongDevice,          // the instrument, its file or its loader is not this entry's
    DeviceNewer,          // the instrument's firmware is newer than the file's
    SensorDeclined,       // no sensor answered, and the operator did not go on without one
    NoDevice,             // no instrument answered the search
    NoLoaderAnswer,       // an automatic run's bootloader step found nobody either
    FileRefused,          // a file the device entry names cannot be read
    Failed,               // a step of the transfer or the restart failed
    Aborted,              // the program was closed while the session ran
    ClosedDuringTool,     // ...while a tool or the updater library held the port
    RecoveryNotRun,       // a recovery ended before its transfer
    ConfigurationMissing, // Update.ini or ProgDevice.ini could not be taken
    PortUnavailable,      // the fixed serial port could not be opened
};

// What an ending does to the report's outcome.
enum class ReportMark {
    Decided,   // the row's word
    Failed,    // "failed" at the report's current step
    Aborted,   // "aborted" at the current step; sticks for the run
    Undecided, // left to the end of the run (SessionReport::Finish)
};

// What an ending does to the report's failure record.
enum class FailureRule {
    Cleared, // an ending that succeeded has none
    Taken,   // the failure given, else the session's last one (possibly none)
    // Concludes an earlier ending, also one that decided the session: the
    // failure given, else what that ending left.
    Kept,
};

enum class ClosingText { None, Success, Abort };

inline constexpr int KeepsExitCode = -1;

struct OutcomeRow {
    Outcome What;
    int ExitCode; // KeepsExitCode: the code stays as it is
    ReportMark Mark;
    const char* Word; // for ReportMark::Decided
    FailureRule Failure;
    ClosingText Closing;
};

const OutcomeRow& OutcomeRowOf(Outcome what);

} // namespace app
