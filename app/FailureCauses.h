#pragma once

#include "programmers/ProgrammerResult.h"

#include <string>
#include <vector>

// Why a file could not be taken, in English for the log and the report (the
// operator's boxes keep their own texts). Paths come out in Latin-1, as the
// system holds its texts.

namespace app {

// A failure the application finds itself, not on the line. An empty step is
// the report's step at the session's end.
inline programmers::TFailure FailureAt(std::string step, std::string cause,
                                       std::string detail = {}) {
    return {std::move(step), std::move(cause), std::move(detail), platform::SerialResult::Ok, 0};
}

// name in folder (empty: the current directory), found as on Windows: its
// path and why it cannot be read; "cannot be read" when it is there.
std::string FileProblemCause(const std::string& folder, const std::string& name);

// A configuration file looked for in folders in turn: where it was looked
// for when none holds it, else what stood in the first that does.
std::string ConfigFileCause(const std::vector<std::string>& folders, const std::string& name);

} // namespace app
