#include "tools/instrument-sim/Line.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {
namespace {

struct SpeedCode {
    unsigned baud;
    speed_t code;
};
constexpr SpeedCode kSpeeds[] = {{1200, B1200},   {2400, B2400},    {4800, B4800},
                                 {9600, B9600},   {19200, B19200},  {38400, B38400},
                                 {57600, B57600}, {115200, B115200}};

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

bool OpenPty(PtyPair& pty, std::string& error) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0) {
        error = Errno("posix_openpt");
        return false;
    }
    char name[PATH_MAX] = {};
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
        ptsname_r(pty.master, name, sizeof name) != 0) {
        error = Errno("pty slave");
        ClosePty(pty);
        return false;
    }
    pty.slavePath = name;
    pty.heldSlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.heldSlave < 0) {
        error = Errno("open " + pty.slavePath);
        ClosePty(pty);
        return false;
    }
    termios tio{};
    if (tcgetattr(pty.heldSlave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(pty.heldSlave, TCSANOW, &tio);
    }
    int flags = fcntl(pty.master, F_GETFL);
    if (flags < 0 || fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Errno("pty master");
        ClosePty(pty);
        return false;
    }
    return true;
}

void ClosePty(PtyPair& pty) {
    if (pty.heldSlave >= 0)
        close(pty.heldSlave);
    if (pty.master >= 0)
        close(pty.master);
    pty.heldSlave = pty.master = -1;
}

bool OpenLineDevice(const std::string& path, int& fd, std::string& error) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = Errno("open " + path);
        return false;
    }
    return true;
}

bool ReadLineSettings(int fd, LineSettings& line) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    speed_t code = cfgetospeed(&tio);
    line.baud = 0;
    for (const SpeedCode& s : kSpeeds) {
        if (s.code == code)
            line.baud = s.baud;
    }
    line.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return true;
}

bool ApplyLineSettings(int fd, const LineSettings& line, std::string& error) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        error = Errno("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (line.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~CSTOPB;
    for (const SpeedCode& s : kSpeeds) {
        if (s.baud == line.baud) {
            cfsetispeed(&tio, s.code);
            cfsetospeed(&tio, s.code);
        }
    }
    // Replies still in the output queue leave at the speed they were sent at.
    if (tcsetattr(fd, TCSADRAIN, &tio) != 0) {
        error = Errno("tcsetattr");
        return false;
    }
    return true;
}

bool MakeLink(const std::string& linkPath, const std::string& target, std::string& error) {
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = linkPath + " exists and is not a link";
            return false;
        }
        unlink(linkPath.c_str());
    }
    if (symlink(target.c_str(), linkPath.c_str()) != 0) {
        error = Errno("link " + linkPath);
        return false;
    }
    return true;
}

void RemoveLink(const std::string& linkPath, const std::string& target) {
    char buf[PATH_MAX];
    ssize_t n = readlink(linkPath.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target)
        unlink(linkPath.c_str());
}

} // namespace sim
