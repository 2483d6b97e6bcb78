#pragma once

// What both soak benchmarks share: the program folder, the simulated
// instrument, the plan of sessions and the figures read from /proc.
#include "platform/Process.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace soak {

namespace fs = std::filesystem;

inline constexpr int Sessions = 200;
inline constexpr int FiguresEvery = 20;
// Faster leaves the simulated instrument too little time on a busy machine:
// a late reply then sends the session down another path.
inline constexpr const char* TimeDivisor = "2";

// The first half of the sessions answers the version question No. Then one
// answers Yes and its transfer fails; every later OK retries the transfer,
// which fails again: after a failed transfer the tool offers only the retry.
enum class Step { AnswerNo, AnswerYesAndFail, Retry };
inline Step StepOf(int session) {
    return session <= Sessions / 2       ? Step::AnswerNo
           : session == Sessions / 2 + 1 ? Step::AnswerYesAndFail
                                         : Step::Retry;
}

// The instrument already holds the image's version, so OK asks whether to
// load it anyway; a flipped flash bit fails every verification.
inline constexpr const char* Profile =
    "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
    "version=2.00\nserial=12345678\npassword=C000\nloader=msp430-rom\n"
    "loader.version=1.40\nloader.chip_id=F449\nloader.fault.flip=0xC010:0\n"
    "flash_start=0x1000\nflash_size=0xF000\non.restart=@300:I.30#\n";

// A work folder with the demo's program folder (prog/), a port folder
// (ports/) and the simulated instrument on COM1; removed at the end.
class Bench {
public:
    Bench() : work_(fs::temp_directory_path() / ("soak-bench-" + std::to_string(getpid()))) {
        fs::remove_all(work_);
        fs::create_directories(work_ / "ports");
        fs::copy(DEMO_FOLDER, work_ / "prog", fs::copy_options::recursive);
        std::ofstream(work_ / "prog" / "Update.ini", std::ios::binary) << "Language=0\r\n";
        std::ofstream(work_ / "meter.profile") << Profile;
        sim_ =
            platform::SpawnProcess({INSTRUMENT_SIM, "--profile", (work_ / "meter.profile").string(),
                                    "--link", Port(), "--time-divisor", TimeDivisor},
                                   {"/dev/null", File("sim.out"), "&1"});
        for (int i = 0; i < 500 && !fs::exists(Port()); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Bench() {
        if (sim_ > 0) {
            ::kill(sim_, SIGTERM);
            ::waitpid(sim_, nullptr, 0);
        }
        if (!keep_) {
            fs::remove_all(work_);
        }
    }
    // Leaves the folder in place, for a look at what went wrong.
    void Keep() { keep_ = true; }
    bool Ready() const { return sim_ > 0 && fs::exists(Port()); }
    std::string File(const std::string& name) const { return (work_ / name).string(); }
    std::string Port() const { return File("ports/COM1"); }

private:
    fs::path work_;
    pid_t sim_ = -1;
    bool keep_ = false;
};

// Peak and current resident size (kB) and open descriptors of a process.
struct Figures {
    long PeakKb = -1;
    long ResidentKb = -1;
    long Descriptors = 0;
};

inline Figures FiguresOf(const std::string& pid) {
    Figures figures;
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            figures.PeakKb = std::stol(line.substr(6));
        } else if (line.rfind("VmRSS:", 0) == 0) {
            figures.ResidentKb = std::stol(line.substr(6));
        }
    }
    std::error_code error;
    for (auto it = fs::directory_iterator("/proc/" + pid + "/fd", error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        ++figures.Descriptors;
    }
    return figures;
}

// One line per checkpoint. Each half of the plan is held to its own first
// checkpoint: the first failed transfer builds what every retry reuses.
class FigureTable {
public:
    explicit FigureTable(const char* title) {
        std::printf("%s, %d sessions\n  %8s %10s %10s %6s\n", title, Sessions, "sessions",
                    "VmHWM kB", "VmRSS kB", "fds");
    }
    void Add(int sessions, const Figures& figures) {
        (sessions <= Sessions / 2 ? first_ : second_).Add(figures);
        std::printf("  %8d %10ld %10ld %6ld\n", sessions, figures.PeakKb, figures.ResidentKb,
                    figures.Descriptors);
        std::fflush(stdout);
    }
    void Summary() const {
        first_.Print("answered No");
        second_.Print("failed transfers");
    }

private:
    struct Half {
        bool Any = false;
        Figures Base;
        Figures Last;
        void Add(const Figures& figures) {
            if (!Any) {
                Base = figures;
                Any = true;
            }
            Last = figures;
        }
        void Print(const char* what) const {
            std::printf("  growth over the sessions %s after the first checkpoint: VmHWM %+ld kB, "
                        "VmRSS %+ld kB, fds %+ld\n",
                        what, Last.PeakKb - Base.PeakKb, Last.ResidentKb - Base.ResidentKb,
                        Last.Descriptors - Base.Descriptors);
        }
    };
    Half first_;
    Half second_;
};

} // namespace soak
