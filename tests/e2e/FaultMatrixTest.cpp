// Every transfer method against every line fault, each run through
// update-console: it must end in a verified success or a failure that names
// the step, within a bound, with the port free afterwards.
#include "Harness.h"
#include "LineCause.h"
#include "tests/support/TiTxtImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace {

using testing_support::TempFolder;
using titxt_test::Pattern;

// Well past every watchdog at the divided time, yet a hang ends the run.
constexpr std::chrono::seconds RunBound{60};
// From a hang-up to the tool's end: the dead line is noticed at once, not
// by a watchdog; generous for a loaded machine (the cells print the figure).
constexpr double HangUpEndBoundS = 5.0;

struct Fault {
    const char* column;
    const char* profileLines; // line.fault keys, or empty
    bool toolFault;           // a failure of the external tool instead of the line
};

const Fault Faults[] = {
    {"none", "", false},
    {"drop", "line.fault=drop\n", false},
    {"flip", "line.fault=flip\n", false},
    {"refuse", "line.fault=refuse\nline.fault.count=4\n", false},
    {"silent", "line.fault=silent\n", false},
    {"hangup", "line.fault=hangup\n", false},
    {"speed", "line.fault=speed\n", false},
    {"garbage", "line.fault=garbage\n", false},
    {"tool-exit-1", "", true},
    {"tool-signal", "", true},
    {"tool-no-work", "", true},
};

