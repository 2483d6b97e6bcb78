#pragma once

#include <string>
#include <vector>

namespace platform {

// Starts a program found on PATH with the given arguments, without a shell,
// and does not wait for it. False when it could not be started.
bool StartDetached(const std::vector<std::string>& argv);

// Files for a child's standard streams; an empty name keeps the parent's.
struct ProcessFiles {
    std::string Input = "/dev/null";
    std::string Output;
    std::string Error; // "&1": the same file as Output
};

// Starts argv[0] (a path) without a shell; the process id, or -1.
int SpawnProcess(const std::vector<std::string>& argv, const ProcessFiles& files);

} // namespace platform
