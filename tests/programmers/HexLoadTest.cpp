#include "programmers/HexLoad.h"

#include "../serial/SerialTestSupport.h"
#include "FakeHost.h"
#include "platform/Application.h"
#include "tests/support/TempFolder.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Contains(const std::string& path, const std::string& text) {
    return ReadAll(path).find(text) != std::string::npos;
}

// A job left behind runs on in the library: the next test must not meet it.
bool AbandonedJobEndsWithin10s() {
    for (int i = 0; i < 1000 && programmers::THexLoad::AbandonedJobRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !programmers::THexLoad::AbandonedJobRunning();
}

// The whole job, its stages and failures run end to end (ExternalToolTest);
// here the bound of the library's path buffer.
TEST(HexLoadTest, APathOf79CharactersIsPassedWholeAndALongerOneIsRefused) {
    testing_support::TempFolder folder;
    ::setenv("FAKE_M16_LOG", folder.File("calls.log").c_str(), 1);
    serial::TDelay wait(nullptr);
    programmers::THexLoad updater(FAKE_UPDATER, wait, [](const programmers::TUpdaterReport&) {});
    ASSERT_TRUE(updater.LibraryPresent());
    EXPECT_FALSE(updater.Start(std::string(80, 'A'), 3));
    const std::string path = std::string(75, 'B') + ".HEX";
    ASSERT_TRUE(updater.Start(path, 3));
    while (updater.Busy()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(updater.Failed());
    std::ifstream in(folder.File("calls.log"));
    const std::string calls{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(calls.find("Program " + path + "\n"), std::string::npos) << calls;
    EXPECT_EQ(calls.find(std::string(80, 'A')), std::string::npos);
}

// A close cannot wait for a stuck library call: once abandoned, the job is
// not waited for and reports nothing more, and its end touches nothing of
// the caller's.
TEST(HexLoadTest, AnAbandonedJobIsNotWaitedForAndReportsNothingMore) {
    testing_support::TempFolder folder;
    ::setenv("FAKE_M16_LOG", folder.File("calls.log").c_str(), 1);
    ::setenv("FAKE_M16_HANG", "Clear:300", 1);
    std::atomic<int> reports{0};
    {
        serial::TDelay wait(nullptr);
        programmers::THexLoad updater(
            FAKE_UPDATER, wait, [&reports](const programmers::TUpdaterReport&) { ++reports; });
        ASSERT_TRUE(updater.Start("A.HEX", 3));
        for (int i = 0; i < 500 && !Contains(folder.File("calls.log"), "Clear"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(updater.Busy());
        updater.Abandon();
    }
    const int before = reports;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ::unsetenv("FAKE_M16_HANG");
    EXPECT_EQ(reports, before) << "the stage and progress after the stuck call went nowhere";
    EXPECT_TRUE(Contains(folder.File("calls.log"), "Deinit")) << "the job ran to its end";
    EXPECT_TRUE(AbandonedJobEndsWithin10s());
}

// A library call that never returns would hold the session for good: past
// the bound (shortened by the time divisor) the job is left behind and the
// step fails, naming the library and the bound.
TEST(HexLoadTest, AJobBusyPastItsBoundIsLeftBehindAndFailsTheStep) {
    testing_support::TempFolder folder;
    ::setenv("FAKE_M16_LOG", folder.File("calls.log").c_str(), 1);
    ::setenv("FAKE_M16_HANG", "Program:3000", 1);
    bsltest::FakeHost host;
    serial::TDelay wait(nullptr);
    const serial::TComPort neverOpened(nullptr, "UpdateCom");
    platform::Application::Instance().SetTimeDivisor(100000);
    programmers::TProgrammerResult result;
    {
        programmers::THexLoad updater(FAKE_UPDATER, wait,
                                      [](const programmers::TUpdaterReport&) {});
        const auto start = std::chrono::steady_clock::now();
        result = programmers::RunUpdaterJob(updater, host, wait, neverOpened, "A.HEX", 3);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500))
            << "waited for the call";
    }
    platform::Application::Instance().SetTimeDivisor(1);
    ::unsetenv("FAKE_M16_HANG");
    EXPECT_EQ(result.Result, programmers::TProgrammerResult::Kind::Failed);
    EXPECT_EQ(result.Failure.Cause,
              "ZNQM16Updater.dll still busy after 1800 s: its call was left behind");
    ASSERT_FALSE(host.shownLines.empty());
    EXPECT_EQ(host.shownLines.back(), result.Failure.Cause);
    EXPECT_TRUE(AbandonedJobEndsWithin10s());
}

// A library call stuck on a line whose adapter was pulled: the job is left
// behind soon after the device is gone, not at the bound half an hour on.
TEST(HexLoadTest, AJobWhosePortsDeviceWentAwayIsLeftBehindAndFailsTheStep) {
    testing_support::TempFolder folder;
    ::setenv("FAKE_M16_LOG", folder.File("calls.log").c_str(), 1);
    ::setenv("FAKE_M16_HANG", "Program:6000", 1);
    serialtest::Pty pty;
    serialtest::PortDirectory ports;
    ports.Link(4, pty.SlavePath());
    serial::TComPort com(nullptr, "UpdateCom");
    serial::V24ParameterTag record;
    com.InitParameter(&record, false);
    ASSERT_NE(com.Open(0, 0, 4, false), serial::INVALID_HANDLE_VALUE);
    com.Close(); // lent to the library
    std::filesystem::remove(ports.Path() + "/COM5");
    bsltest::FakeHost host;
    serial::TDelay wait(nullptr);
    programmers::TProgrammerResult result;
    {
        programmers::THexLoad updater(FAKE_UPDATER, wait,
                                      [](const programmers::TUpdaterReport&) {});
        const auto start = std::chrono::steady_clock::now();
        result = programmers::RunUpdaterJob(updater, host, wait, com, "A.HEX", 5);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(6000))
            << "waited for the call";
    }
    ::unsetenv("FAKE_M16_HANG");
    EXPECT_EQ(result.Result, programmers::TProgrammerResult::Kind::Failed);
    EXPECT_EQ(result.Failure.Cause,
              "ZNQM16Updater.dll left behind: the device of its port is gone");
    ASSERT_FALSE(host.shownLines.empty());
    EXPECT_EQ(host.shownLines.back(), result.Failure.Cause);

    // OK at once: the call left behind still runs in the library, so no
    // second job starts beside it; once it has returned one may.
    ASSERT_TRUE(programmers::THexLoad::AbandonedJobRunning());
    const std::string before = ReadAll(folder.File("calls.log"));
    {
        programmers::THexLoad updater(FAKE_UPDATER, wait,
                                      [](const programmers::TUpdaterReport&) {});
        result = programmers::RunUpdaterJob(updater, host, wait, com, "A.HEX", 5);
    }
    EXPECT_EQ(result.Failure.Cause, "ZNQM16Updater.dll: a call left behind earlier still runs; "
                                    "try again once it has returned");
    ASSERT_TRUE(AbandonedJobEndsWithin10s());
    EXPECT_EQ(ReadAll(folder.File("calls.log")).find("Init", before.size()), std::string::npos)
        << "the second job never called the library";
}

} // namespace
