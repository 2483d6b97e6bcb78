#include "app/FileVersion.h"

#include "app/DeviceTable.h"
#include "kernel/Stringunit.h"

#include <charconv>
#include <cmath>
#include <fstream>

namespace app {

namespace {

// Hex byte pairs after the marker, blanks allowed between pairs, up to a 0 byte.
std::string HexPairsAfter(const std::string& bytes, std::size_t position) {
    std::string text;
    while (position + 1 < bytes.size() && text.size() < VersionTextLength) {
        if (bytes[position] == ' ') {
            ++position;
            continue;
        }
        int high = kernel::HexDigitValue(bytes[position]);
        int low = kernel::HexDigitValue(bytes[position + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        char value = static_cast<char>(high * 16 + low);
        if (value == '\0') {
            break;
        }
        text.push_back(value);
        position += 2;
    }
    return text;
}

// Printable bytes from position up to the first 0 or control byte.
std::string TextAfter(const std::string& bytes, std::size_t position) {
    std::string text;
    for (; position < bytes.size() && text.size() < VersionTextLength; ++position) {
        auto c = static_cast<unsigned char>(bytes[position]);
        if (c < 0x20) {
            break;
        }
        text.push_back(static_cast<char>(c));
    }
    return text;
}

std::string Utf16(const std::string& text) {
    std::string wide;
    for (char c : text) {
        wide.push_back(c);
        wide.push_back('\0');
    }
    return wide;
}

// The 16-bit string starting at position, narrowed; advances past its 0.
std::string WideStringAt(const std::string& bytes, std::size_t& position) {
    std::string text;
    while (position + 1 < bytes.size()) {
        char low = bytes[position];
        char high = bytes[position + 1];
        position += 2;
        if (low == '\0' && high == '\0') {
            break;
        }
        if (text.size() < 256) {
            text.push_back(low);
        }
    }
    return text;
}

std::string ProgramVersion(const std::string& bytes, const std::string& marker) {
    std::size_t found = bytes.find(Utf16(marker));
    if (found == std::string::npos) {
        return {};
    }
    std::size_t position = found + 2 * marker.size();
    std::string rest = WideStringAt(bytes, position);
    std::size_t blank = rest.find(' ');
    std::string version =
        blank != std::string::npos ? rest.substr(blank + 1) : WideStringAt(bytes, position);
    return version.substr(0, VersionTextLength);
}

} // namespace

FileVersionKind VersionKindOf(const std::string& marker, const std::string& fileName) {
    if (marker.find("S1094000") != std::string::npos) {
        return FileVersionKind::SRecord;
    }
    // The configuration holds names in capitals; on disk they may be in any case.
    const std::string name = UpperAscii(fileName);
    if (name.find("EXE") != std::string::npos || name.find("DLL") != std::string::npos) {
        return FileVersionKind::Program;
    }
    if (name.find("BIN") != std::string::npos) {
        return FileVersionKind::Binary;
    }
    return FileVersionKind::Plain;
}

std::string VersionFromBytes(FileVersionKind kind, const std::string& marker,
                             const std::string& bytes) {
    if (marker.empty()) {
        return {};
    }
    if (kind == FileVersionKind::Program) {
        return ProgramVersion(bytes, marker);
    }
    std::size_t found = bytes.find(marker);
    if (found == std::string::npos) {
        return {};
    }
    std::size_t after = found + marker.size();
    if (kind == FileVersionKind::Binary) {
        if (static_cast<unsigned char>(marker[0]) == 0xDD) {
            after += 3;
        }
        return TextAfter(bytes, after);
    }
    return HexPairsAfter(bytes, after);
}

bool ReadVersionWindow(FileVersionKind kind, const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return false;
    }
    const std::streamoff size = in.tellg();
    std::streamoff window = 1000;
    bool tail = true;
    switch (kind) {
    case FileVersionKind::SRecord:
        break;
    case FileVersionKind::Program:
        window = 64000;
        break;
    case FileVersionKind::Binary:
        window = 250000;
        break;
    case FileVersionKind::Plain:
        tail = false;
        break;
    }
    window = std::min(window, size);
    in.seekg(tail ? size - window : 0);
    bytes.assign(static_cast<std::size_t>(window), '\0');
    in.read(bytes.data(), window);
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

std::int32_t VersionNumber(const std::string& text) {
    // from_chars ignores the locale, which a window toolkit may have changed.
    std::size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) {
        return 0;
    }
    double value = 0;
    auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value,
                                        std::chars_format::fixed);
    if (error != std::errc() || !std::isfinite(value) || value < 0 || value > 2000000) {
        return 0;
    }
    return static_cast<std::int32_t>(std::trunc(value * 1000.01));
}

} // namespace app
