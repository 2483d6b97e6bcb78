#pragma once

#include "../support/TempFolder.h"
#include "platform/Process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace e2e {

// A program run to its end (or killed after a bound), with its output.
struct Run {
    int ExitCode = -1;
    bool TimedOut = false;
    std::string Out;
    std::string Err;
    bool OutHas(const std::string& text) const { return Out.find(text) != std::string::npos; }
    bool ErrHas(const std::string& text) const { return Err.find(text) != std::string::npos; }
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& out,
                   const std::string& err, const std::string& in = "/dev/null") {
    return platform::SpawnProcess(argv, {in, out, err});
}

// Waits up to the bound; kills the process after it.
inline int WaitFor(pid_t pid, std::chrono::seconds bound, bool& timedOut) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            timedOut = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The simulated instrument, linked as a port of a port-map folder.
class Instrument {
public:
    Instrument(const testing_support::TempFolder& folder, const std::string& profile,
               const std::string& link)
        : folder_(folder) {
        folder.Write("instrument.profile", profile);
        pid_ = Spawn({INSTRUMENT_SIM, "--profile", folder.File("instrument.profile"), "--link",
                      link, "--transcript", folder.File("transcript.log"), "--flash-out",
                      folder.File("flash.txt")},
                     folder.File("sim.out"), folder.File("sim.err"));
        for (int i = 0; i < 250 && !std::filesystem::exists(link); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Instrument() { Stop(); }
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            bool timedOut = false;
            WaitFor(pid_, std::chrono::seconds(10), timedOut);
            pid_ = -1;
        }
    }
    std::string Transcript() const { return ReadFile(folder_.File("transcript.log")); }
    std::string Errors() const { return ReadFile(folder_.File("sim.err")); }
    // The flash as the instrument dumps it (TI-TXT), complete once stopped.
    std::string Flash() const { return ReadFile(folder_.File("flash.txt")); }

private:
    const testing_support::TempFolder& folder_;
    pid_t pid_ = -1;
};

} // namespace e2e
