// A production line: N simulated instruments (default 8), each on a
// pseudo-terminal of its own and updated by an update-console of its own
// (--port /dev/pts/N) with a 48 KB image through the MSP430 ROM loader at
// time divisor 10, all at once. Prints the wall time of one update alone and
// of the N together, the tool's processor time per instrument, and whether
// every instrument holds the image afterwards; each round with fresh
// instruments, and the medians over the rounds.
//
//   line_bench [instruments] [rounds]     (default 8 3)
#include "RomSession.h"
#include "platform/Process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Bounds of the waits: a hung tool or simulator ends the benchmark with a
// message instead of holding it forever.
constexpr auto SimulatorStartBound = std::chrono::seconds(5);
constexpr auto UpdatesBound = std::chrono::seconds(300);
constexpr auto StopBound = std::chrono::seconds(10);

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes of a TI-TXT text by address: the instrument's dump and the image
// may break their lines and sections differently.
std::map<unsigned, unsigned> TiTxtBytes(const std::string& text) {
    std::map<unsigned, unsigned> bytes;
    std::istringstream in(text);
    std::string word;
    unsigned address = 0;
    while (in >> word) {
        if (word[0] == '@') {
            address = static_cast<unsigned>(std::stoul(word.substr(1), nullptr, 16));
        } else if (word != "q") {
            bytes[address++] = static_cast<unsigned>(std::stoul(word, nullptr, 16));
        }
    }
    return bytes;
}

struct Instrument {
    fs::path Folder;
    pid_t Simulator = -1;
    std::string Pty;
    pid_t Tool = -1;
    int ExitCode = -1;
    double CpuSeconds = 0;
    long PeakKilobytes = 0; // the tool's peak resident size
    double WallSeconds = 0; // from the common start to this tool's end
};

