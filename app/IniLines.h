#pragma once

#include <string>
#include <vector>

namespace app {

// The value after the first "=" of the first line whose name part equals key
// (any case); empty when no line has it. A value longer than maxLength is cut
// there and cut is set.
std::string IniValue(const std::vector<std::string>& lines, const std::string& key,
                     std::size_t maxLength, bool& cut);

// Leading decimal digits (after blanks) as a number; none give 0. Bounded, never overflows.
int LeadingDecimal(const std::string& text);

} // namespace app
