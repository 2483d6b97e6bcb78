#include "platform/Process.h"

#include "platform/Tick.h"

#include <cerrno>
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

int SpawnProcess(const std::vector<std::string>& argv, const ProcessFiles& files, bool ownGroup) {
    if (argv.empty()) {
        errno = EINVAL;
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
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

namespace {

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 128;
}

} // namespace

TChildProcess::~TChildProcess() {
    Terminate();
}

bool TChildProcess::Start(const std::vector<std::string>& argv) {
    Terminate();
    // No file actions: the child inherits the streams, as a tool expects.
    // Its own group, so that ending it also ends what it started.
    pid_ = SpawnProcess(argv, ProcessFiles{.Input = {}, .Output = {}, .Error = {}}, true);
    startError_ = pid_ > 0 ? 0 : errno;
    return pid_ > 0;
}

bool TChildProcess::Ended(int& exitCode) {
    if (pid_ <= 0) {
        return true;
    }
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == 0 || (done < 0 && errno == EINTR)) {
        return false;
    }
    // ECHILD: someone else reaped it; nothing more can be learned.
    exitCode = done == pid_ ? ExitCodeOf(status) : 128;
    pid_ = -1;
    return true;
}

void TChildProcess::Terminate(int graceMs) {
    if (pid_ <= 0) {
        return;
    }
    ::kill(-pid_, SIGTERM);
    const std::uint32_t start = GetTickCount();
    // Looked at without reaping: the child's id stays taken until the group
    // has had its SIGKILL, so the signal cannot reach a stranger.
    for (;;) {
        siginfo_t info{};
        const int looked =
            ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        if ((looked == 0 && info.si_pid == pid_) || (looked < 0 && errno != EINTR) ||
            GetTickCount() - start >= static_cast<std::uint32_t>(graceMs)) {
            break;
        }
        SleepMs(20);
    }
    ::kill(-pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

} // namespace platform
