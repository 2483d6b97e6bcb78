#include "../support/TempFolder.h"
#include "platform/PortMap.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using testing_support::TempFolder;

// A port folder with COM2 and COM5 linked to devices (plain files stand in).
class PortAssignment : public ::testing::Test {
protected:
    void SetUp() override {
        folder.Write("dev/ttyUSB0", "");
        folder.Write("dev/ttyUSB1", "");
        folder.Write("dev/ttyACM0", "");
        folder.Write("ports/.keep", "");
        std::filesystem::create_symlink(folder.File("dev/ttyUSB0"), folder.File("ports/COM2"));
        std::filesystem::create_symlink(folder.File("dev/ttyUSB1"), folder.File("ports/COM5"));
        platform::SetPortMapDirectory(folder.File("ports"));
    }
    void TearDown() override {
        platform::ClearAssignedPorts();
        platform::SetPortMapDirectory("");
    }
    TempFolder folder;
};

TEST_F(PortAssignment, ComNamesInAnyCaseWithinTheMapsRange) {
    std::string error;
    EXPECT_EQ(platform::AssignPort("COM3", error), 2);
    EXPECT_EQ(platform::AssignPort("com256", error), 255);
    for (const char* bad : {"COM0", "COM257", "COM", "COM3x", "ttyUSB0", "", "COM-1"}) {
        error.clear();
        EXPECT_EQ(platform::AssignPort(bad, error), -1) << bad;
        EXPECT_NE(error.find("neither a COM name"), std::string::npos) << bad;
    }
}

TEST_F(PortAssignment, AMappedDeviceKeepsItsNumberWhicheverPathNamesIt) {
    std::string error;
    EXPECT_EQ(platform::AssignPort(folder.File("dev/ttyUSB1"), error), 4);
    // A by-id style link to the same device.
    std::filesystem::create_symlink(folder.File("dev/ttyUSB0"), folder.File("by-id-adapter"));
    EXPECT_EQ(platform::AssignPort(folder.File("by-id-adapter"), error), 1);
}

TEST_F(PortAssignment, AnUnmappedDeviceTakesTheFirstNumberAboveTheMappedOnes) {
    std::string error;
    const std::string device = folder.File("dev/ttyACM0");
    ASSERT_EQ(platform::AssignPort(device, error), 5) << error;
    EXPECT_EQ(platform::PortDevicePath(5), device);
    EXPECT_EQ(platform::AssignPort(device, error), 5) << "the same device, the same number";
    // A missing device is numbered too, so that opening it fails with its name.
    EXPECT_EQ(platform::AssignPort(folder.File("dev/ttyUSB9"), error), 6);
    EXPECT_EQ(platform::PortDevicePath(6), folder.File("dev/ttyUSB9"));
}

TEST_F(PortAssignment, AFullMapLeavesTheGapsThenRefuses) {
    for (int number = 6; number <= platform::MaxPorts; ++number) {
        std::filesystem::create_symlink(folder.File("dev/ttyUSB0"),
                                        folder.File("ports/COM" + std::to_string(number)));
    }
    std::string error;
    EXPECT_EQ(platform::AssignPort(folder.File("dev/ttyACM0"), error), 0);
    EXPECT_EQ(platform::AssignPort(folder.File("dev/other"), error), 2);
    EXPECT_EQ(platform::AssignPort(folder.File("dev/third"), error), 3);
    EXPECT_EQ(platform::AssignPort(folder.File("dev/last"), error), -1);
    EXPECT_NE(error.find("no free COM number"), std::string::npos) << error;
}

} // namespace
