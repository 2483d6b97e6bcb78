#include "app/IniLines.h"

#include <cctype>

namespace app {

namespace {

bool SameIgnoringCase(const std::string& a, std::size_t length, const std::string& b) {
    if (length != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string IniValue(const std::vector<std::string>& lines, const std::string& key,
                     std::size_t maxLength, bool& cut) {
    for (const std::string& line : lines) {
        std::size_t equals = line.find('=');
        if (equals == std::string::npos || !SameIgnoringCase(line, equals, key)) {
            continue;
        }
        std::string value = line.substr(equals + 1);
        // Values end at a NUL, as the 8-bit buffers they are read into.
        value = value.substr(0, value.find('\0'));
        if (value.size() > maxLength) {
            value.resize(maxLength);
            cut = true;
        }
        return value;
    }
    return {};
}

int LeadingDecimal(const std::string& text) {
    int value = 0;
    std::size_t start = text.find_first_not_of(" \t");
    for (char c : text.substr(start == std::string::npos ? text.size() : start)) {
        if (c < '0' || c > '9') {
            break;
        }
        if (value > 100000000) {
            break;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace app