std::string Bytes(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

std::string WithoutCr(std::string text) {
    std::erase(text, '\r');
    return text;
}

// Every byte of the image is in the instrument's flash dump.
bool FlashHolds(const std::string& flash, const std::string& imageTiTxt) {
    const auto memory = titxt_test::MemoryOf(flash);
    for (const auto& [address, value] : titxt_test::MemoryOf(imageTiTxt)) {
        auto found = memory.find(address);
        if (found == memory.end() || found->second != value) {
            return false;
        }
    }
    return true;
}

// What one run leaves to be judged.
struct Outcome {
    e2e::Run Tool;
    std::string Flash, Transcript, PortProblem, SimErrors, Device;
    double EndAfterFaultS = -1; // measured for the hang-up only
    const TempFolder* Folder;
    std::string Received(const std::string& name) const {
        return e2e::ReadFile(Folder->File("received/" + name));
    }
};

struct Method {
    const char* row;
    std::uint64_t faultAt; // the received byte, counted from the start of the transfer
    std::string profile;
    std::function<void(const TempFolder&)> prepare;
    std::function<bool(const Outcome&, const TempFolder&)> intact;
    const char* extra = ""; // profile lines, e.g. where the fault counts from
    const char* port = "COM1";
};

void PrintTo(const Method& method, std::ostream* out) {
    *out << method.row;
}

std::string Device(const std::string& lines) {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "serial=12345678\n" +
           lines;
}

void Edit(const TempFolder& folder, const std::vector<std::pair<std::string, std::string>>& e) {
    const std::string missing = e2e::EditDeviceIni(folder, e);
    if (!missing.empty()) {
        throw std::runtime_error("not in ProgDevice.ini: " + missing);
    }
}

std::string DemoImage(const TempFolder& folder) {
    return e2e::ReadFile(folder.File("prog/DM10_V200.TXT"));
}

// A binary firmware file with its version marker as text.
std::vector<std::uint8_t> BinFirmware(std::size_t size, std::size_t markerAt) {
    std::vector<std::uint8_t> bytes = Pattern(size, 3);
    const std::string marker = "VER:2.00";
    std::copy(marker.begin(), marker.end(), bytes.begin() + static_cast<long>(markerAt));
    bytes[markerAt + marker.size()] = 0;
    return bytes;
}

bool FlashHoldsBin(const Outcome& o, const std::vector<std::uint8_t>& bytes) {
    return FlashHolds(o.Flash, titxt_test::TiTxt({{0, bytes}}));
}

std::string Record(const std::string& head, const std::vector<unsigned>& bytes) {
    unsigned sum = static_cast<unsigned>(bytes.size() + 1);
    char text[8];
    std::snprintf(text, sizeof text, "%02X", sum);
    std::string line = head + text;
    for (unsigned b : bytes) {
        sum += b;
        std::snprintf(text, sizeof text, "%02X", b);
        line += text;
    }
    std::snprintf(text, sizeof text, "%02X", ~sum & 0xFFu);
    return line + text + "\r\n";
}

// Records of 32 bytes, then version 2.10 behind the marker the device entry names.
std::string LoaderSRecords() {
    std::string file;
    for (unsigned r = 0; r < 60; ++r) {
        const unsigned address = 0x4100 + r * 32;
        std::vector<unsigned> bytes = {address >> 8, address & 0xFF};
        for (unsigned i = 0; i < 32; ++i) {
            bytes.push_back((r * 7 + i * 13) & 0xFF);
        }
        file += Record("S1", bytes);
    }
    return file + Record("S1", {0x40, 0x00, '2', '.', '1', '0', 0, 0}) + Record("S9", {0x40, 0x00});
}

// The marker and the version as 16-bit text, where the version reader finds it.
std::string WideVersion() {
    std::string wide;
    for (char c : std::string("VER: 2.00")) {
        wide += {c, '\0'};
    }
    return wide + std::string(2, '\0');
}

const std::map<std::string, std::string> BlockFiles = {
    {"MAIN.EXE", Bytes(Pattern(4500, 1)) + WideVersion() + Bytes(Pattern(300, 2))},
    {"DATA1.BIN", Bytes(Pattern(2500, 3))}};
const std::map<std::string, std::string> LabFiles = {{"b256.dat", Bytes(Pattern(256, 4))},
                                                     {"big.dat", Bytes(Pattern(20000, 5))}};

// A hand-held meter that the hex loader programs: its entry, its files and
// the fake tool; bootLoadKenn: the name its loader gives in its probe answer.
void PrepareMeterZ70(const TempFolder& f, const std::string& bootLoadKenn) {
    f.Write("prog/ProgDevice.ini", e2e::MeterZ70Devices("", "Z70_V200.MOT", bootLoadKenn));
    f.Write("prog/Z70_V200.MOT", DemoImage(f));
    f.Write("prog/Z70_DEF.MOT", DemoImage(f) + "; recovery image\r\n");
    std::filesystem::copy_file(FAKE_TOOL, f.File("prog/HEXLoad_8N1.exe"));
}

// A recovery probes for a loader: an automatic run must not end at the
// bootloader step of a .TXT file.
void AllowLoaderProbe(const TempFolder& f) {
    f.Write("prog/Update.ini", std::string(e2e::AutoStartDebugIni) + "ProgErrorNewTry=YES\r\n");
}

const std::string MeterZ70 =
    "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43170.201\ndevice=43170.000\nversion=1.23\n"
    "serial=12345678\nloader=none\nloader_baud=38400\nloader_stop_bits=1\n"
    "probe=680000680000000016\nprobe_leave=5AA5\n";

const Method Methods[] = {
    {"msp430-rom", 600,
     Device("version=1.23\npassword=C000\nloader=msp430-rom\nloader.version=1.60\n"
            "loader.chip_id=F149\nflash_start=0x1000\nflash_size=0xF000\n"),
     [](const TempFolder&) {},
     [](const Outcome& o, const TempFolder& f) { return FlashHolds(o.Flash, DemoImage(f)); }},
    {"msp430-5xx", 500,
     Device("version=1.23\npassword=5C00\nloader=msp430-5xx\nloader.chip_id=5438\n"
            "flash_start=0x1000\nflash_size=0x44C00\n"),
     [](const TempFolder& f) {
         Edit(f, {{"ProgFile2=DM10_V200.TXT", "ProgFile2=LAB_V200.TXT"},
                  {"FlashErase1=0xC200", "FlashErase1="},
                  {"ProzTyp=F149", "ProzTyp=5438"}});
         e2e::ReplaceFirmware(f, "LAB_V200.TXT", titxt_test::LabImage());
     },
     [](const Outcome& o, const TempFolder&) {
         return FlashHolds(o.Flash, titxt_test::LabImage());
     }},
    {"device-loader", 900,
     "start_mode=5\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\nversion=1.23\n"
     "serial=12345678\nloader=device-loader\nloader.store_ms=300\nloader.restart_ms=100\n"
     "flash_start=0\nflash_size=0x10000\n",
     [](const TempFolder& f) {
         Edit(f, {{"DevStartCmd=1", "DevStartCmd=6"},
                  {"ProgFile2=DM10_V200.TXT", "ProgFile2=DL20_V200.BIN"},
                  {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}});
         e2e::ReplaceFirmware(f, "DL20_V200.BIN", Bytes(BinFirmware(1000, 980)));
     },
     [](const Outcome& o, const TempFolder&) { return FlashHoldsBin(o, BinFirmware(1000, 980)); }},
    {"xmodem", 1500, Device("version=1.23\nloader=xmodem\nflash_start=0\nflash_size=0x10000\n"),
     [](const TempFolder& f) {
         Edit(f, {{"ProgFile2=DM10_V200.TXT", "ProgFile2=DM10_V200.BIN"},
                  {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}});
         e2e::ReplaceFirmware(f, "DM10_V200.BIN", Bytes(BinFirmware(3000, 40)));
     },
     [](const Outcome& o, const TempFolder&) { return FlashHoldsBin(o, BinFirmware(3000, 40)); }},
    {"file-loader", 3000,
     Device("version=1.00\nloader=file-loader\nloader.switch_ack_ms=4000\n"
            "loader.startup_version=1.10\n"),
     [](const TempFolder& f) {
         Edit(f,
              {{"DM10_V200.TXT", "MAIN.EXE,DATA1.BIN"}, {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}});
         std::filesystem::remove(f.File("prog/DM10_V200.TXT"));
         for (const auto& [name, content] : BlockFiles) {
             f.Write("prog/" + name, content);
         }
     },
     [](const Outcome& o, const TempFolder&) {
         for (const auto& [name, content] : BlockFiles) {
             if (o.Received(name) != content) {
                 return false;
             }
         }
         return true;
     }},
    {"basic-loader", 2000,
     Device("version=2.00,2.05\nloader=basic-loader\nloader_entry=2005\n"
            "loader.start_delay_ms=300\n"),
     [](const TempFolder& f) {
         Edit(f, {{"ProgFile2=DM10_V200.TXT", "ProgFile2=DM10_V200.MOT"},
                  {"ProgFile3=", "ProgFile3=L3_TERML.A37"},
                  {"SWKenn3=", "SWKenn3=S1094000"}});
         std::filesystem::rename(f.File("prog/DM10_V200.TXT"), f.File("prog/DM10_V200.MOT"));
         f.Write("prog/L3_TERML.A37", LoaderSRecords());
     },
     [](const Outcome& o, const TempFolder&) {
         return WithoutCr(o.Received("basic-loader.srec")) == WithoutCr(LoaderSRecords());
     }},
    {"lab-files", 8000,
     Device("version=1.23\npassword=C000\nloader=msp430-rom\nloader.version=1.60\n"
            "loader.chip_id=F149\nflash_start=0x1000\nflash_size=0xF000\n"),
     [](const TempFolder& f) {
         Edit(f, {{"DM10_V200.TXT", "DM10_V200.TXT,B256.DAT,BIG.DAT"}});
         f.Write("prog/B256.DAT", LabFiles.at("b256.dat"));
         f.Write("prog/BIG.DAT", LabFiles.at("big.dat"));
     },
     [](const Outcome& o, const TempFolder& f) {
         return FlashHolds(o.Flash, DemoImage(f)) &&
                o.Received("b256.dat") == LabFiles.at("b256.dat") &&
                o.Received("big.dat") == LabFiles.at("big.dat");
     },
     "line.fault.during=lab\n"},
    // The fake tool talks to the line only to start the firmware; the line
    // faults strike that and the session around it.
    {"external-tool", 2, MeterZ70, [](const TempFolder& f) { PrepareMeterZ70(f, ""); },
     [](const Outcome& o, const TempFolder& f) {
         return o.Transcript.find("firmware restarted") != std::string::npos &&
                o.Received("Z70_V200.MOT") == e2e::ReadFile(f.File("prog/Z70_V200.MOT"));
     },
     "", "COM3"},
    // The recoveries: an instrument waiting in its loader answers the probe,
    // is programmed there, and is then updated by a normal session. The
    // faults count from the start, in the loader.
    {"lab-recovery", 600,
     Device("version=1.23\nstart=loader\npassword=E000\nloader=msp430-rom\n"
            "loader.version=1.40\nloader.chip_id=F449\nflash_start=0x1000\nflash_size=0xF000\n"
            "on.restart=@300:I.30#\n"),
     [](const TempFolder& f) {
         AllowLoaderProbe(f);
         // Nothing is learned from a waiting loader: the password is the
         // configured reset vector. The recovery image leaves the other
         // vectors erased, so the update after it, which knows the reset
         // vector alone, gets in; its code lies apart from the demo image's.
         f.Write("prog/Bsl430.ini", "ResetVector1=0xE000\r\n");
         f.Write("prog/LABXXX.TXT", titxt_test::ResetVectorImage(0xE000, 5));
         // The demo's erase start lies below that code: the flash there
         // holds old firmware that must be erased.
         Edit(f, {{"FlashErase1=0xC200", "FlashErase1="}});
     },
     [](const Outcome& o, const TempFolder& f) {
         return o.Transcript.find("firmware restarted") != std::string::npos &&
                FlashHolds(o.Flash, DemoImage(f));
     }},
    {"meter-recovery", 40, MeterZ70 + "start=loader\nprobe_answer=h00h:Z70BOOT V1\n",
     [](const TempFolder& f) { PrepareMeterZ70(f, "Z70BOOT"); },
     [](const Outcome& o, const TempFolder& f) {
         return o.Received("Z70_DEF.MOT") == e2e::ReadFile(f.File("prog/Z70_DEF.MOT")) &&
                o.Received("Z70_V200.MOT") == e2e::ReadFile(f.File("prog/Z70_V200.MOT"));
     },
     "", "COM3"},
};

// Empty when another program could take the port now.
std::string PortProblem(const std::string& device) {
    if (!std::filesystem::exists(device)) {
        return {}; // the instrument hung up and took its line along
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::string("open: ") + std::strerror(errno);
    }
    int exclusive = 0;
    std::string problem;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        problem = "locked";
    } else if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        problem = "exclusive";
    }
    ::close(fd);
    return problem;
}

