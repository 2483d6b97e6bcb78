#include "../serial/Pty.h"
#include "Harness.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/file.h>

namespace {

using testing_support::TempFolder;

// COM5 is a USB adapter (a pty with a by-id link and a sysfs tree of its
// own), COM6 a plain port that another program holds.
class PortListing : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        fs::create_directories(folder.File("ports"));
        fs::create_directories(folder.File("by-id"));
        fs::create_symlink(adapter.SlavePath(), folder.File("ports/COM5"));
        fs::create_symlink(held.SlavePath(), folder.File("ports/COM6"));
        fs::create_symlink(adapter.SlavePath(), folder.File("by-id/usb-Maker_Adapter_A1-if00"));
        const std::string usb = "sys/devices/usb1/1-1";
        folder.Write(usb + "/idVendor", "0403\n");
        folder.Write(usb + "/idProduct", "6001\n");
        folder.Write(usb + "/manufacturer", "Maker\n");
        folder.Write(usb + "/product", "Adapter\x01\xFF\n");
        folder.Write(usb + "/serial", std::string(500, 'S'));
        fs::create_directories(folder.File(usb + "/1-1:1.0/tty"));
        const std::string name = fs::path(adapter.SlavePath()).filename();
        fs::create_directories(folder.File("sys/class/tty/" + name));
        fs::create_symlink(folder.File(usb + "/1-1:1.0/tty"),
                           folder.File("sys/class/tty/" + name + "/device"));
        ::setenv("UPDATE_SYSFS_ROOT", folder.File("sys").c_str(), 1);
        ::setenv("UPDATE_SERIAL_BY_ID", folder.File("by-id").c_str(), 1);
        holder = ::open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    }
    void TearDown() override { ::close(holder); }
    e2e::Run List(std::vector<std::string> extra) {
        std::vector<std::string> argv = {UPDATE_CONSOLE,       "--dir",
                                         folder.Path(),        "--ports",
                                         folder.File("ports"), "--list-ports"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        e2e::Run run;
        pid_t pid = e2e::Spawn(argv, folder.File("out.txt"), folder.File("err.txt"));
        run.ExitCode = e2e::WaitFor(pid, std::chrono::seconds(20), run.TimedOut);
        run.Out = e2e::ReadFile(folder.File("out.txt"));
        return run;
    }

    TempFolder folder;
    serialtest::Pty adapter, held;
    int holder = -1;
};

TEST_F(PortListing, TextNamesDeviceByIdAdapterAndHolder) {
    e2e::Run run = List({});
    ASSERT_EQ(run.ExitCode, 0);
    const std::string serial(128, 'S'); // bounded, and the rest dropped
    EXPECT_TRUE(run.OutHas("COM5    " + folder.File("ports/COM5") + " -> " + adapter.SlavePath() +
                           "  group "))
        << run.Out;
    EXPECT_TRUE(run.OutHas("        by-id " + folder.File("by-id/usb-Maker_Adapter_A1-if00\n")));
    EXPECT_TRUE(
        run.OutHas("        USB 0403:6001 \"Maker\" \"Adapter??\" serial \"" + serial + "\"\n"))
        << run.Out;
    EXPECT_TRUE(run.OutHas(" -> " + held.SlavePath() + "  group "));
    EXPECT_TRUE(run.OutHas("(held by another program)\n"));
}

TEST_F(PortListing, JsonHoldsTheSame) {
    e2e::Run run = List({"--json"});
    ASSERT_EQ(run.ExitCode, 0);
    const nlohmann::json list = nlohmann::json::parse(run.Out);
    EXPECT_EQ(list["port_folder"], folder.File("ports"));
    ASSERT_EQ(list["ports"].size(), 2u);
    const nlohmann::json& adapterPort = list["ports"][0];
    EXPECT_EQ(adapterPort["com"], 5);
    EXPECT_EQ(adapterPort["device"], adapter.SlavePath());
    EXPECT_EQ(adapterPort["by_id"], folder.File("by-id/usb-Maker_Adapter_A1-if00"));
    EXPECT_EQ(adapterPort["access"], "free");
    EXPECT_EQ(adapterPort["usb"]["vendor_id"], "0403");
    EXPECT_EQ(adapterPort["usb"]["product"], "Adapter??");
    EXPECT_FALSE(adapterPort["group"].get<std::string>().empty());
    const nlohmann::json& heldPort = list["ports"][1];
    EXPECT_EQ(heldPort["name"], "COM6");
    EXPECT_EQ(heldPort["access"], "busy");
    EXPECT_TRUE(heldPort["by_id"].is_null());
    EXPECT_TRUE(heldPort["usb"].is_null());
}

} // namespace
