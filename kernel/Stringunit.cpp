#include "kernel/Stringunit.h"

#include <algorithm>

namespace kernel {

namespace {

std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

} // namespace

int StrPosFrom(std::string_view text, std::string_view pattern, int from) {
    text = UpToNul(text);
    pattern = UpToNul(pattern);
    if (text.empty() || pattern.empty()) {
        return 0;
    }
    std::size_t start = from > 1 ? static_cast<std::size_t>(from - 1) : 0;
    if (start >= text.size()) {
        return 0;
    }
    std::size_t found = text.find(pattern, start);
    return found == std::string_view::npos ? 0 : static_cast<int>(found + 1);
}

void StrInsert(std::string_view piece, std::string& text, int pos) {
    std::size_t at = pos > 1 ? static_cast<std::size_t>(pos - 1) : 0;
    text.insert(at < text.size() ? at : text.size(), piece);
}

void StrDelete(std::string& text, int pos, int count) {
    if (pos < 1 || count <= 0) {
        return;
    }
    std::size_t at = static_cast<std::size_t>(pos - 1);
    if (at < text.size()) {
        text.erase(at, static_cast<std::size_t>(count));
    }
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

int HexToInt(std::string_view text) {
    text = UpToNul(text);
    if (text.size() > 4) {
        text = text.substr(text.size() - 4);
    }
    int value = 0;
    for (char c : text) {
        value = value * 16 + std::max(0, HexDigitValue(c));
    }
    return value;
}

std::u16string AnsiToWide(std::string_view text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (char c : UpToNul(text)) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

std::string WideToAnsi(std::u16string_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (char16_t c : text) {
        if (c == 0) {
            break;
        }
        narrow.push_back(static_cast<char>(c & 0xFF));
    }
    return narrow;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

} // namespace kernel
