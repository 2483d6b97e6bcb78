#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace i18n {

// One entry per line:
//   caption: "[" name "]" untranslated ":=" translated
//   hint:    "[Hint][" name "]" untranslated ":=" translated
// A line break inside a text is written as two backslashes.

// Every line break (CR LF, and a lone CR or LF) as two backslashes, so that an
// entry always stays on one line of the file.
std::string EscapeLineBreaks(std::string_view text);
// Every pair of backslashes, left to right, as CR LF.
std::string UnescapeLineBreaks(std::string_view text);

std::string CaptionEntry(std::string_view name, std::string_view text);
std::string HintEntry(std::string_view name, std::string_view hint);

// First line that holds the entry's key anywhere (keys are expected to be
// unique); nullptr when none does. A caption lookup passes over hint entries,
// whose key holds the caption key.
const std::string* FindCaptionLine(const std::vector<std::string>& lines, std::string_view name);
const std::string* FindHintLine(const std::vector<std::string>& lines, std::string_view name);

// The translated text of a found line, escaped as in the file: an empty
// translation stands for the untranslated text of the entry.
std::string CaptionLineText(const std::string& line);
std::string HintLineText(const std::string& line, std::string_view name);

} // namespace i18n
