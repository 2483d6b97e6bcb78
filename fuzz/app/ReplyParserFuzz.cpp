// Arbitrary received bytes through the receive buffer, the line parser and the
// bootloader-answer search, and arbitrary file bytes through the version
// search; the buffer must stay bounded and nothing may read out of range.
#include "app/FileVersion.h"
#include "app/ReplyParser.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    app::TRxBuffer buffer;
    // Feed in chunks as a port delivers them.
    for (std::size_t at = 0; at < bytes.size(); at += app::TRxBuffer::ReadChunk) {
        std::string chunk = bytes.substr(at, app::TRxBuffer::ReadChunk);
        buffer.Append(chunk.data(), chunk.size());
        std::string line;
        while (buffer.TakeLine(line)) {
            app::ParseReplyLine(line);
        }
        buffer.TakeBootAnswer();
        if (buffer.Size() > app::TRxBuffer::Capacity) {
            std::abort();
        }
    }
    // The first bytes up to a NUL are the marker, the rest the file.
    std::size_t split = bytes.find('\0');
    std::string marker = bytes.substr(0, split == std::string::npos ? 8 : split);
    std::string file = split == std::string::npos ? bytes : bytes.substr(split + 1);
    for (auto kind : {app::FileVersionKind::SRecord, app::FileVersionKind::Program,
                      app::FileVersionKind::Binary, app::FileVersionKind::Plain}) {
        if (app::VersionFromBytes(kind, marker, file).size() > 256) {
            std::abort();
        }
    }
    app::VersionNumber(file.substr(0, 40));
    return 0;
}
