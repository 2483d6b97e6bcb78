#pragma once

#include <string>
#include <string_view>

namespace platform {

// Texts inside the system are Latin-1; sources and terminals are UTF-8.
// Characters outside Latin-1 become '?'; broken UTF-8 bytes are taken as
// Latin-1 themselves.
std::string Utf8ToLatin1(std::string_view utf8);
std::string Latin1ToUtf8(std::string_view latin1);

} // namespace platform
