// A production line: N simulated instruments (default 8), each on a
// pseudo-terminal of its own and updated by an update-console of its own
// (--port /dev/pts/N) with a 48 KB image through the MSP430 ROM loader at
// time divisor 10, all at once. Prints the wall time of one update alone and
// of the N together, the tool's processor time per instrument, and whether
// every instrument holds the image afterwards.
//
//   line_bench [instruments]
#include "RomSession.h"
#include "platform/Process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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
};

bool StartSimulator(Instrument& instrument, const fs::path& profile) {
    fs::create_directories(instrument.Folder);
    instrument.Simulator =
        platform::SpawnProcess({INSTRUMENT_SIM, "--profile", profile.string(), "--flash-out",
                                (instrument.Folder / "flash.txt").string()},
                               {"/dev/null", (instrument.Folder / "sim.out").string(), "&1"});
    for (int i = 0; i < 500 && instrument.Pty.empty(); ++i) {
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

void WaitForTool(Instrument& instrument) {
    int status = 0;
    rusage usage{};
    wait4(instrument.Tool, &status, 0, &usage);
    instrument.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    instrument.PeakKilobytes = usage.ru_maxrss;
    instrument.CpuSeconds =
        static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Stops the simulator (its flash is dumped on exit) and compares.
bool Verified(Instrument& instrument, const std::map<unsigned, unsigned>& image) {
    kill(instrument.Simulator, SIGTERM);
    waitpid(instrument.Simulator, nullptr, 0);
    const std::map<unsigned, unsigned> flash = TiTxtBytes(ReadAll(instrument.Folder / "flash.txt"));
    return instrument.ExitCode == 0 && flash == image;
}

// Runs the instruments' updates at once; the wall time from the first start
// to the last end.
double UpdateTogether(std::vector<Instrument>& instruments, const fs::path& program) {
    const auto start = Clock::now();
    for (Instrument& instrument : instruments) {
        StartTool(instrument, program);
    }
    for (Instrument& instrument : instruments) {
        WaitForTool(instrument);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 64) : 8;
    const fs::path work = fs::temp_directory_path() / ("line-bench-" + std::to_string(getpid()));
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy(DEMO_FOLDER, work / "prog", fs::copy_options::recursive);
    const std::string imageText = bench::Image(false);
    std::ofstream(work / "prog" / "DM10_V200.TXT", std::ios::binary) << imageText;
    std::ofstream(work / "prog" / "Update.ini", std::ios::binary) << "Language=0\r\n";
    std::ofstream(work / "meter.profile") << bench::RomMeterProfile;
    const std::map<unsigned, unsigned> image = TiTxtBytes(imageText);

    std::vector<Instrument> alone(1);
    alone[0].Folder = work / "alone";
    std::vector<Instrument> line(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < line.size(); ++i) {
        line[i].Folder = work / ("line" + std::to_string(i + 1));
    }
    for (std::vector<Instrument>* group : {&alone, &line}) {
        for (Instrument& instrument : *group) {
            if (!StartSimulator(instrument, work / "meter.profile")) {
                std::fprintf(stderr, "line_bench: no simulated instrument in %s\n",
                             instrument.Folder.c_str());
                return 1;
            }
        }
    }

    const double aloneWall = UpdateTogether(alone, work / "prog");
    const bool aloneVerified = Verified(alone[0], image);
    const double lineWall = UpdateTogether(line, work / "prog");
    int verified = 0;
    std::vector<double> cpu;
    long peak = 0;
    for (Instrument& instrument : line) {
        if (Verified(instrument, image)) {
            ++verified;
        } else {
            std::fprintf(stderr, "not verified: %s (exit code %d), see %s\n",
                         instrument.Pty.c_str(), instrument.ExitCode,
                         (instrument.Folder / "tool.out").c_str());
        }
        cpu.push_back(instrument.CpuSeconds);
        peak = std::max(peak, instrument.PeakKilobytes);
    }
    std::sort(cpu.begin(), cpu.end());

    std::printf("production line: 48 KB image, MSP430 ROM loader 1.60, time divisor 10, %u cores\n",
                std::thread::hardware_concurrency());
    std::printf("  one update alone:        wall %.2f s, tool processor time %.3f s, %s\n",
                aloneWall, alone[0].CpuSeconds, aloneVerified ? "verified" : "NOT verified");
    std::printf("  %d updates in parallel:   wall %.2f s (%.2f x one alone)\n", count, lineWall,
                lineWall / aloneWall);
    std::printf("  tool processor time per instrument: median %.3f s, max %.3f s\n",
                cpu[cpu.size() / 2], cpu.back());
    std::printf("  tool peak resident size: %ld kB alone, at most %ld kB in parallel\n",
                alone[0].PeakKilobytes, peak);
    std::printf("  verified: %d of %d instruments hold the image\n", verified, count);
    if (verified == count && aloneVerified) {
        fs::remove_all(work);
        return 0;
    }
    std::fprintf(stderr, "line_bench: the files are kept in %s\n", work.c_str());
    return 1;
}
