#include "tools/instrument-sim/Simulator.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <unistd.h>

namespace sim {
namespace {

constexpr int kWriteTimeoutMs = 1000;
constexpr std::size_t kReadChunk = 4096;

// A lab file name as the tool sent it, reduced to a plain name inside the folder.
std::string SafeFileName(const std::string& name) {
    std::string base = name.substr(name.find_last_of("/\\") + 1);
    if (base.empty() || base == "." || base == ".." || base.size() > 255)
        return {};
    for (char c : base) {
        if (static_cast<unsigned char>(c) < 0x20)
            return {};
    }
    return base;
}

} // namespace

const char* EndText(Simulator::End end) {
    switch (end) {
    case Simulator::End::Stopped:
        return "stopped";
    case Simulator::End::Idle:
        return "idle";
    case Simulator::End::Hangup:
        return "hang-up";
    case Simulator::End::LineClosed:
        return "line closed";
    }
    return "?";
}

Simulator::Simulator(Profile profile, SimOptions options)
    : profile_(std::move(profile)), options_(std::move(options)) {
    if (pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        stopPipe_[0] = stopPipe_[1] = -1;
}

Simulator::~Simulator() {
    CloseLine();
    for (int fd : stopPipe_) {
        if (fd >= 0)
            close(fd);
    }
}

void Simulator::CloseLine() {
    if (isPty_)
        ClosePty(pty_);
    else if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool Simulator::Start(std::string& error) {
    if (stopPipe_[0] < 0) {
        error = "cannot create the stop pipe";
        return false;
    }
    if (!options_.transcriptPath.empty() && !transcript_.Open(options_.transcriptPath, error))
        return false;
    instrument_ = std::make_unique<Instrument>(profile_, nullptr,
                                               transcript_.IsOpen() ? &transcript_ : nullptr);
    return true;
}

bool Simulator::OpenPty(std::string& error) {
    if (!sim::OpenPty(pty_, error))
        return false;
    isPty_ = true;
    fd_ = pty_.master;
    return Start(error);
}

bool Simulator::OpenDevice(const std::string& path, std::string& error) {
    if (!OpenLineDevice(path, fd_, error))
        return false;
    isPty_ = false;
    return Start(error);
}

void Simulator::RequestStop() {
    if (stopPipe_[1] >= 0) {
        char c = kStopRequest;
        [[maybe_unused]] ssize_t n = write(stopPipe_[1], &c, 1);
    }
}

void Simulator::RequestSwitchOn() {
    if (stopPipe_[1] >= 0) {
        char c = kSwitchOnRequest;
        [[maybe_unused]] ssize_t n = write(stopPipe_[1], &c, 1);
    }
}

bool Simulator::TakeRequests() {
    char requests[16];
    bool stop = false;
    ssize_t n = 0;
    while ((n = read(stopPipe_[0], requests, sizeof requests)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (requests[i] == kSwitchOnRequest)
                instrument_->SwitchOn();
            else
                stop = true;
        }
    }
    return stop;
}

void Simulator::WriteOut(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        pollfd p{fd_, POLLOUT, 0};
        if (n < 0 && errno == EAGAIN && poll(&p, 1, kWriteTimeoutMs) > 0)
            continue;
        break;
    }
    transcript_.Sent(bytes.substr(0, done));
    if (done < bytes.size())
        transcript_.Note("line would not take " + std::to_string(bytes.size() - done) + " bytes");
}

void Simulator::DrainHeldLine() {
    char buf[kReadChunk];
    for (;;) {
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        instrument_->Receive(std::string_view(buf, static_cast<std::size_t>(n)), nullptr, 0);
    }
}

void Simulator::SaveFlash() {
    if (options_.flashOutPath.empty())
        return;
    std::string error;
    if (!instrument_->Memory().Save(options_.flashOutPath, error))
        transcript_.Note(error);
}

void Simulator::SaveLabFiles() {
    if (options_.filesOutDir.empty())
        return;
    for (const LabFile& f : instrument_->LabFiles()) {
        if (!f.complete) {
            // Never closed: the instrument throws the part away.
            transcript_.Note("lab file not closed, not kept: " + Transcript::Escape(f.name));
            continue;
        }
        std::string name = SafeFileName(f.name);
        if (name.empty()) {
            transcript_.Note("lab file name refused: " + Transcript::Escape(f.name));
            continue;
        }
        std::ofstream out(options_.filesOutDir + "/" + name, std::ios::binary | std::ios::trunc);
        out.write(f.data.data(), static_cast<std::streamsize>(f.data.size()));
        if (!out)
            transcript_.Note("cannot write lab file " + name);
    }
}

Simulator::End Simulator::Run() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nowMs = [&] {
        return static_cast<Instrument::Millis>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    Instrument::Millis lastInput = 0;
    unsigned savedExits = instrument_->LoaderExits();
    End end = End::Stopped;
    char buf[kReadChunk];
    for (;;) {
        Instrument::Millis now = nowMs();
        std::string out = instrument_->TakeDue(now);
        if (!out.empty())
            WriteOut(out);
        if (instrument_->HangupRequested()) {
            end = End::Hangup;
            break;
        }
        if (instrument_->LoaderExits() != savedExits) {
            savedExits = instrument_->LoaderExits();
            SaveFlash();
        }
        if (!isPty_ && !(instrument_->ExpectedLine() == applied_)) {
            // On a real line the hardware enforces the speed; follow the state's.
            std::string error;
            applied_ = instrument_->ExpectedLine();
            if (!ApplyLineSettings(fd_, applied_, error))
                transcript_.Note(error);
        }
        long long timeout = -1;
        if (auto due = instrument_->NextDue())
            timeout = *due > now ? static_cast<long long>(*due - now) : 0;
        if (options_.exitAfterIdleSec > 0) {
            Instrument::Millis deadline = lastInput + options_.exitAfterIdleSec * 1000ull;
            if (deadline <= now) {
                end = End::Idle;
                break;
            }
            long long left = static_cast<long long>(deadline - now);
            timeout = timeout < 0 ? left : std::min(timeout, left);
        }
        // A held line is not read: what the tool writes backs up in the pty.
        pollfd fds[2] = {{instrument_->InputHeld() ? -1 : fd_, POLLIN, 0},
                         {stopPipe_[0], POLLIN, 0}};
        int ready = poll(fds, 2, timeout < 0 ? -1 : static_cast<int>(std::min(timeout, 60000ll)));
        if (ready < 0 && errno != EINTR) {
            end = End::LineClosed;
            break;
        }
        if ((fds[1].revents & POLLIN) && TakeRequests()) {
            end = End::Stopped;
            break;
        }
        if (fds[0].revents & POLLIN) {
            ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                LineSettings line;
                bool check = isPty_ && ReadLineSettings(fd_, line);
                lastInput = nowMs();
                instrument_->Receive(std::string_view(buf, static_cast<std::size_t>(n)),
                                     check ? &line : nullptr, lastInput);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                end = End::LineClosed;
                break;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            end = End::LineClosed;
            break;
        }
    }
    if (end == End::Stopped && instrument_->InputHeld())
        DrainHeldLine();
    transcript_.Note(std::string("end: ") + EndText(end));
    SaveFlash();
    SaveLabFiles();
    if (end == End::Hangup)
        CloseLine();
    return end;
}

} // namespace sim
