#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace i18n {

// A language file as lines of bytes in the file's own encoding: Latin-1, or
// UTF-8 when the file starts with a UTF-8 byte-order mark. Lines stay in that
// encoding so that saving the file again loses nothing a translator wrote.
struct LanguageText {
    std::vector<std::string> Lines;
    bool Utf8 = false;
};

// CR LF, LF and a lone CR end a line; a final line break adds no empty line.
LanguageText ParseLanguageFile(std::string_view bytes);
// Every line followed by CR LF, as the files are shared with Windows.
std::string FormatLanguageFile(const LanguageText& text);

bool LoadLanguageFile(const std::string& path, LanguageText& text);
// Replaces the file as a whole, so that a failed write leaves the old one.
bool SaveLanguageFile(const std::string& path, const LanguageText& text);

} // namespace i18n
