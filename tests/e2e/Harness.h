#pragma once

#include "../support/TempFolder.h"
#include "platform/Process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace e2e {

// The tool and the simulated instrument run this many times fast together.
inline constexpr const char* TimeDivisor = "10";

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

// Replaces the first occurrence of what; false when there is none.
inline bool ReplaceOnce(std::string& text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    if (at == std::string::npos) {
        return false;
    }
    text.replace(at, what.size(), with);
    return true;
}

// Replaces the first what in text; a test cannot go on without it.
inline void Replace(std::string& text, const std::string& what, const std::string& with) {
    if (!ReplaceOnce(text, what, with)) {
        throw std::runtime_error("not found: " + what);
    }
}

// An automatic update with the debug log on, as most end-to-end runs want it.
inline constexpr const char* AutoStartDebugIni = "Language=0\r\nAutoStart=YES\r\nDebugInfo=YES\r\n";

// Lines of an ini file, each ended with CR LF.
inline std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

// How often what stands in text (overlapping places count).
inline std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the instrument received, as one escaped text: the transcript notes
// each read on a line of its own, and a busy machine splits reads anywhere.
inline std::string ReceivedText(const std::string& transcript) {
    std::string received;
    std::size_t at = 0;
    while (at < transcript.size()) {
        std::size_t end = transcript.find('\n', at);
        if (end == std::string::npos) {
            end = transcript.size();
        }
        const std::size_t mark = transcript.find(' ', at);
        if (mark < end && transcript.compare(mark, 4, " rx ") == 0) {
            received.append(transcript, mark + 4, end - mark - 4);
        }
        at = end + 1;
    }
    return received;
}

// The forms in which a restarted firmware may first speak: its acknowledge,
// an "A." line without "!", reply 30 (new data stored); at once, and 50 ms
// later, while the programmer still waits with the line it restored.
inline const std::vector<std::string> RestartChatter = {"A.1111!",     "A.1000",     "I.30#",
                                                        "@50:A.1111!", "@50:A.1000", "@50:I.30#"};

// True when the instrument's firmware restarted after programming and then,
// itself and not a loader it went back to, took the exit command; the
// simulated instrument notes both, the second with the line it took it at.
inline bool NewFirmwareTookTheExit(const std::string& transcript) {
    const std::size_t restarted = transcript.rfind("-- firmware restarted\n");
    if (restarted == std::string::npos) {
        return false;
    }
    const std::size_t exit = transcript.find("taken by the firmware", restarted);
    const std::size_t backInLoader = transcript.find("-- loader ", restarted);
    return exit != std::string::npos && (backInLoader == std::string::npos || backInLoader > exit);
}

// update(restart, extra) runs one update against an instrument whose profile
// has on.restart=restart and the lines extra, and gives the tool's run and
// the instrument's transcript. Each chatter form ends in success, and only
// with the new firmware running and taking the exit command; a firmware that
// does not run after the restart fails the session.
template <class UpdateWith> void ExpectSuccessOnlyWithTheNewFirmwareRunning(UpdateWith update) {
    for (const std::string& chatter : RestartChatter) {
        SCOPED_TRACE("restart chatter " + chatter);
        const auto [run, transcript] = update(chatter, "");
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0) << run.Out;
        EXPECT_TRUE(NewFirmwareTookTheExit(transcript)) << transcript;
    }
    SCOPED_TRACE("a firmware that does not run");
    const auto [run, transcript] = update("I.30#", "after_restart=silent\n");
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("nach der Programmierung nicht gemeldet")) << run.Out;
    EXPECT_FALSE(run.OutHas("Download erfolgreich"));
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

// A program run to its end, or killed after the bound; its output is kept
// in folder as out.txt and err.txt.
inline Run RunProgram(const testing_support::TempFolder& folder,
                      const std::vector<std::string>& argv,
                      std::chrono::seconds bound = std::chrono::seconds(120)) {
    Run run;
    pid_t pid = Spawn(argv, folder.File("out.txt"), folder.File("err.txt"));
    run.ExitCode = WaitFor(pid, bound, run.TimedOut);
    run.Out = ReadFile(folder.File("out.txt"));
    run.Err = ReadFile(folder.File("err.txt"));
    return run;
}

