#include "programmers/HexLoad.h"

#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

// The whole job, its stages and failures run end to end (ExternalToolTest);
// here the bound of the library's path buffer.
TEST(HexLoadTest, APathOf79CharactersIsPassedWholeAndALongerOneIsRefused) {
    testing_support::TempFolder folder;
    ::setenv("FAKE_M16_LOG", folder.File("calls.log").c_str(), 1);
    serial::TDelay wait(nullptr);
    programmers::THexLoad updater(FAKE_UPDATER, wait, [](int, std::intptr_t) {});
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

} // namespace
