#include "PtyClient.h"

#include <climits>
#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace sim {
namespace {

// The program as a calling script starts it, with its standard output on a pipe.
struct Program {
    pid_t pid = -1;
    int out = -1;

    // name: argv[0], as a shell passes the name the program was called by.
    explicit Program(std::vector<std::string> args, std::string name = SIM_PROGRAM) {
        int p[2];
        if (pipe(p) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        posix_spawn_file_actions_addclose(&fa, p[0]);
        args.insert(args.begin(), name);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, SIM_PROGRAM, &fa, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(p[1]);
        out = p[0];
    }
    ~Program() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            close(out);
    }
    std::string FirstLine() {
        std::string line;
        char c;
        while (line.size() < 200 && read(out, &c, 1) == 1 && c != '\n')
            line.push_back(c);
        return line;
    }
    int Wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

const std::string kMeter = SIM_SOURCE_DIR "/profiles/meter.profile";

TEST(Program, LinksThePtyAnswersAndCleansUpOnSigterm) {
    std::string link = testing::TempDir() + "/COM7";
    Program prog({"--profile", kMeter, "--link", link});
    ASSERT_GT(prog.pid, 0);
    std::string line = prog.FirstLine();
    ASSERT_TRUE(line.starts_with("PTY /dev/")) << line;
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), line.substr(4));

    {
        test::PtyClient client(link);
        ASSERT_TRUE(client.IsOpen());
        ASSERT_TRUE(client.SetLine(B4800, true));
        EXPECT_EQ(client.Ask("A.1111\r\n"), "A.1111!\r\n");
    }
    kill(prog.pid, SIGTERM);
    EXPECT_EQ(prog.Wait(), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "link removed";
}

TEST(Program, RefusesBadArgumentsAndProfiles) {
    std::string bad = testing::TempDir() + "/bad.profile";
    FILE* f = fopen(bad.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("baud=4800\n", f);
    fclose(f);
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--profile", bad},
          {"--bogus"},
          {"--profile"},
          {"--profile", kMeter, "--exit-after-idle", "x"},
          {"--profile", kMeter, "--link", "/a", "--device", "/b"}}) {
        Program prog(args);
        ASSERT_GT(prog.pid, 0);
        EXPECT_EQ(prog.Wait(), 1) << args[0];
    }
}

// Installed under another name, it names itself by that name.
TEST(Program, TellsItsUsageUnderTheNameItWasCalledBy) {
    Program installed({"--help"}, "/usr/bin/instrument-update-simulator");
    ASSERT_GT(installed.pid, 0);
    EXPECT_EQ(installed.FirstLine(), "usage: instrument-update-simulator --profile FILE [--link "
                                     "DIR/COMn | --device PATH]");
    EXPECT_EQ(installed.Wait(), 0);
}

} // namespace
} // namespace sim
