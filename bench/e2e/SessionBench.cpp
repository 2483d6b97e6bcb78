// Runs whole class-1 sessions of a 48 KB image against the simulated
// instrument and prints the tool's processor time and the turnaround from
// the last byte of each loader reply to the tool's next frame.
//
//   session_bench [runs]   (default 3)
#include "platform/Process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
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

pid_t Spawn(const std::vector<std::string>& argv, const std::string& out) {
    return platform::SpawnProcess(argv, {"/dev/null", out, "&1"});
}

// A TI-TXT image of 48 KB from 0x4000 with the vectors pointing at its start.
std::string Image48K() {
    std::mt19937 random(48);
    std::ostringstream text;
    text << "@4000\r\n";
    for (unsigned address = 0x4000; address < 0xFFE0; address += 16) {
        for (int i = 0; i < 16; ++i) {
            unsigned byte = address == 0x4010 && i < 10 ? "VER:2.00\0\0"[i] : random() & 0xFF;
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
            text << pair << (i < 15 ? " " : "\r\n");
        }
    }
    text << "@FFE0\r\n";
    for (int line = 0; line < 2; ++line) {
        text << "00 40 00 40 00 40 00 40 00 40 00 40 00 40 00 40\r\n";
    }
    text << "q\r\n";
    return text.str();
}

// Milliseconds from each loader reply ("tx") to the tool's next bytes ("rx").
std::vector<double> Turnarounds(const std::string& transcript) {
    std::vector<double> gaps;
    std::istringstream lines(transcript);
    std::string line;
    double lastReply = -1;
    while (std::getline(lines, line)) {
        double seconds = std::atof(line.c_str());
        bool reply = line.find(" tx \\x90") != std::string::npos ||
                     line.find(" tx \\x80") != std::string::npos;
        if (reply) {
            lastReply = seconds;
        } else if (line.find(" rx ") != std::string::npos && lastReply >= 0) {
            gaps.push_back((seconds - lastReply) * 1000.0);
            lastReply = -1;
        }
    }
    return gaps;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    std::size_t index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    fs::path work = fs::temp_directory_path() / ("session-bench-" + std::to_string(getpid()));
    std::vector<double> cpuSeconds;
    std::vector<double> wallSeconds;
    std::vector<double> gaps;
    for (int run = 0; run < runs; ++run) {
        fs::remove_all(work);
        fs::create_directories(work / "ports");
        fs::copy(DEMO_FOLDER, work / "prog", fs::copy_options::recursive);
        std::ofstream(work / "prog" / "DM10_V200.TXT", std::ios::binary) << Image48K();
        std::ofstream(work / "prog" / "Update.ini", std::ios::binary)
            << "Language=0\r\nAutoStart=YES\r\n";
        std::ofstream(work / "meter.profile")
            << "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
               "version=1.23\nserial=12345678\npassword=4000\nloader=msp430-rom\n"
               "loader.version=1.60\nloader.chip_id=F149\nflash_start=0x1000\n"
               "flash_size=0xF000\non.restart=@300:I.30#\n";
        pid_t sim = Spawn({INSTRUMENT_SIM, "--profile", (work / "meter.profile").string(), "--link",
                           (work / "ports" / "COM1").string(), "--transcript",
                           (work / "transcript.log").string()},
                          (work / "sim.out").string());
        for (int i = 0; i < 250 && !fs::exists(work / "ports" / "COM1"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        auto start = std::chrono::steady_clock::now();
        pid_t tool = Spawn({UPDATE_CONSOLE, "--dir", (work / "prog").string(), "--ports",
                            (work / "ports").string(), "--time-divisor", "10"},
                           (work / "tool.out").string());
        int status = 0;
        rusage usage{};
        wait4(tool, &status, 0, &usage);
        auto end = std::chrono::steady_clock::now();
        kill(sim, SIGTERM);
        waitpid(sim, nullptr, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "run %d: the session failed (exit %d); see %s\n", run,
                         WIFEXITED(status) ? WEXITSTATUS(status) : -1, (work / "tool.out").c_str());
            return 1;
        }
        cpuSeconds.push_back(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
        wallSeconds.push_back(std::chrono::duration<double>(end - start).count());
        std::ifstream transcript(work / "transcript.log");
        std::string text((std::istreambuf_iterator<char>(transcript)), {});
        std::vector<double> runGaps = Turnarounds(text);
        gaps.insert(gaps.end(), runGaps.begin(), runGaps.end());
    }
    fs::remove_all(work);
    std::printf("class-1 session, 48 KB image, loader 1.60, time divisor 10, %d runs\n", runs);
    std::printf("  tool processor time per session: median %.3f s, max %.3f s\n",
                Percentile(cpuSeconds, 0.5), Percentile(cpuSeconds, 1.0));
    std::printf("  wall time per session:           median %.2f s\n", Percentile(wallSeconds, 0.5));
    std::printf("  loader reply -> next tool frame: median %.1f ms, 99th percentile %.1f ms "
                "(%zu turnarounds, 1 ms transcript resolution)\n",
                Percentile(gaps, 0.5), Percentile(gaps, 0.99), gaps.size());
    return 0;
}