// The external tool's failures, through the fake tool's switches.
void SetToolFault(const TempFolder& folder, const std::string& column) {
    ::unsetenv("FAKE_TOOL_SIGNAL");
    ::unsetenv("FAKE_TOOL_IDLE");
    folder.Write("codes", column == "tool-exit-1" ? "1\n1\n1\n" : "");
    if (column == "tool-signal") {
        ::setenv("FAKE_TOOL_SIGNAL", "KILL", 1);
    } else if (column == "tool-no-work") {
        ::setenv("FAKE_TOOL_IDLE", "1", 1);
    }
}

// e2e::WaitFor, noting when the simulator struck its line fault.
int WaitTimingTheFault(pid_t pid, e2e::Instrument& instrument, Outcome& o) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + RunBound;
    std::optional<Clock::time_point> struck;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            o.Tool.TimedOut = true;
            return -1;
        }
        if (!struck && instrument.Transcript().find("line fault: ") != std::string::npos) {
            struck = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (struck) {
        o.EndAfterFaultS = std::chrono::duration<double>(Clock::now() - *struck).count();
    } else if (instrument.Transcript().find("line fault: ") != std::string::npos) {
        o.EndAfterFaultS = 0; // over before the next look
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Outcome RunCell(const Method& method, const Fault& fault, const TempFolder& folder) {
    e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
    method.prepare(folder);
    ::setenv("FAKE_TOOL_LOG", folder.File("tool.log").c_str(), 1);
    ::setenv("FAKE_TOOL_CODES", folder.File("codes").c_str(), 1);
    ::setenv("FAKE_TOOL_PORTS", folder.File("ports").c_str(), 1);
    SetToolFault(folder, fault.column);
    const std::string device = folder.File(std::string("ports/") + method.port);
    const std::string profile =
        method.profile + method.extra + fault.profileLines +
        (*fault.profileLines ? "line.fault.at=" + std::to_string(method.faultAt) + "\n" : "");
    e2e::Instrument instrument(folder, profile, device);
    Outcome o;
    o.Folder = &folder;
    o.Device = device;
    pid_t pid =
        e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports", folder.File("ports"),
                    "--time-divisor", "10", "--report", folder.File("report.json")},
                   folder.File("out.txt"), folder.File("err.txt"));
    if (std::string(fault.column) == "hangup") {
        o.Tool.ExitCode = WaitTimingTheFault(pid, instrument, o);
    } else {
        o.Tool.ExitCode = e2e::WaitFor(pid, RunBound, o.Tool.TimedOut);
    }
    o.Tool.Out = e2e::ReadFile(folder.File("out.txt"));
    o.Tool.Err = e2e::ReadFile(folder.File("err.txt"));
    o.PortProblem = PortProblem(device);
    instrument.Stop();
    o.Flash = instrument.Flash();
    o.Transcript = instrument.Transcript();
    o.SimErrors = instrument.Errors();
    return o;
}

