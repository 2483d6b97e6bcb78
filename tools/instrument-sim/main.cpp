// instrument-sim: a simulated measuring instrument on a pseudo-terminal or a device.
#include "tools/instrument-sim/Loader.h"
#include "tools/instrument-sim/Profile.h"
#include "tools/instrument-sim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// The name the program was started by: the build tree's instrument-sim is
// installed under another name, and its messages should say the one typed.
std::string gName = "instrument-sim";

std::string Usage() {
    const std::string indent(gName.size() + 8, ' ');
    return "usage: " + gName + " --profile FILE [--link DIR/COMn | --device PATH]\n" + indent +
           "[--transcript FILE] [--flash-out FILE] [--files-out DIR]\n" + indent +
           "[--exit-after-idle SECONDS] [--time-divisor N]\n"
           "       " +
           gName +
           " --list-loaders\n"
           "       " +
           gName +
           " --help\n"
           "Plays a measuring instrument on a new pseudo-terminal (its path is printed as\n"
           "\"PTY /dev/pts/N\", and --link makes a COMn link to it) or on a given device.\n"
           "Exit status: 0 stopped by a signal or idle, 1 bad option or profile,\n"
           "2 the line was closed.\n";
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", gName.c_str(), message.c_str());
}

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitLineClosed = 2;

sim::Simulator* gSimulator = nullptr;

extern "C" void OnStopSignal(int) {
    if (gSimulator)
        gSimulator->RequestStop();
}

extern "C" void OnPowerSignal(int) {
    if (gSimulator)
        gSimulator->RequestSwitchOn();
}

struct Args {
    std::string profile, link, device, transcript, flashOut, filesOut;
    unsigned idleSec = 0;
    unsigned timeDivisor = 1;
    bool listLoaders = false;
    bool help = false;
};

// A whole number from 1 to most.
bool ParseWhole(const std::string& text, unsigned long most, unsigned& value) {
    char* end = nullptr;
    errno = 0;
    unsigned long n = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || n == 0 || n > most)
        return false;
    value = static_cast<unsigned>(n);
    return true;
}

bool ParseArgs(int argc, char** argv, Args& a, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view opt = argv[i];
        if (opt == "--list-loaders") {
            a.listLoaders = true;
            continue;
        }
        if (opt == "--help" || opt == "-h") {
            a.help = true;
            return true;
        }
        static constexpr std::string_view kValued[] = {
            "--profile",   "--link",      "--device",          "--transcript",
            "--flash-out", "--files-out", "--exit-after-idle", "--time-divisor"};
        if (std::find(std::begin(kValued), std::end(kValued), opt) == std::end(kValued)) {
            error = "unknown option " + std::string(opt);
            return false;
        }
        if (i + 1 >= argc) {
            error = std::string(opt) + " needs a value";
            return false;
        }
        std::string value = argv[++i];
        if (opt == "--profile")
            a.profile = value;
        else if (opt == "--link")
            a.link = value;
        else if (opt == "--device")
            a.device = value;
        else if (opt == "--transcript")
            a.transcript = value;
        else if (opt == "--flash-out")
            a.flashOut = value;
        else if (opt == "--files-out")
            a.filesOut = value;
        else if (opt == "--exit-after-idle") {
            if (!ParseWhole(value, 86400, a.idleSec)) {
                error = "--exit-after-idle needs 1 to 86400 seconds";
                return false;
            }
        } else if (opt == "--time-divisor") {
            if (!ParseWhole(value, 100000, a.timeDivisor)) {
                error = "--time-divisor needs a whole number from 1 to 100000";
                return false;
            }
        }
    }
    if (!a.listLoaders && a.profile.empty()) {
        error = "--profile is required";
        return false;
    }
    if (!a.link.empty() && !a.device.empty()) {
        error = "--link and --device exclude each other";
        return false;
    }
    return true;
}

void InstallSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sa.sa_handler = OnPowerSignal;
    sigaction(SIGUSR1, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 0 && argv[0] != nullptr && *argv[0] != '\0') {
        const char* slash = std::strrchr(argv[0], '/');
        gName = slash != nullptr && slash[1] != '\0' ? slash + 1 : argv[0];
    }
    Args args;
    std::string error;
    if (!ParseArgs(argc, argv, args, error)) {
        Fail(error);
        std::fputs(Usage().c_str(), stderr);
        return kExitUsage;
    }
    if (args.help) {
        std::fputs(Usage().c_str(), stdout);
        return kExitOk;
    }
    if (args.listLoaders) {
        for (const sim::LoaderEntry& e : sim::Loaders())
            std::printf("%.*s\t%.*s\n", static_cast<int>(e.name.size()), e.name.data(),
                        static_cast<int>(e.description.size()), e.description.data());
        return kExitOk;
    }
    sim::ProfileResult loaded = sim::LoadProfile(args.profile);
    if (!loaded.ok) {
        Fail(loaded.error);
        return kExitUsage;
    }
    if (!sim::CreateLoader(loaded.profile.loader, loaded.profile)) {
        Fail("unknown loader '" + loaded.profile.loader + "' (see --list-loaders)");
        return kExitUsage;
    }
    sim::Simulator simulator(loaded.profile, {args.transcript, args.flashOut, args.filesOut,
                                              args.idleSec, args.timeDivisor});
    gSimulator = &simulator;
    InstallSignals();
    bool opened =
        args.device.empty() ? simulator.OpenPty(error) : simulator.OpenDevice(args.device, error);
    if (opened && !args.link.empty())
        opened = sim::MakeLink(args.link, simulator.SlavePath(), error);
    if (!opened) {
        Fail(error);
        return kExitUsage;
    }
    if (args.device.empty()) {
        std::printf("PTY %s\n", simulator.SlavePath().c_str());
        std::fflush(stdout);
    }
    sim::Simulator::End end = simulator.Run();
    if (!args.link.empty())
        sim::RemoveLink(args.link, simulator.SlavePath());
    gSimulator = nullptr;
    return end == sim::Simulator::End::LineClosed ? kExitLineClosed : kExitOk;
}
