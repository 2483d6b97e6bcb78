#pragma once

#include <string>
#include <string_view>

namespace platform {

// Texts inside the system are Latin-1; sources and terminals are UTF-8.
// Characters outside Latin-1 become '?'; broken UTF-8 bytes are taken as
// Latin-1 themselves.
std::string Utf8ToLatin1(std::string_view utf8);
std::string Latin1ToUtf8(std::string_view latin1);

// The one case fold for names: Latin-1 capitals. a-z and the small letters
// from 0xE0 to 0xFE but the division sign move 0x20 down; sharp s and
// y with diaeresis have no capital in Latin-1 and stay.
char UpperLatin1(char c);
std::string UpperLatin1(std::string_view latin1);

} // namespace platform
