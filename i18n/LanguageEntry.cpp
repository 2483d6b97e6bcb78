#include "i18n/LanguageEntry.h"

namespace i18n {

namespace {

constexpr std::string_view kHintPrefix = "[Hint][";
constexpr std::string_view kSeparator = ":=";
constexpr std::string_view kEscapedBreak = "\\\\";

std::string Key(std::string_view prefix, std::string_view name) {
    std::string key(prefix);
    key += name;
    key += ']';
    return key;
}

const std::string* FindLine(const std::vector<std::string>& lines, std::string_view key,
                            bool skipHints) {
    for (const std::string& line : lines) {
        if (skipHints && line.starts_with(kHintPrefix)) {
            continue;
        }
        if (line.find(key) != std::string::npos) {
            return &line;
        }
    }
    return nullptr;
}

// The translation starts after ":=". Only a line without one falls back to
// the first "=", which would otherwise cut an untranslated text that holds
// "=" in two.
std::string Value(const std::string& line) {
    std::size_t separator = line.find(kSeparator);
    if (separator != std::string::npos) {
        return line.substr(separator + kSeparator.size());
    }
    std::size_t equals = line.find('=');
    return equals == std::string::npos ? std::string() : line.substr(equals + 1);
}

// Text strictly between the character at open and the first ":=".
std::string Between(const std::string& line, std::size_t open) {
    std::size_t separator = line.find(kSeparator);
    if (open == std::string::npos || separator == std::string::npos || open >= separator) {
        return {};
    }
    return line.substr(open + 1, separator - open - 1);
}

} // namespace

std::string EscapeLineBreaks(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\r' && c != '\n') {
            escaped += c;
            continue;
        }
        escaped += kEscapedBreak;
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
    }
    return escaped;
}

std::string UnescapeLineBreaks(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i).starts_with(kEscapedBreak)) {
            plain += "\r\n";
            ++i;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

std::string CaptionEntry(std::string_view name, std::string_view text) {
    return Key("[", name) + EscapeLineBreaks(text) + std::string(kSeparator);
}

std::string HintEntry(std::string_view name, std::string_view hint) {
    return Key(kHintPrefix, name) + EscapeLineBreaks(hint) + std::string(kSeparator);
}

const std::string* FindCaptionLine(const std::vector<std::string>& lines, std::string_view name) {
    return FindLine(lines, Key("[", name), true);
}

const std::string* FindHintLine(const std::vector<std::string>& lines, std::string_view name) {
    return FindLine(lines, Key(kHintPrefix, name), false);
}

std::string CaptionLineText(const std::string& line) {
    std::string value = Value(line);
    return value.empty() ? Between(line, line.find(']')) : value;
}

std::string HintLineText(const std::string& line, std::string_view name) {
    std::string value = Value(line);
    if (!value.empty()) {
        return value;
    }
    // The first "]" closes "[Hint"; the untranslated hint starts after the
    // "]" that closes the name.
    std::size_t open = line.find(']');
    if (open != std::string::npos) {
        open += name.size() + 2;
    }
    return Between(line, open);
}

} // namespace i18n
