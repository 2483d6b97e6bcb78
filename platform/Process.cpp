#include "platform/Process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace platform {

bool StartDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    // Nobody waits for the child: let the kernel reap it.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ignore.sa_flags = SA_NOCLDWAIT;
    ::sigaction(SIGCHLD, &ignore, nullptr);
    pid_t pid = 0;
    return ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0;
}

} // namespace platform
