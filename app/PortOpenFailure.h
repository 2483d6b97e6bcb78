#pragma once

#include "programmers/ProgrammerResult.h"
#include "serial/Comport.h"

#include <string>

namespace app {

// The box text for a port that could not be opened: the port, its device and
// the reason, in the language (0 German, else English). Lacking permission
// names the group that owns the device, which is what the operator must join.
std::string OpenFailureText(const serial::TOpenFailure& failure, int language);

// The same for the log and the report, in English, at start-up.
programmers::TFailure OpenFailureRecord(const serial::TOpenFailure& failure);

} // namespace app
