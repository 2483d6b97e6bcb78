#pragma once

// The tool's end of the line in these tests: opens the slave, sets the line, sends
// and reads with generous time-outs.
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace sim::test {

class PtyClient {
public:
    explicit PtyClient(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~PtyClient() {
        if (fd_ >= 0)
            close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    bool SetLine(speed_t speed, bool twoStopBits) {
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0)
            return false;
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag = twoStopBits ? (tio.c_cflag | CSTOPB) : (tio.c_cflag & ~CSTOPB);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        return tcsetattr(fd_, TCSANOW, &tio) == 0;
    }

    bool Send(const std::string& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `until` has arrived (or, when empty, for the whole wait).
    std::string Read(const std::string& until, int waitMs = 5000) {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            if (!until.empty() && got.find(until) != std::string::npos)
                return got;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0)
                return got;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0)
                continue;
            if (p.revents & POLLHUP)
                return got + "<HUP>";
            char buf[256];
            ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
        }
    }

    std::string Ask(const std::string& command, const std::string& until = "\r\n") {
        if (!Send(command))
            return "<write failed>";
        return Read(until);
    }

private:
    int fd_ = -1;
};

} // namespace sim::test
