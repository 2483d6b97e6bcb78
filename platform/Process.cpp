#include "platform/Process.h"

#include <fcntl.h>
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

int SpawnProcess(const std::vector<std::string>& argv, const ProcessFiles& files) {
    if (argv.empty()) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!files.Input.empty()) {
        posix_spawn_file_actions_addopen(&actions, 0, files.Input.c_str(), O_RDONLY, 0);
    }
    if (!files.Output.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, files.Output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (files.Error == "&1") {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else if (!files.Error.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, files.Error.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace platform
