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

// Starts argv[0] (a path) without a shell; the process id, or -1 with errno
// set. With ownGroup the child leads a process group of its own.
int SpawnProcess(const std::vector<std::string>& argv, const ProcessFiles& files,
                 bool ownGroup = false);

// A child started from an argument vector, never through a shell, that the
// caller waits for in its own steps (so that its loop keeps running). A child
// still running when the object goes is ended, with whatever it started.
class TChildProcess {
public:
    TChildProcess() = default;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    ~TChildProcess();

    // argv[0] is a path; standard streams and environment are inherited.
    bool Start(const std::vector<std::string>& argv);
    // Why the last Start failed (errno), 0 after a start.
    int StartError() const { return startError_; }
    bool Running() const { return pid_ > 0; }
    int Pid() const { return pid_; }
    // Looks once, without blocking: true when the child has ended, with its
    // exit code (128 + signal when a signal ended it).
    bool Ended(int& exitCode);
    // SIGTERM to the child's group, graceMs for the child to end, then
    // SIGKILL to what is left of the group; reaps the child.
    void Terminate(int graceMs = 2000);

private:
    int pid_ = -1;
    int startError_ = 0;
};

} // namespace platform
