// Runs a class-0 session whose hex loader (the tests' fake tool) sleeps for
// a while, once with a 0 s and once with a 3 s tool, and prints the
// processor time update-console used in each (its own, from wait4; the
// fake tool's sleep costs next to nothing). The difference is what waiting
// for the tool costs.
//
//   tool_wait_bench [seconds]   (default 3)
#include "platform/Process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct Figures {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int exitCode = -1;
};

Figures RunSession(const fs::path& folder, const std::string& sleepSeconds) {
    fs::remove_all(folder);
    fs::create_directories(folder / "ports");
    fs::copy(DEMO_FOLDER, folder / "prog", fs::copy_options::recursive);
    Write(folder / "prog/Update.ini", "Language=0\r\nAutoStart=YES\r\n");
    fs::copy_file(fs::path(DEMO_FOLDER) / "DM10_V200.TXT", folder / "prog/Z70_V200.MOT");
    fs::copy_file(FAKE_TOOL, folder / "prog/HEXLoad_8N1.exe");
    std::string ini = "StarttextD=S\r\nStarttextE=S\r\nAbbruchtextD=A\r\nAbbruchtextE=A\r\n\r\n";
    for (const char* line :
         {"DevStartCmd=1", "DeviceNrDef=43170", "DeviceNr=43170", "DeviceName=Meter Z70",
          "ProgFile1=", "ProgFile2=Z70_V200.MOT", "ProgFile3=", "SWKenn1=", "SWKenn2=56 45 52 3A",
          "SWKenn3=", "BootLoadKenn=", "FlashErase1=", "FlashErase2=", "FlashErase3=",
          "ProgDefFile=", "ProzTyp=F149"}) {
        ini += std::string(line) + "\r\n";
    }
    Write(folder / "prog/ProgDevice.ini", ini);
    Write(folder / "meter.profile",
          "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43170.201\ndevice=43170.000\n"
          "version=1.23\nserial=12345678\nloader=none\nloader_baud=38400\n"
          "loader_stop_bits=1\nprobe_leave=5AA5\n");
    ::setenv("FAKE_TOOL_PORTS", (folder / "ports").c_str(), 1);
    ::setenv("FAKE_TOOL_SLEEP", sleepSeconds.c_str(), 1);
    ::unsetenv("FAKE_TOOL_CODES");
    ::unsetenv("FAKE_TOOL_LOG");
    const fs::path link = folder / "ports/COM1";
    pid_t sim = platform::SpawnProcess(
        {INSTRUMENT_SIM, "--profile", (folder / "meter.profile").string(), "--link", link.string()},
        {"/dev/null", (folder / "sim.out").string(), "&1"});
    while (!fs::exists(link)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto start = std::chrono::steady_clock::now();
    pid_t tool =
        platform::SpawnProcess({UPDATE_CONSOLE, "--dir", (folder / "prog").string(), "--ports",
                                (folder / "ports").string(), "--time-divisor", "10"},
                               {"/dev/null", (folder / "out.txt").string(), "&1"});
    Figures figures;
    int status = 0;
    rusage usage{};
    ::wait4(tool, &status, 0, &usage);
    figures.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ::kill(sim, SIGTERM);
    ::waitpid(sim, &status, 0);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    const std::string seconds = argc > 1 ? argv[1] : "3";
    const fs::path folder =
        fs::temp_directory_path() / ("tool_wait_bench." + std::to_string(::getpid()));
    const Figures quick = RunSession(folder, "0");
    const Figures slow = RunSession(folder, seconds);
    fs::remove_all(folder);
    std::printf("session with a 0 s tool:  exit %d, wall %.2f s, processor %.3f s\n",
                quick.exitCode, quick.wallSeconds, quick.cpuSeconds);
    std::printf("session with a %s s tool:  exit %d, wall %.2f s, processor %.3f s\n",
                seconds.c_str(), slow.exitCode, slow.wallSeconds, slow.cpuSeconds);
    const double waited = slow.wallSeconds - quick.wallSeconds;
    const double extra = slow.cpuSeconds - quick.cpuSeconds;
    std::printf("waiting %.2f s for the tool cost %.4f s of processor time (%.3f %% of one core)\n",
                waited, extra, waited > 0 ? 100.0 * extra / waited : 0.0);
    return quick.exitCode == 0 && slow.exitCode == 0 ? 0 : 1;
}
