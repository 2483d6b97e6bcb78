#pragma once

#include <string>
#include <vector>

namespace platform {

// Starts a program found on PATH with the given arguments, without a shell,
// and does not wait for it. False when it could not be started.
bool StartDetached(const std::vector<std::string>& argv);

} // namespace platform