bool StartSimulator(Instrument& instrument, const fs::path& profile) {
    fs::create_directories(instrument.Folder);
    instrument.Simulator =
        platform::SpawnProcess({INSTRUMENT_SIM, "--profile", profile.string(), "--transcript",
                                (instrument.Folder / "transcript.log").string(), "--flash-out",
                                (instrument.Folder / "flash.txt").string()},
                               {"/dev/null", (instrument.Folder / "sim.out").string(), "&1"});
    const auto deadline = Clock::now() + SimulatorStartBound;
    while (instrument.Simulator > 0 && instrument.Pty.empty() && Clock::now() < deadline) {
        const std::string out = ReadAll(instrument.Folder / "sim.out");
        if (out.rfind("PTY ", 0) == 0 && out.find('\n') != std::string::npos) {
            instrument.Pty = out.substr(4, out.find('\n') - 4);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !instrument.Pty.empty();
}

void StartTool(Instrument& instrument, const fs::path& program) {
    instrument.Tool = platform::SpawnProcess(
        {UPDATE_CONSOLE, "--dir", program.string(), "--port", instrument.Pty, "--start",
         "--time-divisor", "10", "--report", (instrument.Folder / "report.json").string()},
        {"/dev/null", (instrument.Folder / "tool.out").string(), "&1"});
}

// The peak resident size as the kernel keeps it for the running program.
// (A child's ru_maxrss is no good here: a child started by vfork carries
// the parent's peak from before its exec.)
long PeakOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

// Looks once: true when the tool has ended, with its exit code and time.
bool ToolEnded(Instrument& instrument) {
    instrument.PeakKilobytes = std::max(instrument.PeakKilobytes, PeakOf(instrument.Tool));
    int status = 0;
    rusage usage{};
    if (wait4(instrument.Tool, &status, WNOHANG, &usage) != instrument.Tool) {
        return false;
    }
    instrument.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    instrument.CpuSeconds =
        static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    instrument.Tool = -1;
    return true;
}

// Ends a process: SIGTERM, and SIGKILL when it has not ended within the
// bound. True when it ended on the SIGTERM.
bool Stop(pid_t& pid) {
    if (pid <= 0) {
        return true;
    }
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + StopBound;
    bool ended = false;
    while (!(ended = waitpid(pid, nullptr, WNOHANG) == pid) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
    return ended;
}

// Whatever a round still runs when it ends, early or not.
struct RoundProcesses {
    std::vector<Instrument>& Alone;
    std::vector<Instrument>& Line;
    ~RoundProcesses() {
        for (std::vector<Instrument>* group : {&Alone, &Line}) {
            for (Instrument& instrument : *group) {
                Stop(instrument.Tool);
                Stop(instrument.Simulator);
            }
        }
    }
};

// The work folder goes on every ending but the ones that keep it on purpose.
struct WorkFolder {
    fs::path Path;
    bool Keep = false;
    ~WorkFolder() {
        if (!Keep) {
            std::error_code ignored;
            fs::remove_all(Path, ignored);
        }
    }
};

// Stops the simulator (its flash is dumped on exit) and compares.
bool Verified(Instrument& instrument, const std::map<unsigned, unsigned>& image) {
    if (!Stop(instrument.Simulator)) {
        std::fprintf(stderr, "line_bench: the simulator of %s had to be killed\n",
                     instrument.Pty.c_str());
        return false;
    }
    const std::map<unsigned, unsigned> flash = TiTxtBytes(ReadAll(instrument.Folder / "flash.txt"));
    return instrument.ExitCode == 0 && flash == image;
}

// Runs the instruments' updates at once; the wall time from the first start
// to the last end, nothing when a tool did not end within the bound.
std::optional<double> UpdateTogether(std::vector<Instrument>& instruments,
                                     const fs::path& program) {
    const auto start = Clock::now();
    for (Instrument& instrument : instruments) {
        StartTool(instrument, program);
        if (instrument.Tool <= 0) {
            std::fprintf(stderr, "line_bench: %s could not be started\n", UPDATE_CONSOLE);
            return std::nullopt;
        }
    }
    for (std::size_t running = instruments.size(); running > 0;) {
        if (Clock::now() - start > UpdatesBound) {
            for (const Instrument& instrument : instruments) {
                if (instrument.Tool > 0) {
                    std::fprintf(stderr, "line_bench: the update on %s did not end within %lld s\n",
                                 instrument.Pty.c_str(),
                                 static_cast<long long>(UpdatesBound.count()));
                }
            }
            return std::nullopt;
        }
        for (Instrument& instrument : instruments) {
            if (instrument.Tool > 0 && ToolEnded(instrument)) {
                instrument.WallSeconds =
                    std::chrono::duration<double>(Clock::now() - start).count();
                --running;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The session's words when the programmed instrument's restart report was
// not taken and the tool waited out its bound instead (30 s, 3 s here).
bool WaitedOutTheRestart(const Instrument& instrument) {
    return ReadAll(instrument.Folder / "tool.out").find("nach der Programmierung nicht gemeldet") !=
           std::string::npos;
}

struct Round {
    double AloneWall = 0;
    double LineWall = 0;
    double LineMedian = 0; // the median update's own time among the ones at once
};

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 64) : 8;
    const int rounds = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 20) : 3;
    WorkFolder workFolder{fs::temp_directory_path() / ("line-bench-" + std::to_string(getpid()))};
    const fs::path& work = workFolder.Path;
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy(DEMO_FOLDER, work / "prog", fs::copy_options::recursive);
    const std::string imageText = bench::Image(false);
    std::ofstream(work / "prog" / "DM10_V200.TXT", std::ios::binary) << imageText;
    bench::EraseWholeImage(work / "prog" / "ProgDevice.ini");
    std::ofstream(work / "prog" / "Update.ini", std::ios::binary) << "Language=0\r\n";
    std::ofstream(work / "meter.profile") << bench::RomMeterProfile();
    const std::map<unsigned, unsigned> image = TiTxtBytes(imageText);

    std::vector<Round> results;
    std::vector<double> cpu;
    long alonePeak = 0, linePeak = 0;
    int verified = 0, updates = 0, waitedOut = 0;
    for (int round = 0; round < rounds; ++round) {
        const fs::path folder = work / ("round" + std::to_string(round + 1));
        std::vector<Instrument> alone(1);
        alone[0].Folder = folder / "alone";
        std::vector<Instrument> line(static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < line.size(); ++i) {
            line[i].Folder = folder / ("line" + std::to_string(i + 1));
        }
        const RoundProcesses processes{alone, line};
        for (std::vector<Instrument>* group : {&alone, &line}) {
            for (Instrument& instrument : *group) {
                if (!StartSimulator(instrument, work / "meter.profile")) {
                    std::fprintf(stderr, "line_bench: no simulated instrument in %s\n",
                                 instrument.Folder.c_str());
                    return 1;
                }
            }
        }
        Round result;
        const std::optional<double> aloneWall = UpdateTogether(alone, work / "prog");
        const std::optional<double> lineWall =
            aloneWall ? UpdateTogether(line, work / "prog") : std::nullopt;
        if (!lineWall) {
            return 1;
        }
        result.AloneWall = *aloneWall;
        result.LineWall = *lineWall;
        std::vector<double> own;
        for (const Instrument& instrument : line) {
            own.push_back(instrument.WallSeconds);
        }
        result.LineMedian = Median(own);
        results.push_back(result);
        alonePeak = std::max(alonePeak, alone[0].PeakKilobytes);
        for (std::vector<Instrument>* group : {&alone, &line}) {
            for (Instrument& instrument : *group) {
                ++updates;
                if (Verified(instrument, image)) {
                    ++verified;
                } else {
                    std::fprintf(stderr, "not verified: %s (exit code %d), see %s\n",
                                 instrument.Pty.c_str(), instrument.ExitCode,
                                 (instrument.Folder / "tool.out").c_str());
                }
                waitedOut += WaitedOutTheRestart(instrument) ? 1 : 0;
            }
        }
        for (const Instrument& instrument : line) {
            cpu.push_back(instrument.CpuSeconds);
            linePeak = std::max(linePeak, instrument.PeakKilobytes);
        }
    }
    std::vector<double> aloneWalls, lineWalls;
    for (const Round& result : results) {
        aloneWalls.push_back(result.AloneWall);
        lineWalls.push_back(result.LineWall);
    }
    std::sort(cpu.begin(), cpu.end());

    std::printf("production line: 48 KB image, MSP430 ROM loader 1.60, time divisor 10, %u cores, "
                "%d rounds\n",
                std::thread::hardware_concurrency(), rounds);
    for (std::size_t i = 0; i < results.size(); ++i) {
        std::printf("  round %zu: one alone %.2f s, %d at once %.2f s (%.2f x; their median "
                    "update %.2f s)\n",
                    i + 1, results[i].AloneWall, count, results[i].LineWall,
                    results[i].LineWall / results[i].AloneWall, results[i].LineMedian);
    }
    std::printf("  median: one alone %.2f s, %d at once %.2f s (%.2f x one alone)\n",
                Median(aloneWalls), count, Median(lineWalls),
                Median(lineWalls) / Median(aloneWalls));
    std::printf("  tool processor time per instrument: median %.3f s, max %.3f s\n",
                cpu[cpu.size() / 2], cpu.back());
    std::printf("  tool peak resident size (VmHWM): %ld kB alone, at most %ld kB at once\n",
                alonePeak, linePeak);
    std::printf("  updates that waited out the instrument's restart report: %d of %d\n", waitedOut,
                updates);
    std::printf("  verified: %d of %d instruments hold the image\n", verified, updates);
    if (verified == updates && std::getenv("LINE_BENCH_KEEP") == nullptr) {
        return 0;
    }
    workFolder.Keep = true;
    std::fprintf(stderr, "line_bench: the files are kept in %s\n", work.c_str());
    return verified == updates ? 0 : 1;
}
