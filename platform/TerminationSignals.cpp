#include "platform/TerminationSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int Watched[] = {SIGTERM, SIGINT};
constexpr unsigned char StopWatching = 0;

int gPipe[2] = {-1, -1};
volatile std::sig_atomic_t gSeen = 0;
struct sigaction gPrevious[2];

extern "C" void OnTerminationSignal(int signal) {
    if (gSeen != 0) {
        // The orderly end is already under way and someone insists.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    gSeen = 1;
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    ssize_t ignored = ::write(gPipe[1], &number, 1);
    (void)ignored;
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
    if (gPipe[0] >= 0 || ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    gSeen = 0;
    watcher_ = std::thread([this] { Watch(); });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(Watched); ++i) {
        sigaction(Watched[i], &action, &gPrevious[i]);
    }
    installed_ = true;
}

TerminationSignals::~TerminationSignals() {
    if (!installed_) {
        return;
    }
    for (std::size_t i = 0; i < std::size(Watched); ++i) {
        sigaction(Watched[i], &gPrevious[i], nullptr);
    }
    ssize_t ignored = ::write(gPipe[1], &StopWatching, 1);
    (void)ignored;
    watcher_.join();
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

void TerminationSignals::Watch() {
    for (;;) {
        pollfd fd = {gPipe[0], POLLIN, 0};
        if (::poll(&fd, 1, -1) < 0 && errno != EINTR) {
            return;
        }
        unsigned char number = StopWatching;
        while (::read(gPipe[0], &number, 1) == 1) {
            if (number == StopWatching) {
                return;
            }
            onSignal_(number);
        }
    }
}

} // namespace platform
