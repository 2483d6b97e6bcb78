#include "tools/instrument-sim/ConfigValues.h"

#include <charconv>

namespace sim {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ParseHex(std::string_view s, std::size_t maxDigits, std::uint32_t& out) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.remove_prefix(2);
    if (s.empty() || s.size() > maxDigits)
        return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, 16);
    return ec == std::errc() && end == s.data() + s.size();
}

bool ParseNumber(std::string_view s, std::uint32_t& out) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return ParseHex(s, 8, out);
    if (s.empty())
        return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, 10);
    return ec == std::errc() && end == s.data() + s.size();
}

bool ParseRange(std::string_view s, Range& out) {
    std::size_t dash = s.find('-');
    Range r;
    if (dash == std::string_view::npos || !ParseNumber(s.substr(0, dash), r.first) ||
        !ParseNumber(s.substr(dash + 1), r.last) || r.first > r.last || r.last > kTopAddress)
        return false;
    out = r;
    return true;
}

bool ParseCount(std::string_view s, unsigned& out) {
    std::uint32_t n = 0;
    if (!ParseNumber(s, n) || n == 0)
        return false;
    out = n;
    return true;
}

} // namespace sim
