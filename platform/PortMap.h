#pragma once

// Which device is COM1, COM2, ...: Windows numbers its serial ports, Linux
// names them. Index i of the serial component is COM{i+1}.
//
// Link folder (set by an option, or by the environment variable
// UPDATE_COM_DIR): a folder holding links (or devices) named COM1 .. COM256.
// When one is given it is the whole map: COMn is the entry of that name, and
// a number without an entry has no port. Tests point it at pseudo-terminals;
// operators who want fixed numbers point it at /dev/serial/by-id/... links.
//
// Default numbering (no link folder): every tty in /sys/class/tty that has a
// device behind it, except 8250-style ports whose "type" is 0 (a UART slot
// with no chip), ordered first by family - ttyS, ttyUSB, ttyACM, then others
// by name - and within a family by number: COM1 is the first of that list.
// USB adapters join and leave the list as they are plugged; Rescan() takes
// the machine's state again.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class PortMap {
public:
    static constexpr int MaxPorts = 256;
    static constexpr const char* EnvironmentVariable = "UPDATE_COM_DIR";

    // Link folder when UPDATE_COM_DIR is set and not empty, else default numbering.
    static PortMap FromEnvironment();
    static PortMap FromLinkFolder(std::string folder);
    // Default numbering from a sysfs tty class folder and the device folder
    // (tests give a tree of their own).
    static PortMap FromSystem(std::string sysClassTty = "/sys/class/tty",
                              std::string deviceFolder = "/dev");

    // Path of the device of port index (0 = COM1); nothing when the index
    // has no port.
    std::optional<std::string> DevicePath(int index) const;
    // Every numbered port, ascending: (index, path).
    std::vector<std::pair<int, std::string>> Entries() const;
    // Takes the machine's devices again (default numbering only; a link
    // folder is read at each look-up).
    void Rescan();

    bool UsesLinkFolder() const { return !linkFolder_.empty(); }
    const std::string& LinkFolder() const { return linkFolder_; }

    // "COM" followed by index + 1.
    static std::string PortName(int index);

private:
    PortMap() = default;

    std::string linkFolder_;
    std::string sysClassTty_;
    std::string deviceFolder_;
    std::vector<std::string> devices_; // default numbering: entry i is COM{i+1}
};

// The default numbering of a list of tty names (ttyUSB1, ttyS0, ...),
// exposed for its tests.
std::vector<std::string> OrderTtyNames(std::vector<std::string> names);

} // namespace platform
