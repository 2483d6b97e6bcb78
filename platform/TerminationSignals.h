#pragma once

#include <functional>
#include <thread>

namespace platform {

// SIGTERM and SIGINT as a request to end: the handler only writes the signal
// number into a pipe, and a watch thread hands it to onSignal (which must be
// thread-safe, e.g. Application::PostMessage). A second signal while the
// first is still being handled ends the process at once, as a person pressing
// Ctrl+C twice expects. One instance at a time; the previous dispositions
// come back when it goes.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or the handlers could not be set up.
    bool Installed() const { return installed_; }

private:
    void Watch();

    std::function<void(int)> onSignal_;
    std::thread watcher_;
    bool installed_ = false;
};

} // namespace platform
