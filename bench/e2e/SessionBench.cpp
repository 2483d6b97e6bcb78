// Runs whole class-1 sessions against the simulated instrument, with the
// MSP430 ROM loader (a 48 KB image) and the 5xx/6xx loader (48 KB below and
// 16 KB above 64 KB), and prints the tool's processor time and the
// turnaround from the last byte of each loader reply to the tool's next frame.
// Modes devloader and xmodem run a class-4 session instead: a 256 KB ".BIN"
// image through the instrument's own loader (turnaround from each block's
// acknowledge) or through the XMODEM bootloader (from each ACK). Mode blk
// runs a class-2 block transfer of 1 MB in three files (from each block's
// acknowledge).
//
//   session_bench [runs] [rom|5xx|both|devloader|xmodem|blk]   (default 3 both)
#include "RomSession.h"
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

// Milliseconds from each loader reply ("tx") to the tool's next bytes ("rx");
// with a mark, replies are the lines holding it.
std::vector<double> Turnarounds(const std::string& transcript, const char* mark = nullptr) {
    std::vector<double> gaps;
    std::istringstream lines(transcript);
    std::string line;
    double lastReply = -1;
    while (std::getline(lines, line)) {
        double seconds = std::atof(line.c_str());
        bool reply = mark != nullptr ? line.find(mark) != std::string::npos
                                     : line.find(" tx \\x90") != std::string::npos ||
                                           line.find(" tx \\x80") != std::string::npos ||
                                           line.find(" tx \\x00") != std::string::npos;
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

struct Scenario {
    const char* Title;
    std::string Profile;
    bool HighImage;
    bool Lab5xx;                                     // the device entry names the 5xx processor
    void (*Prepare)(const fs::path& prog) = nullptr; // lays out its own firmware
    const char* Reply = nullptr;                     // transcript mark of the replies timed
};

const Scenario Rom = {"class-1 session, MSP430 ROM loader 1.60, 48 KB image",
                      bench::RomMeterProfile(), false, false};

const Scenario Bsl5xx = {"class-1 session, MSP430 5xx/6xx loader, 41 KB + 16 KB above 64 KB",
                         "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
                         "version=1.23\nserial=12345678\npassword=5C00\nloader=msp430-5xx\n"
                         "loader.chip_id=5438\nflash_start=0x1000\nflash_size=0x44C00\n"
                         "on.restart=@300:I.30#\n",
                         true, true};

// 256 KB of random bytes with the version marker near the end.
std::string BinImage() {
    std::mt19937 random(256);
    std::string bytes(256 * 1024, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    bytes.replace(bytes.size() - 64, 9, std::string("VER:2.00\0", 9));
    return bytes;
}

void LabDeviceEntry(const fs::path& file) {
    bench::EditDeviceEntry(file, {{"ProzTyp=F149", "ProzTyp=5438"}});
}

// A class-4 entry: the ".BIN" image replaces the TI-TXT one.
void BinFolder(const fs::path& prog, const char* startCommand) {
    fs::remove(prog / "DM10_V200.TXT");
    std::ofstream(prog / "DL20_V200.BIN", std::ios::binary) << BinImage();
    bench::EditDeviceEntry(prog / "ProgDevice.ini",
                           {{"DevStartCmd=1", startCommand},
                            {"ProgFile2=DM10_V200.TXT", "ProgFile2=DL20_V200.BIN"},
                            {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}});
}

// Device entries starting with 6 take the device loader, the others XMODEM.
void DeviceLoaderFolder(const fs::path& prog) {
    BinFolder(prog, "DevStartCmd=6");
}
void XmodemFolder(const fs::path& prog) {
    BinFolder(prog, "DevStartCmd=1");
}

const Scenario DeviceLoader = {"class-4 session, the instrument's own loader, 256 KB image",
                               "start_mode=5\nbaud=4800\nstop_bits=2\npcb=43110.201\n"
                               "device=43110.000\nversion=1.23\nserial=12345678\n"
                               "loader=device-loader\nflash_start=0\nflash_size=0x180000\n"
                               "on.restart=@300:I.30#\n",
                               false,
                               false,
                               &DeviceLoaderFolder,
                               " tx A.1261!"};

const Scenario Xmodem = {"class-4 session, XMODEM bootloader 1.06, 256 KB image",
                         "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
                         "version=1.23\nserial=12345678\nloader=xmodem\n"
                         "loader.version=1.06\nflash_start=0\nflash_size=0x41000\n"
                         "on.restart=@1000:I.30#\n",
                         false,
                         false,
                         &XmodemFolder,
                         " tx \\x06"};

// A class-2 instrument's program and two data files, 1 MB together.
void BlockTransferFiles(const fs::path& prog) {
    std::mt19937 random(2);
    auto bytes = [&](std::size_t count) {
        std::string data(count, '\0');
        for (char& c : data) {
            c = static_cast<char>(random() & 0xFF);
        }
        return data;
    };
    std::string version;
    for (char c : std::string("VER: 2.00")) {
        version += {c, '\0'};
    }
    std::ofstream(prog / "MAIN.EXE", std::ios::binary)
        << bytes(400000) << version << std::string(2, '\0');
    std::ofstream(prog / "DATA1.BIN", std::ios::binary) << bytes(350000);
    std::ofstream(prog / "DATA2.DAT", std::ios::binary) << bytes(298560);
    bench::EditDeviceEntry(prog / "ProgDevice.ini",
                           {{"ProgFile2=DM10_V200.TXT", "ProgFile2=MAIN.EXE,DATA1.BIN,DATA2.DAT"},
                            {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}});
}

const Scenario Block = {"class-2 session, block transfer of 1 MB in three files",
                        "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
                        "version=1.00\nserial=12345678\nloader=file-loader\n"
                        "loader.switch_ack_ms=0\n",
                        false,
                        false,
                        &BlockTransferFiles,
                        " tx D."};

int RunScenario(const Scenario& scenario, int runs) {
    fs::path work = fs::temp_directory_path() / ("session-bench-" + std::to_string(getpid()));
    std::vector<double> cpuSeconds;
    std::vector<double> wallSeconds;
    std::vector<double> gaps;
    std::vector<double> peakMegabytes;
    for (int run = 0; run < runs; ++run) {
        fs::remove_all(work);
        fs::create_directories(work / "ports");
        fs::copy(DEMO_FOLDER, work / "prog", fs::copy_options::recursive);
        std::ofstream(work / "prog" / "DM10_V200.TXT", std::ios::binary)
            << bench::Image(scenario.HighImage);
        bench::EraseWholeImage(work / "prog" / "ProgDevice.ini");
        std::ofstream(work / "prog" / "Update.ini", std::ios::binary)
            << "Language=0\r\nAutoStart=YES\r\n";
        if (scenario.Lab5xx) {
            LabDeviceEntry(work / "prog" / "ProgDevice.ini");
        }
        if (scenario.Prepare != nullptr) {
            scenario.Prepare(work / "prog");
        }
        std::ofstream(work / "meter.profile") << scenario.Profile;
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
        peakMegabytes.push_back(static_cast<double>(usage.ru_maxrss) / 1024.0); // KiB on Linux
        std::ifstream transcript(work / "transcript.log");
        std::string text((std::istreambuf_iterator<char>(transcript)), {});
        std::vector<double> runGaps = Turnarounds(text, scenario.Reply);
        gaps.insert(gaps.end(), runGaps.begin(), runGaps.end());
    }
    fs::remove_all(work);
    std::printf("%s, time divisor 10, %d runs\n", scenario.Title, runs);
    std::printf("  tool processor time per session: median %.3f s, max %.3f s\n",
                Percentile(cpuSeconds, 0.5), Percentile(cpuSeconds, 1.0));
    std::printf("  tool peak resident size:         median %.1f MB, max %.1f MB\n",
                Percentile(peakMegabytes, 0.5), Percentile(peakMegabytes, 1.0));
    std::printf("  wall time per session:           median %.2f s\n", Percentile(wallSeconds, 0.5));
    std::printf("  loader reply -> next tool frame: median %.1f ms, 99th percentile %.1f ms "
                "(%zu turnarounds, 1 ms transcript resolution)\n",
                Percentile(gaps, 0.5), Percentile(gaps, 0.99), gaps.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string which = argc > 2 ? argv[2] : "both";
    const std::pair<const char*, const Scenario*> single[] = {
        {"devloader", &DeviceLoader}, {"xmodem", &Xmodem}, {"blk", &Block}};
    for (const auto& [name, scenario] : single) {
        if (which == name) {
            return RunScenario(*scenario, runs);
        }
    }
    if (which != "rom" && which != "5xx" && which != "both") {
        std::fprintf(stderr, "usage: session_bench [runs] [rom|5xx|both|devloader|xmodem|blk]\n");
        return 64;
    }
    if (which == "blk") {
        return RunScenario(Block, runs);
    }
    int result = 0;
    if (which != "5xx") {
        result |= RunScenario(Rom, runs);
    }
    if (which != "rom") {
        result |= RunScenario(Bsl5xx, runs);
    }
    return result;
}
