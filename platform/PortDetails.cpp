#include "platform/PortDetails.h"

#include "platform/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// sysfs attributes are short; a longer one is not what we look for.
constexpr std::size_t MaxAttributeBytes = 128;
// From the tty's device to the USB device: interface, device; a hub chain
// adds none, since the walk stops at the first directory with the ids.
constexpr int MaxLevelsUp = 6;

std::string FromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string Parent(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One line of a sysfs attribute, bounded and made printable.
std::optional<std::string> ReadAttribute(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    char buffer[MaxAttributeBytes];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    std::string text(buffer, static_cast<std::size_t>(got));
    text.erase(std::min(text.find('\n'), text.size()));
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
            c = '?';
        }
    }
    return text;
}

std::optional<UsbAdapter> FindUsbAdapter(const std::string& sysfsRoot, const std::string& device) {
    const std::string root = Resolved(sysfsRoot);
    std::string directory = Resolved(sysfsRoot + "/class/tty/" + BaseName(device) + "/device");
    if (root.empty() || directory.empty()) {
        return std::nullopt;
    }
    // Stay inside the sysfs tree, whatever its links say.
    for (int level = 0; level <= MaxLevelsUp && directory.size() > root.size() &&
                        directory.compare(0, root.size() + 1, root + "/") == 0;
         ++level, directory = Parent(directory)) {
        std::optional<std::string> vendor = ReadAttribute(directory + "/idVendor");
        std::optional<std::string> product = ReadAttribute(directory + "/idProduct");
        if (!vendor || !product) {
            continue;
        }
        UsbAdapter usb;
        usb.VendorId = *vendor;
        usb.ProductId = *product;
        usb.Manufacturer = ReadAttribute(directory + "/manufacturer").value_or("");
        usb.Product = ReadAttribute(directory + "/product").value_or("");
        usb.Serial = ReadAttribute(directory + "/serial").value_or("");
        return usb;
    }
    return std::nullopt;
}

// by-id names sorted, so that the same one is chosen every time.
std::vector<std::string> ByIdLinks(const std::string& folder) {
    std::vector<std::string> links;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return links;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            links.push_back(folder + "/" + entry->d_name);
        }
    }
    ::closedir(dir);
    std::sort(links.begin(), links.end());
    return links;
}

std::string FindById(const std::vector<std::string>& links, const std::string& device) {
    for (const std::string& link : links) {
        if (Resolved(link) == device) {
            return link;
        }
    }
    return {};
}

} // namespace

PortAccess ProbePortAccess(const std::string& path) {
    if (::access(path.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
        return PortAccess::NoPermission;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // EBUSY: TIOCEXCL of another user.
        if (errno == EACCES || errno == EPERM) {
            return PortAccess::NoPermission;
        }
        return errno == EBUSY ? PortAccess::Busy : PortAccess::Free;
    }
    bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? PortAccess::Busy : PortAccess::Free;
}

std::string OwningGroupName(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->gr_name != nullptr) {
        return found->gr_name;
    }
    return std::to_string(info.st_gid);
}

std::vector<PortDetails> ListPortDetails() {
    const std::string sysfsRoot = FromEnvironment(SysfsRootEnvironment, "/sys");
    const std::vector<std::string> byId =
        ByIdLinks(FromEnvironment(ByIdFolderEnvironment, "/dev/serial/by-id"));
    std::vector<PortDetails> ports;
    for (int index = 0; index < MaxPorts; ++index) {
        std::string path = PortDevicePath(index);
        if (path.empty()) {
            continue;
        }
        PortDetails port;
        port.Index = index;
        port.Name = "COM" + std::to_string(index + 1);
        port.Path = path;
        port.Device = Resolved(path);
        if (!port.Device.empty()) {
            port.ById = FindById(byId, port.Device);
            port.Usb = FindUsbAdapter(sysfsRoot, port.Device);
        }
        port.Group = OwningGroupName(path);
        port.Access = ProbePortAccess(path);
        ports.push_back(std::move(port));
    }
    return ports;
}

} // namespace platform
