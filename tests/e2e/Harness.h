#pragma once

#include "../support/TempFolder.h"
#include "platform/Process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
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

// The demo's program folder as prog/ and an empty port folder ports/ in
// folder; updateIni, when given, replaces the demo's Update.ini.
inline void LayOutProgramFolder(const testing_support::TempFolder& folder,
                                const std::string& updateIni = {}) {
    std::filesystem::copy(DEMO_FOLDER, folder.File("prog"),
                          std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(folder.File("ports"));
    if (!updateIni.empty()) {
        folder.Write("prog/Update.ini", updateIni);
    }
}

// An automatic update with the debug log on, as most end-to-end runs want it.
inline constexpr const char* AutoStartDebugIni = "Language=0\r\nAutoStart=YES\r\nDebugInfo=YES\r\n";

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
        WaitForLink(link);
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
    // Generous for a loaded CI machine. A test cannot go on without the
    // line: the simulator is stopped and the constructor throws, naming why.
    static constexpr std::chrono::seconds LinkBound{30};

    void WaitForLink(const std::string& link) {
        const auto deadline = std::chrono::steady_clock::now() + LinkBound;
        std::string why;
        while (!std::filesystem::exists(link)) {
            int status = 0;
            if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) != 0) {
                pid_ = -1;
                why = "the simulated instrument ended before it made its link";
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                why = "no link from the simulated instrument within " +
                      std::to_string(LinkBound.count()) + " s";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!why.empty()) {
            Stop();
            throw std::runtime_error(why + " (" + link + "); its errors: " + Errors());
        }
    }

    const testing_support::TempFolder& folder_;
    pid_t pid_ = -1;
};

} // namespace e2e
