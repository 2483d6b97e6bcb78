#include "tools/instrument-sim/Transcript.h"

namespace sim {

Transcript::~Transcript() {
    if (file_)
        std::fclose(file_);
}

bool Transcript::Open(const std::string& path, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        error = "cannot write transcript " + path;
        return false;
    }
    if (file_)
        std::fclose(file_);
    file_ = f;
    start_ = std::chrono::steady_clock::now();
    return true;
}

std::string Transcript::Escape(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        switch (b) {
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (b >= 0x20 && b < 0x7F) {
                out.push_back(c);
            } else {
                out += "\\x";
                out.push_back(kHex[b >> 4]);
                out.push_back(kHex[b & 15]);
            }
        }
    }
    return out;
}

void Transcript::Write(const char* dir, std::string_view bytes) {
    if (!file_)
        return;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start_)
                  .count();
    std::fprintf(file_, "%lld.%03lld %s %s\n", static_cast<long long>(ms / 1000),
                 static_cast<long long>(ms % 1000), dir, Escape(bytes).c_str());
    // Flushed per line: the transcript matters most when the instrument is killed.
    std::fflush(file_);
}

} // namespace sim
