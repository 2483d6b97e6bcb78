// Prints what the serial line costs: the processor time of a long delay and
// of an idle open port, and the latency of one byte there and back.
// Usage: serial_bench [seconds]   (default 10 for the two long figures)

#include "platform/Application.h"
#include "platform/PortMap.h"
#include "platform/Tick.h"
#include "serial/Comport.h"
#include "serial/Delay.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double WallSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Window : platform::MessageTarget {
    std::atomic<int> notifications{0};
    void Dispatch(platform::Message& message) override {
        if (message.Msg == serial::V24_MSG_RXCHAR) {
            ++notifications;
        }
    }
};

// Echoes every byte the tool sends, as an instrument that answers at once.
void Echo(int master, const std::atomic<bool>& stop) {
    char buffer[64];
    while (!stop) {
        pollfd fd = {master, POLLIN, 0};
        if (poll(&fd, 1, 100) > 0) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) {
                [[maybe_unused]] ssize_t w = write(master, buffer, static_cast<size_t>(n));
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const long seconds = argc > 1 ? std::max(1L, std::atol(argv[1])) : 10;
    platform::Application& application = platform::Application::Instance();

    serial::TDelay delay(nullptr);
    double cpu = CpuSeconds();
    delay.DelayTime(seconds * 1000, true);
    std::printf("DelayTime(%ld s, messages): %.4f s CPU\n", seconds, CpuSeconds() - cpu);

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "no pty\n");
        return 1;
    }
    std::string folder = (std::filesystem::temp_directory_path() / "serial-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        return 1;
    }
    std::filesystem::create_symlink(ptsname(master), folder + "/COM1");
    platform::SetPortMapDirectory(folder);

    Window window;
    platform::HWND handle = application.Register(&window);
    serial::TComPort com(nullptr);
    if (com.Open(handle, 0, 0, false) == serial::INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open the pty\n");
        return 1;
    }

    cpu = CpuSeconds();
    double wall = WallSeconds();
    application.ProcessMessagesFor(static_cast<std::uint32_t>(seconds * 1000));
    double used = CpuSeconds() - cpu;
    std::printf("idle open port over %ld s: %.4f s CPU (%.3f %% of one core)\n", seconds, used,
                100.0 * used / (WallSeconds() - wall));

    std::atomic<bool> stop{false};
    std::thread echo(Echo, master, std::cref(stop));
    std::vector<double> latencies;
    char buffer[16];
    for (int i = 0; i < 500; ++i) {
        int before = window.notifications;
        double start = WallSeconds();
        com.Write("U", 1, true);
        while (window.notifications == before) {
            application.HandleMessage();
        }
        int got = com.Read(buffer, sizeof buffer - 1);
        latencies.push_back((WallSeconds() - start) * 1e6);
        if (got != 1) {
            std::fprintf(stderr, "round %d read %d bytes\n", i, got);
        }
    }
    stop = true;
    echo.join();
    std::sort(latencies.begin(), latencies.end());
    std::printf("one byte Write -> notification -> Read over a pty (%zu rounds): median %.0f us, "
                "99th percentile %.0f us\n",
                latencies.size(), latencies[latencies.size() / 2],
                latencies[latencies.size() * 99 / 100]);

    com.Close();
    application.Unregister(handle);
    close(master);
    platform::SetPortMapDirectory("");
    std::filesystem::remove_all(folder);
    return 0;
}
