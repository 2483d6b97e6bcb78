#include "platform/Text.h"

namespace platform {

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        std::size_t length = (c & 0xE0) == 0xC0   ? 2
                             : (c & 0xF0) == 0xE0 ? 3
                             : (c & 0xF8) == 0xF0 ? 4
                                                  : 0;
        bool complete = length != 0 && i + length <= utf8.size();
        for (std::size_t k = 1; complete && k < length; ++k) {
            complete = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        }
        if (!complete) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        unsigned code = c & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        out.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
        i += length - 1;
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char ch : latin1) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

char UpperLatin1(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) {
        return static_cast<char>(u - 0x20);
    }
    return c;
}

std::string UpperLatin1(std::string_view latin1) {
    std::string upper(latin1);
    for (char& c : upper) {
        c = UpperLatin1(c);
    }
    return upper;
}

} // namespace platform
