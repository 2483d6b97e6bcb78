#include "app/SessionEnd.h"

#include "app/UpdateSession.h"

#include <array>

namespace app {

namespace {

using enum Outcome;
constexpr int Keeps = KeepsExitCode;
constexpr ReportMark Decided = ReportMark::Decided, FailedHere = ReportMark::Failed,
                     AbortedHere = ReportMark::Aborted, Undecided = ReportMark::Undecided;
constexpr FailureRule Cleared = FailureRule::Cleared, Taken = FailureRule::Taken,
                      Kept = FailureRule::Kept;
constexpr ClosingText NoText = ClosingText::None;

// An identification counts as done once the instrument answered, whatever the
// check decided. An operator's "No" to loading the same version again leaves
// the exit code as it was. A declined sensor question fails the run without
// a word of its own: the end of the run calls it aborted.
constexpr std::array<OutcomeRow, 18> Rows = {{
    {Updated, exitcode::Success, Decided, outcome::Updated, Cleared, ClosingText::Success},
    {UpdatedInLoader, exitcode::Success, Decided, outcome::Updated, Cleared, NoText},
    {UpToDate, exitcode::NothingNewer, Decided, outcome::UpToDate, Cleared, NoText},
    {UpToDateKept, Keeps, Decided, outcome::UpToDate, Cleared, NoText},
    {UpdateAvailable, exitcode::Success, Decided, outcome::UpdateAvailable, Cleared, NoText},
    {Identified, exitcode::Success, Undecided, nullptr, Kept, NoText},
    {WrongDevice, exitcode::ProgrammingFailed, Decided, outcome::WrongDevice, Taken, NoText},
    {DeviceNewer, exitcode::ProgrammingFailed, Decided, outcome::DeviceNewer, Taken, NoText},
    {SensorDeclined, exitcode::ProgrammingFailed, Undecided, nullptr, Taken, NoText},
    {NoDevice, exitcode::NoInstrument, Decided, outcome::NoDevice, Taken, NoText},
    {NoLoaderAnswer, exitcode::ProgrammingFailed, Decided, outcome::NoDevice, Taken, NoText},
    {FileRefused, exitcode::ProgrammingFailed, FailedHere, nullptr, Taken, NoText},
    {Failed, exitcode::ProgrammingFailed, FailedHere, nullptr, Taken, ClosingText::Abort},
    {Aborted, exitcode::ProgrammingFailed, AbortedHere, nullptr, Taken, ClosingText::Abort},
    // The close itself decided the report.
    {ClosedDuringTool, exitcode::ProgrammingFailed, Undecided, nullptr, Kept, NoText},
    // The check that stopped the recovery said why.
    {RecoveryNotRun, exitcode::ProgrammingFailed, Undecided, nullptr, Kept, NoText},
    {ConfigurationMissing, exitcode::ConfigurationMissing, FailedHere, nullptr, Taken, NoText},
    {PortUnavailable, exitcode::PortUnavailable, Undecided, nullptr, Taken, NoText},
}};

constexpr bool RowsInOrder() {
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        if (static_cast<std::size_t>(Rows[i].What) != i) {
            return false;
        }
    }
    return Rows.back().What == PortUnavailable;
}
static_assert(RowsInOrder(), "one row per outcome, in the enumeration's order");

} // namespace

const OutcomeRow& OutcomeRowOf(Outcome what) {
    return Rows[static_cast<std::size_t>(what)];
}

void UpdateSession::End(Outcome what, programmers::TFailure failure) {
    const OutcomeRow& row = OutcomeRowOf(what);
    // The cause is used once: a step that runs again must fill its own.
    if (failure.Empty()) {
        failure = std::move(Session.LastFailure);
    }
    Session.LastFailure = {};
    // The first ending decides; what a later one found goes to the log only
    // (only the rows that conclude an ending take the one before into account).
    if (Session.Decided && row.Failure != FailureRule::Kept) {
        if (!failure.Empty() && failure.Cause != report_.Failure.Cause) {
            window_.ShowLine(failure.Cause);
        }
        return;
    }
    Session.Decided = Session.Decided || row.Mark != ReportMark::Undecided;
    if (row.ExitCode != KeepsExitCode) {
        exitCode_ = row.ExitCode;
    }
    if (failure.Step.empty()) {
        failure.Step = report_.Step;
    }
    // Once closed, the run stays aborted, with the cause of that.
    const bool abortedBefore = report_.AbortSticks;
    switch (row.Mark) {
    case ReportMark::Decided:
        report_.Decide(row.Word);
        break;
    case ReportMark::Failed:
        report_.Fail();
        break;
    case ReportMark::Aborted:
        if (!abortedBefore) {
            report_.Abort(window_.Closed());
        }
        break;
    case ReportMark::Undecided:
        break;
    }
    if (!abortedBefore) {
        if (row.Failure == FailureRule::Cleared) {
            report_.Failure = {};
        } else if (row.Failure == FailureRule::Taken || !failure.Empty()) {
            report_.Failure = std::move(failure);
        }
    }
    if (row.Closing == ClosingText::Success) {
        ShowLogText(Text(Msg::DownloadSuccessful));
    } else if (row.Closing == ClosingText::Abort && !(what == Aborted && window_.Closed())) {
        ShowLogText(Config.Language == 0 ? AbbruchtextD : AbbruchtextE);
    }
}

} // namespace app
