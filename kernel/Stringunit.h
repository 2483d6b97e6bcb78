#pragma once

#include <string>
#include <string_view>

namespace kernel {

// Text helpers with 1-based positions; 0 means "not found". Texts end at
// their first NUL, as the zero-terminated texts they stand for.

// Position of the first pattern that starts at or after from (0 or 1: whole text).
int StrPosFrom(std::string_view text, std::string_view pattern, int from);
// Inserts piece before position pos; a position past the end appends.
void StrInsert(std::string_view piece, std::string& text, int pos);
// Removes count characters from position pos; out-of-range parts are ignored.
void StrDelete(std::string& text, int pos, int count);
// Value of one hexadecimal digit (either case), -1 for any other character.
int HexDigitValue(char c);
// Value of up to four hexadecimal digits; other characters count as 0.
int HexToInt(std::string_view text);

// Upper-cases a to z only: what instruments and the configuration have
// always held; other bytes (umlauts in Latin-1) stay as they are.
std::string UpperAscii(std::string text);

// Widening and narrowing by bytes; returned by value instead of through a
// shared static buffer, which the next call would overwrite.
std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);

} // namespace kernel
