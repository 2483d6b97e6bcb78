// The kernel's <asm/termbits.h> declares its own struct termios, which
// clashes with the one from glibc's <termios.h>; the two headers can't meet in
// one file. This file includes only the kernel's, and its header passes
// plain integers.

#include "platform/SerialCustomSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace platform {

bool SetCustomBaudRate(int fd, std::uint32_t baudRate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baudRate;
    tio.c_ospeed = baudRate;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

bool GetBaudRate(int fd, std::uint32_t& baudRate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    baudRate = tio.c_ospeed;
    return true;
}

} // namespace platform
