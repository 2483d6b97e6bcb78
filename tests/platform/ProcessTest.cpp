#include "platform/Process.h"

#include "tests/support/TempFolder.h"

#include <cerrno>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

// Running and not a zombie; an orphan's zombie waits for whoever reaps it.
bool Alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

TEST(ChildProcessTest, TerminateEndsAChildThatIgnoresSigtermAndWhatItStarted) {
    testing_support::TempFolder folder;
    platform::TChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "trap '' TERM; sleep 60 & echo $! > \"$0\"; wait",
                             folder.File("grandchild")}));
    const int pid = child.Pid();
    int grandchild = 0;
    while (grandchild == 0) {
        std::ifstream(folder.File("grandchild")) >> grandchild;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    child.Terminate(300);
    EXPECT_FALSE(child.Running());
    EXPECT_EQ(::kill(pid, 0), -1) << "the child is gone and reaped";
    for (int i = 0; i < 500 && Alive(grandchild); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(Alive(grandchild));
}

TEST(ChildProcessTest, AProgramThatDoesNotStartTellsWhy) {
    platform::TChildProcess child;
    EXPECT_FALSE(child.Start({"/nonexistent/HEXLoad_8N1.exe"}));
    EXPECT_EQ(child.StartError(), ENOENT);
    testing_support::TempFolder folder;
    folder.Write("tool", "#!/bin/sh\n"); // not executable
    EXPECT_FALSE(child.Start({folder.File("tool")}));
    EXPECT_EQ(child.StartError(), EACCES);
    ASSERT_TRUE(child.Start({"/bin/true"}));
    EXPECT_EQ(child.StartError(), 0) << "a start forgets the last failure";
    int code = -1;
    while (!child.Ended(code)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(code, 0);
}

} // namespace
