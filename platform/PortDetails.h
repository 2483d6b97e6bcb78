#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// What the machine tells about the devices behind the port map: the device a
// port resolves to, its stable /dev/serial/by-id name, the USB adapter it
// sits on, the group that owns it, and whether we may use it now. Values read
// from sysfs are cut to a bounded length and printable ASCII.
//
// Tests point the sysfs root and the by-id folder elsewhere through these
// environment variables (defaults /sys and /dev/serial/by-id).
constexpr const char* SysfsRootEnvironment = "UPDATE_SYSFS_ROOT";
constexpr const char* ByIdFolderEnvironment = "UPDATE_SERIAL_BY_ID";

enum class PortAccess {
    Free,
    Busy,         // another program holds it
    NoPermission, // the device's mode keeps this user out
};

struct UsbAdapter {
    std::string VendorId;  // "0403"
    std::string ProductId; // "6001"
    std::string Manufacturer;
    std::string Product;
    std::string Serial;
};

struct PortDetails {
    int Index = 0;      // 0-based; the user sees COM{Index + 1}
    std::string Name;   // "COM3"
    std::string Path;   // as the port map gives it
    std::string Device; // the device node it resolves to
    std::string ById;   // full path of the by-id link, empty when none
    std::string Group;  // owning group of the device, empty when unknown
    std::optional<UsbAdapter> Usb;
    PortAccess Access = PortAccess::Free;
};

// Every mapped port in ascending order.
std::vector<PortDetails> ListPortDetails();

// Whether the device can be opened by us now, without keeping it.
PortAccess ProbePortAccess(const std::string& path);

// Name of the group that owns the file (links followed), its number when
// the group has no name, empty when the file cannot be looked at.
std::string OwningGroupName(const std::string& path);

} // namespace platform
