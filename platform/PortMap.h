#pragma once

#include <string>
#include <vector>

namespace platform {

// Which device stands behind COM1..COM256 (port index 0..255).
//
// A directory of links named COM1..COM256 overrides everything: the one set
// with SetPortMapDirectory, else the one in the environment variable
// UPDATE_PORTS. Without it the machine's serial devices are numbered in
// fixed blocks, so that plugging in one adapter never renumbers another:
//   COM1..COM32     /dev/ttyS0..ttyS31
//   COM33..COM96    /dev/ttyUSB0..ttyUSB63
//   COM97..COM160   /dev/ttyACM0..ttyACM63
//   COM161..COM176  /dev/ttyAMA0..ttyAMA15
// Only devices that exist are mapped.
constexpr int MaxPorts = 256;
constexpr const char* PortMapEnvironment = "UPDATE_PORTS";

// An empty directory returns to the environment variable and the default.
void SetPortMapDirectory(const std::string& directory);
// The directory in force, empty when the default numbering is used.
std::string PortMapDirectory();

// The device path of a port index, empty when none is mapped.
std::string PortDevicePath(int index);

// "COM3" (any case) -> 2; -1 when text is no COM name of the map's range.
int ComNameIndex(const std::string& text);

// The port a command line names for this run: "COM3" (any case) is index 2;
// a device path is the index the map gives that device (links resolved), or
// else the first number above the mapped ones, which from then on maps to
// the device. -1 with a reason in error for a name that is neither.
int AssignPort(const std::string& nameOrPath, std::string& error);
// Only index maps to a device from now on (-1: every index again), so
// that a run given one port neither probes nor opens the others.
void LimitPortMapTo(int index);
// Back to the map alone, without assignments or limit (tests).
void ClearAssignedPorts();

struct PortMapEntry {
    int index = 0;    // 0-based; the user sees COM{index + 1}
    std::string name; // "COM3"
    std::string path;
    bool busy = false; // another program holds it
};

// Every mapped port in ascending order, with its busy mark.
std::vector<PortMapEntry> ListPortMap();

// True when the device exists but another program holds it (its exclusive
// lock or TIOCEXCL keeps us out); lacking permission is not being held.
bool PortIsBusy(const std::string& path);

} // namespace platform