// An automatic update of the program folder prog/ with the ports of
// ports/, at ten times speed, run to its end; extra options appended.
inline Run RunUpdate(const testing_support::TempFolder& folder, const std::string& console,
                     const std::vector<std::string>& extra = {},
                     std::chrono::seconds bound = std::chrono::seconds(120)) {
    std::vector<std::string> argv = {
        console,          "--dir",    folder.File("prog"), "--ports", folder.File("ports"),
        "--time-divisor", TimeDivisor};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunProgram(folder, argv, bound);
}

// Edits the demo's ProgDevice.ini in prog/, each text replaced once;
// returns the first text not found, empty when all were.
inline std::string EditDeviceIni(const testing_support::TempFolder& folder,
                                 const std::vector<std::pair<std::string, std::string>>& edits) {
    std::string devices = ReadFile(folder.File("prog/ProgDevice.ini"));
    for (const auto& [what, with] : edits) {
        if (!ReplaceOnce(devices, what, with)) {
            return what;
        }
    }
    folder.Write("prog/ProgDevice.ini", devices);
    return {};
}

// An instrument that waits in a loader answering no probe: a port where
// nothing answers.
inline constexpr const char* SilentLoader =
    "start_mode=0\nstart=loader\nbaud=4800\nstop_bits=2\npcb=1\ndevice=1\nversion=1.00\n"
    "serial=1\nloader=none\n";

// ProgDevice.ini with one hand-held meter (43170, "Meter Z70") that an
// external tool programs; its recovery image is Z70_DEF.MOT, and its loader
// names itself bootLoadKenn in its probe answer.
inline std::string MeterZ70Devices(const std::string& progFile1, const std::string& progFile2,
                                   const std::string& bootLoadKenn) {
    return Lines({"StarttextD=Start",
                  "StarttextE=Start",
                  "AbbruchtextD=Das Update wurde abgebrochen.",
                  "AbbruchtextE=The update was aborted.",
                  "",
                  "DevStartCmd=1",
                  "DeviceNrDef=43170",
                  "DeviceNr=43170",
                  "DeviceName=Meter Z70",
                  "ProgFile1=" + progFile1,
                  "ProgFile2=" + progFile2,
                  "ProgFile3=",
                  "SWKenn1=",
                  "SWKenn2=56 45 52 3A",
                  "SWKenn3=",
                  "BootLoadKenn=" + bootLoadKenn,
                  "FlashErase1=",
                  "FlashErase2=",
                  "FlashErase3=",
                  "ProgDefFile=Z70_DEF.MOT",
                  "ProzTyp=F149"});
}

// The demo's firmware file in prog/ replaced by another.
inline void ReplaceFirmware(const testing_support::TempFolder& folder, const std::string& name,
                            const std::string& content) {
    std::filesystem::remove(folder.File("prog/DM10_V200.TXT"));
    folder.Write("prog/" + name, content);
}

