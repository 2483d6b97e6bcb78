#include "frontends/console/ConsoleInput.h"

#include "platform/Application.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace console {

namespace {
// Longest command line kept; the rest of an overlong line is dropped.
constexpr std::size_t MaxLineLength = 4096;
} // namespace

ConsoleInput::ConsoleInput() {
    if (::pipe(stopPipe_) != 0) {
        stopPipe_[0] = stopPipe_[1] = -1;
    }
}

ConsoleInput::~ConsoleInput() {
    stop_ = true;
    if (stopPipe_[1] >= 0) {
        char wake = 0;
        (void)!::write(stopPipe_[1], &wake, 1);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    for (int fd : stopPipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void ConsoleInput::Start() {
    thread_ = std::thread([this] { ReadLoop(); });
}

void ConsoleInput::ReadLoop() {
    std::string line;
    auto deliver = [this](std::string text, bool ended) {
        {
            std::lock_guard lock(mutex_);
            if (!ended) {
                lines_.push_back(std::move(text));
            }
            ended_ = ended_ || ended;
        }
        platform::Application::Instance().PostThreadMessage(WM_INPUT, 0, 0);
    };
    while (!stop_) {
        // The stop pipe wakes the thread when the program ends first.
        pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        int ready = ::poll(watched, stopPipe_[0] >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready > 0 && watched[1].revents != 0) {
            continue;
        }
        char buffer[512];
        ssize_t count = ready < 0 ? -1 : ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (!line.empty()) {
                deliver(line, false);
            }
            deliver({}, true);
            return;
        }
        for (ssize_t i = 0; i < count; ++i) {
            char c = buffer[i];
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                deliver(line, false);
                line.clear();
            } else if (line.size() < MaxLineLength) {
                line += c;
            }
        }
    }
}

std::deque<std::string> ConsoleInput::TakeLines(bool& ended) {
    std::lock_guard lock(mutex_);
    std::deque<std::string> taken;
    taken.swap(lines_);
    ended = ended_;
    return taken;
}

} // namespace console
