#include "platform/TerminationSignals.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// In a child, since the second signal ends the process that receives it.
TEST(TerminationSignals, FirstSignalIsHandedOnAndASecondEndsAtOnce) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::atomic<int> handed{0};
        platform::TerminationSignals signals([&handed](int signal) { handed = signal; });
        if (!signals.Installed()) {
            ::_exit(2);
        }
        ::raise(SIGTERM);
        for (int i = 0; i < 200 && handed == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (handed != SIGTERM) {
            ::_exit(3);
        }
        // Nobody acted on the first: the second must not wait for that.
        ::raise(SIGINT);
        ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGINT);
}

} // namespace
