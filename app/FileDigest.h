#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

struct FileDigest {
    std::uint64_t Size = 0;
    std::string Sha256; // lower-case hex
};

// False when the file cannot be read to its end.
bool Sha256OfFile(const std::string& path, FileDigest& digest);
// Lower-case hex SHA-256 of bytes in memory.
std::string Sha256Hex(std::string_view bytes);

} // namespace app
