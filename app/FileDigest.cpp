#include "app/FileDigest.h"

#include <array>
#include <cstdio>
#include <memory>
#include <sha2.h>

namespace app {

namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string FinalHex(SHA2_CTX& context) {
    std::array<std::uint8_t, SHA256_DIGEST_LENGTH> digest{};
    SHA256Final(digest.data(), &context);
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : digest) {
        text += Hex[byte >> 4];
        text += Hex[byte & 0x0F];
    }
    return text;
}

} // namespace

bool Sha256OfFile(const std::string& path, FileDigest& digest) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    SHA2_CTX context;
    SHA256Init(&context);
    std::array<std::uint8_t, 65536> buffer{};
    std::uint64_t size = 0;
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        SHA256Update(&context, buffer.data(), got);
        size += got;
    }
    if (std::ferror(file.get()) != 0) {
        return false;
    }
    digest.Size = size;
    digest.Sha256 = FinalHex(context);
    return true;
}

std::string Sha256Hex(std::string_view bytes) {
    SHA2_CTX context;
    SHA256Init(&context);
    SHA256Update(&context, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return FinalHex(context);
}

} // namespace app
