#pragma once

#include <cstdio>

namespace console {

// The port map with what the machine tells about each port: the device, its
// by-id name, the USB adapter, the owning group, and whether another program
// holds it or this user may not open it. As text, or as one JSON document.
void PrintPortList(std::FILE* out, bool json);

} // namespace console
