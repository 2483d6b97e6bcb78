#include "frontends/console/PortListing.h"

#include "platform/PortDetails.h"
#include "platform/PortMap.h"

#include <nlohmann/json.hpp>
#include <string>

namespace console {

namespace {

const char* AccessName(platform::PortAccess access) {
    switch (access) {
    case platform::PortAccess::Busy:
        return "busy";
    case platform::PortAccess::NoPermission:
        return "no-permission";
    case platform::PortAccess::Free:
        break;
    }
    return "free";
}

std::string AccessNote(const platform::PortDetails& port) {
    switch (port.Access) {
    case platform::PortAccess::Busy:
        return "  (held by another program)";
    case platform::PortAccess::NoPermission:
        return port.Group.empty() ? "  (no permission)"
                                  : "  (no permission: join group " + port.Group + ")";
    case platform::PortAccess::Free:
        break;
    }
    return {};
}

void PrintText(std::FILE* out, const std::string& folder,
               const std::vector<platform::PortDetails>& ports) {
    std::fprintf(out, "# ports from %s\n",
                 folder.empty() ? "the machine's serial devices" : folder.c_str());
    for (const platform::PortDetails& port : ports) {
        std::string line = port.Path;
        if (!port.Device.empty() && port.Device != port.Path) {
            line += " -> " + port.Device;
        }
        if (!port.Group.empty()) {
            line += "  group " + port.Group;
        }
        std::fprintf(out, "%-7s %s%s\n", port.Name.c_str(), line.c_str(), AccessNote(port).c_str());
        if (!port.ById.empty()) {
            std::fprintf(out, "        by-id %s\n", port.ById.c_str());
        }
        if (port.Usb) {
            const platform::UsbAdapter& usb = *port.Usb;
            std::fprintf(out, "        USB %s:%s \"%s\" \"%s\" serial \"%s\"\n",
                         usb.VendorId.c_str(), usb.ProductId.c_str(), usb.Manufacturer.c_str(),
                         usb.Product.c_str(), usb.Serial.c_str());
        }
    }
}

nlohmann::json OrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

void PrintJson(std::FILE* out, const std::string& folder,
               const std::vector<platform::PortDetails>& ports) {
    nlohmann::json list = nlohmann::json::array();
    for (const platform::PortDetails& port : ports) {
        nlohmann::json usb = nullptr;
        if (port.Usb) {
            usb = {{"vendor_id", port.Usb->VendorId},
                   {"product_id", port.Usb->ProductId},
                   {"manufacturer", port.Usb->Manufacturer},
                   {"product", port.Usb->Product},
                   {"serial", port.Usb->Serial}};
        }
        list.push_back({{"com", port.Index + 1},
                        {"name", port.Name},
                        {"path", port.Path},
                        {"device", OrNull(port.Device)},
                        {"by_id", OrNull(port.ById)},
                        {"group", OrNull(port.Group)},
                        {"access", AccessName(port.Access)},
                        {"usb", usb}});
    }
    const nlohmann::json document = {{"port_folder", OrNull(folder)}, {"ports", list}};
    // Paths are bytes; a name that is not UTF-8 must not end the listing.
    const std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fprintf(out, "%s\n", text.c_str());
}

} // namespace

void PrintPortList(std::FILE* out, bool json) {
    const std::string folder = platform::PortMapDirectory();
    const std::vector<platform::PortDetails> ports = platform::ListPortDetails();
    if (json) {
        PrintJson(out, folder, ports);
    } else {
        PrintText(out, folder, ports);
    }
}

} // namespace console
