// The kernel's <asm/termbits.h> (termios2, BOTHER) redefines struct termios
// and the B* constants of glibc's <termios.h>, so the two cannot meet in one
// file. This file includes only the kernel's header and nothing else speaks
// termios2.
#include "platform/CustomBaud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace platform {

bool SetCustomBaud(int fd, std::uint32_t baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = baud;
    tio.c_ispeed = baud;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

bool GetActualBaud(int fd, std::uint32_t& baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    baud = tio.c_ospeed;
    return true;
}

} // namespace platform
