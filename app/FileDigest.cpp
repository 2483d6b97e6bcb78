#include "app/FileDigest.h"

#include <array>
#include <cstdio>
#include <memory>
#include <openssl/evp.h>

namespace app {

namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

Context NewSha256() {
    Context context(EVP_MD_CTX_new());
    if (context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        context.reset();
    }
    return context;
}

std::string FinalHex(EVP_MD_CTX* context) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1) {
        return {};
    }
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text += Hex[digest[i] >> 4];
        text += Hex[digest[i] & 0x0F];
    }
    return text;
}

} // namespace

bool Sha256OfFile(const std::string& path, FileDigest& digest) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
    Context context = NewSha256();
    if (!file || !context) {
        return false;
    }
    std::array<char, 65536> buffer{};
    std::uint64_t size = 0;
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        if (EVP_DigestUpdate(context.get(), buffer.data(), got) != 1) {
            return false;
        }
        size += got;
    }
    if (std::ferror(file.get()) != 0) {
        return false;
    }
    digest.Size = size;
    digest.Sha256 = FinalHex(context.get());
    return !digest.Sha256.empty();
}

std::string Sha256Hex(std::string_view bytes) {
    Context context = NewSha256();
    if (!context || EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1) {
        return {};
    }
    return FinalHex(context.get());
}

} // namespace app
