/* Preloaded into mspdebug so that it can talk to the simulator's pseudo-terminal:
 * its serial driver sets DTR and RTS with TIOCMSET and gives up when that fails,
 * and a pty has no modem lines (ENOTTY). The simulator waits in its loader, so the
 * lines have nothing to do; on a real serial port the call is left as it is. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <unistd.h>

int ioctl(int fd, unsigned long request, ...) {
    static int (*real)(int, unsigned long, ...);
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    int result = real(fd, request, arg);
    if (result < 0 && errno == ENOTTY && request == TIOCMSET && isatty(fd))
        return 0;
    return result;
}