// True once what read() returns holds text; false after the bound.
template <class Read>
bool WaitUntilItHolds(Read read, const std::string& text, std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (read().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// update-console driven through its standard input, as an operator at a
// service bench would: commands are typed while it runs.
class ConsoleSession {
public:
    ConsoleSession(const testing_support::TempFolder& folder, std::vector<std::string> argv)
        : folder_(folder) {
        const std::string fifo = folder.File("commands");
        ::mkfifo(fifo.c_str(), 0600);
        // Held open for writing before the tool opens it, so that neither
        // side blocks; closing it is the end of the tool's input.
        commands_ = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        pid_ = Spawn(argv, folder.File("out.txt"), folder.File("err.txt"), fifo);
    }
    ~ConsoleSession() {
        if (pid_ > 0) {
            Finish(std::chrono::seconds(1));
        }
    }
    bool Started() const { return commands_ >= 0 && pid_ > 0; }
    std::string Out() const { return ReadFile(folder_.File("out.txt")); }
    // True once the output holds text; false after the bound.
    bool WaitForOutput(const std::string& text,
                       std::chrono::seconds bound = std::chrono::seconds(30)) {
        return WaitUntilItHolds([this] { return Out(); }, text, bound);
    }
    bool Type(const std::string& line) {
        const std::string text = line + "\n";
        return ::write(commands_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // Ends the input and waits for the program's exit code.
    Run Finish(std::chrono::seconds bound = std::chrono::seconds(60)) {
        if (commands_ >= 0) {
            ::close(commands_);
            commands_ = -1;
        }
        Run run;
        run.ExitCode = WaitFor(pid_, bound, run.TimedOut);
        pid_ = -1;
        run.Out = Out();
        run.Err = ReadFile(folder_.File("err.txt"));
        return run;
    }

private:
    const testing_support::TempFolder& folder_;
    int commands_ = -1;
    pid_t pid_ = -1;
};

// A service bench's retry: update-console (program folder prog/, ports
// ports/) fails a transfer with the bootloader box, the operator types OK,
// and the run goes on. The output says whether the retry succeeded.
inline Run RetryAfterBootloaderFailure(const testing_support::TempFolder& folder,
                                       const std::string& console) {
    ConsoleSession session(folder,
                           {console, "--dir", folder.File("prog"), "--ports", folder.File("ports"),
                            "--time-divisor", TimeDivisor, "--start"});
    if (session.Started() && session.WaitForOutput("[Error] Fehler im Bootloader") &&
        session.Type("ok")) {
        session.WaitForOutput("Download erfolgreich");
    }
    return session.Finish();
}

// The simulated instrument, linked as a port of a port-map folder; its clock
// runs as fast as the tool's (timeDivisor).
class Instrument {
public:
    Instrument(const testing_support::TempFolder& folder, const std::string& profile,
               const std::string& link, const std::string& timeDivisor = TimeDivisor)
        : folder_(folder) {
        folder.Write("instrument.profile", profile);
        std::filesystem::create_directories(folder.File("received"));
        pid_ = Spawn({INSTRUMENT_SIM, "--profile", folder.File("instrument.profile"), "--link",
                      link, "--transcript", folder.File("transcript.log"), "--flash-out",
                      folder.File("flash.txt"), "--files-out", folder.File("received"),
                      "--time-divisor", timeDivisor},
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
    // The operator switches the instrument on (a profile with power=off).
    void SwitchOn() {
        if (pid_ > 0) {
            ::kill(pid_, SIGUSR1);
        }
    }
    std::string Transcript() const { return ReadFile(folder_.File("transcript.log")); }
    // True once the transcript holds text; false after the bound.
    bool WaitForTranscript(const std::string& text,
                           std::chrono::seconds bound = std::chrono::seconds(30)) const {
        return WaitUntilItHolds([this] { return Transcript(); }, text, bound);
    }
    std::string Errors() const { return ReadFile(folder_.File("sim.err")); }
    // The flash as the instrument dumps it (TI-TXT), complete once stopped.
    std::string Flash() const { return ReadFile(folder_.File("flash.txt")); }
    // A file the instrument received, once stopped; nullopt when none.
    std::optional<std::string> Received(const std::string& name) const {
        const std::string path = folder_.File("received/" + name);
        if (!std::filesystem::exists(path)) {
            return std::nullopt;
        }
        return ReadFile(path);
    }

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

// RunUpdate against the simulated instrument of profile on COM1; what the
// instrument stored and received is read once it has stopped.
struct UpdateResult {
    Run Tool;
    std::string Flash;
    std::string Transcript;
};
inline UpdateResult UpdateAgainst(const testing_support::TempFolder& folder,
                                  const std::string& profile, const std::string& console) {
    Instrument instrument(folder, profile, folder.File("ports/COM1"));
    UpdateResult result{RunUpdate(folder, console), {}, {}};
    instrument.Stop();
    result.Flash = instrument.Flash();
    result.Transcript = instrument.Transcript();
    return result;
}

} // namespace e2e