// The last error box the tool showed, or else the log line before the abort
// text: it names the failed step.
std::string FailedStep(const std::string& out) {
    std::size_t at = std::max(out.rfind("[Error] ") + 1, out.rfind("[Fehler] ") + 1);
    if (at != 0) {
        at = out.find(' ', at) + 1;
    } else if ((at = out.find("abgebrochen")) != std::string::npos) {
        const std::size_t lineStart = out.rfind('\n', at);
        const std::size_t end =
            lineStart == std::string::npos ? lineStart : out.find_last_not_of('\n', lineStart);
        at = end == std::string::npos ? 0 : out.rfind('\n', end) + 1; // npos + 1 is 0
    } else {
        return {};
    }
    const std::string step = out.substr(at, out.find('\n', at) - at);
    return step.substr(0, std::min(step.find(" !"), std::size_t{40}));
}

bool RunsATool(const Method& method) {
    return std::string(method.row) == "external-tool" ||
           std::string(method.row) == "meter-recovery";
}

// Empty when the hang-up ended the run soon, with the port, its device and
// the hang-up in the log and as the report's failure cause.
std::string HangUpUntold(const Method& method, const Outcome& o) {
    const std::string untold =
        e2e::HangUpUntold(method.port, o.Device, o.Tool.Out, o.Folder->File("report.json"));
    if (!untold.empty()) {
        return untold;
    }
    if (o.EndAfterFaultS < 0 || o.EndAfterFaultS > HangUpEndBoundS) {
        return "SLOW END";
    }
    return {};
}

