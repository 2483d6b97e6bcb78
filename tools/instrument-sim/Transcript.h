#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

// One line per chunk: "SECONDS.MILLIS DIR BYTES", DIR "rx" (tool to instrument),
// "tx" (instrument to tool) or "--" (a note of the simulator).
class Transcript {
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return file_ != nullptr; }

    void Received(std::string_view bytes) { Write("rx", bytes); }
    void Sent(std::string_view bytes) { Write("tx", bytes); }
    void Note(std::string_view text) { Write("--", text); }

    // Printable ASCII as it is; backslash, CR, LF, TAB and other bytes escaped.
    static std::string Escape(std::string_view bytes);

private:
    void Write(const char* dir, std::string_view bytes);

    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point start_;
};

} // namespace sim
