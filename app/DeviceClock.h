#pragma once

#include <ctime>
#include <string>

namespace app {

// The set-clock command for a local time: seconds since 31 December 2002
// 00:00, or days with fraction since 30 December 1899.
std::string ClockCommand(bool secondsForm, const std::tm& local);

} // namespace app
