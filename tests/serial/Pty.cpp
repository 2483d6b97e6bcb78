#include "Pty.h"

#include "platform/CustomBaud.h"
#include "platform/Tick.h"

#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace serialtest {

namespace {

termios SettingsOf(int master) {
    termios tio{};
    tcgetattr(master, &tio);
    return tio;
}

} // namespace

Pty::Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pty");
    }
    slave_ = ptsname(master_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    CloseMaster();
}

std::uint32_t Pty::Baud() const {
    std::uint32_t baud = 0;
    platform::GetActualBaud(master_, baud);
    return baud;
}

bool Pty::TwoStopBits() const {
    return (SettingsOf(master_).c_cflag & CSTOPB) != 0;
}

bool Pty::HardwareFlow() const {
    return (SettingsOf(master_).c_cflag & CRTSCTS) != 0;
}

bool Pty::SetLine(std::uint32_t baud, bool twoStopBits) const {
    termios tio = SettingsOf(master_);
    speed_t code = baud == 19200 ? B19200 : baud == 9600 ? B9600 : B4800;
    cfsetspeed(&tio, code);
    tio.c_cflag = twoStopBits ? tio.c_cflag | CSTOPB : tio.c_cflag & ~CSTOPB;
    return tcsetattr(master_, TCSANOW, &tio) == 0;
}

void Pty::Send(const std::string& bytes) const {
    [[maybe_unused]] ssize_t n = ::write(master_, bytes.data(), bytes.size());
}

std::string Pty::Receive(std::size_t want, std::uint32_t timeoutMs) const {
    std::string got;
    std::uint32_t start = platform::GetTickCount();
    while (got.size() < want && platform::GetTickCount() - start < timeoutMs) {
        char buffer[256];
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
        } else {
            platform::SleepMs(5);
        }
    }
    return got;
}

void Pty::CloseMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

} // namespace serialtest