bool Succeeded(const std::string& out) {
    return out.find("Download erfolgreich") != std::string::npos ||
           out.find("Programm erfolgreich") != std::string::npos;
}

// "ok", "fail·STEP", or what went wrong; bad is set for a cell that does not hold.
std::string Judge(const Method& method, const Fault& fault, const Outcome& o,
                  const TempFolder& folder, bool& bad) {
    bad = true;
    if (*fault.profileLines && o.Transcript.find("line fault: ") == std::string::npos) {
        return "NOT STRUCK"; // the transfer ended before the fault's byte
    }
    if (o.Tool.TimedOut) {
        return "HANG";
    }
    for (const std::string* err : {&o.Tool.Err, &o.SimErrors}) {
        if (err->find("Sanitizer") != std::string::npos ||
            err->find("runtime error") != std::string::npos) {
            return "SANITIZER";
        }
    }
    if (!o.PortProblem.empty()) {
        return "PORT " + o.PortProblem;
    }
    const bool success = Succeeded(o.Tool.Out);
    if (o.Tool.ExitCode == 0) {
        if (!success) {
            return "0 WITHOUT SUCCESS";
        }
        bad = !method.intact(o, folder);
        return bad ? "WRONG DATA" : "ok";
    }
    if (!*fault.profileLines && !fault.toolFault) {
        return "FAILED WITHOUT FAULT";
    }
    if (o.Tool.ExitCode == 1 && !success) {
        const std::string step = FailedStep(o.Tool.Out);
        bad = step.empty();
        if (!bad && std::string(fault.column) == "hangup") {
            const std::string untold = HangUpUntold(method, o);
            bad = !untold.empty();
            return bad ? untold : "fail\xC2\xB7" + step;
        }
        return bad ? "FAIL UNNAMED" : "fail\xC2\xB7" + step;
    }
    return "exit " + std::to_string(o.Tool.ExitCode);
}

class FaultMatrix : public ::testing::TestWithParam<Method> {};

TEST_P(FaultMatrix, EveryFaultEndsInAVerifiedSuccessOrANamedFailure) {
    const Method& method = GetParam();
    const bool tool = RunsATool(method);
    // One row of the matrix; the tool's own failures apply to the tool only.
    std::string header = "| method |", rule = "|---|", row = std::string("| ") + method.row + " |";
    for (const Fault& fault : Faults) {
        header += std::string(" ") + fault.column + " |";
        rule += "---|";
        if (fault.toolFault && !tool) {
            row += " n/a |";
            continue;
        }
        TempFolder folder;
        const auto started = std::chrono::steady_clock::now();
        const Outcome o = RunCell(method, fault, folder);
        const auto seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        bool bad = false;
        const std::string cell = Judge(method, fault, o, folder, bad);
        char time[48];
        if (o.EndAfterFaultS >= 0) {
            std::snprintf(time, sizeof time, "%.1f s, end +%.2f s", seconds, o.EndAfterFaultS);
        } else {
            std::snprintf(time, sizeof time, "%.1f s", seconds);
        }
        row += " " + cell + " (" + time + ") |";
        EXPECT_FALSE(bad) << method.row << " × " << fault.column << ": " << cell << "\n"
                          << o.Tool.Out << "\n"
                          << o.Transcript.substr(
                                 o.Transcript.size() > 3000 ? o.Transcript.size() - 3000 : 0);
    }
    std::printf("\n%s\n%s\n%s\n", header.c_str(), rule.c_str(), row.c_str());
}

INSTANTIATE_TEST_SUITE_P(Methods, FaultMatrix, ::testing::ValuesIn(Methods),
                         [](const ::testing::TestParamInfo<Method>& info) {
                             std::string name = info.param.row;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
