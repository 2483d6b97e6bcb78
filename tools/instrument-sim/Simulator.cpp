#include "tools/instrument-sim/Simulator.h"

#include "tools/instrument-sim/UartModel.h"

#include <algorithm>
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
    instrument_ = std::make_unique<Instrument>(
        profile_, options_.loader != nullptr ? options_.loader(profile_) : nullptr,
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

void Simulator::SendReplies(Wire::Micros now) {
    for (Reply& reply : instrument_->TakeReplies(now / 1000)) {
        if (isPty_) {
            wire_.Send(std::move(reply), now);
        } else {
            transcript_.Sent(reply.bytes);
            WriteOut(reply.bytes);
        }
    }
}

void Simulator::Arrive(const Reply& reply) {
    transcript_.Sent(reply.bytes);
    LineSettings tool;
    if (!ReadLineSettings(fd_, tool) || tool == reply.line) {
        WriteOut(reply.bytes);
        return;
    }
    // The tool's receiver tests the first stop bit only, as common UARTs do.
    const std::string read = ReadAs(reply.bytes, FrameOf(reply.line), FrameOf(tool));
    if (read != reply.bytes)
        transcript_.Note("garbled on the line: instrument at " + LineText(reply.line) +
                         ", tool at " + LineText(tool) + "; tool reads " +
                         (read.empty() ? std::string("nothing") : read));
    WriteOut(read);
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
        // Written long before, at settings since given back: not judged.
        instrument_->Receive(std::string_view(buf, static_cast<std::size_t>(n)), nullptr, 0);
    }
}

void Simulator::HandOver(std::string_view bytes, Instrument::Millis now) {
    // A pty drains at once: the tool's bytes are judged by the settings in
    // force when they are read.
    LineSettings line;
    const bool judged = isPty_ && ReadLineSettings(fd_, line);
    instrument_->Receive(bytes, judged ? &line : nullptr, now);
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
    auto realMs = [&] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    const std::uint64_t divisor = std::max(1u, options_.timeDivisor);
    // The instrument's clock, in microseconds.
    auto instrumentNow = [&] {
        return static_cast<Wire::Micros>(
                   std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start)
                       .count()) *
               divisor;
    };
    std::uint64_t lastInput = 0;
    unsigned savedExits = instrument_->LoaderExits();
    End end = End::Stopped;
    char buf[kReadChunk];
    for (;;) {
        const Wire::Micros now = instrumentNow();
        SendReplies(now);
        for (const Reply& reply : wire_.TakeArrived(now))
            Arrive(reply);
        if (instrument_->HangupRequested()) {
            end = End::Hangup;
            break;
        }
        if (instrument_->LoaderExits() != savedExits) {
            savedExits = instrument_->LoaderExits();
            SaveFlash();
        }
        if (!isPty_ && !(instrument_->ExpectedLine() == applied_)) {
            // On a real line the hardware judges the speed; follow the state's.
            std::string error;
            applied_ = instrument_->ExpectedLine();
            if (!ApplyLineSettings(fd_, applied_, error))
                transcript_.Note(error);
        }
        std::optional<Wire::Micros> wake = wire_.NextArrival();
        if (auto due = instrument_->NextDue())
            wake = std::min(wake.value_or(~0ull), *due * 1000);
        long long timeout = -1;
        if (wake) {
            const Wire::Micros left = *wake > now ? *wake - now : 0;
            timeout = static_cast<long long>((left / divisor + 999) / 1000);
        }
        if (options_.exitAfterIdleSec > 0) {
            const std::uint64_t deadline = lastInput + options_.exitAfterIdleSec * 1000ull;
            const std::uint64_t nowMs = realMs();
            if (deadline <= nowMs) {
                end = End::Idle;
                break;
            }
            long long left = static_cast<long long>(deadline - nowMs);
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
                lastInput = realMs();
                HandOver(std::string_view(buf, static_cast<std::size_t>(n)),
                         instrumentNow() / 1000);
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
