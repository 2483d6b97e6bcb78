#include "programmers/Bsl430Config.h"

#include "platform/Files.h"

#include <algorithm>
#include <cctype>

namespace programmers {

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Up to eight hexadecimal digits after an optional "0x"; nothing else.
bool ParseHex(const std::string& text, std::uint32_t& value) {
    std::string digits = Upper(Trim(text));
    if (digits.rfind("0X", 0) == 0) {
        digits.erase(0, 2);
    }
    if (digits.empty() || digits.size() > 8) {
        return false;
    }
    value = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        value = value * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
    }
    return true;
}

void AddNote(std::string& note, const std::string& text) {
    note += note.empty() ? text : "; " + text;
}

} // namespace

TBsl430Config ParseBsl430Config(const std::string& content) {
    TBsl430Config config;
    config.FromFile = true;
    std::array<bool, 3> vectorSeen{};
    bool chipsSeen = false;
    for (const std::string& raw : platform::SplitLines(content)) {
        const std::string line = Trim(raw);
        const auto equals = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == ';' || equals == std::string::npos) {
            continue;
        }
        const std::string key = Upper(Trim(line.substr(0, equals)));
        const std::string value = line.substr(equals + 1);
        std::uint32_t number = 0;
        if (key.size() == 12 && key.rfind("RESETVECTOR", 0) == 0 && key[11] >= '1' &&
            key[11] <= '3') {
            const auto index = static_cast<std::size_t>(key[11] - '1');
            if (ParseHex(value, number) && number <= 0xFFFF) {
                config.ResetVector[index] = static_cast<std::uint16_t>(number);
                vectorSeen[index] = true;
            } else {
                AddNote(config.Note, key + " is no 16-bit hexadecimal number");
            }
        } else if (key == "CHIPIMAGEVECTOR1") {
            std::vector<std::uint32_t> chips;
            std::string rest = value;
            bool good = true;
            while (good && !Trim(rest).empty()) {
                const auto comma = rest.find(',');
                good = ParseHex(rest.substr(0, comma), number);
                chips.push_back(number);
                rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
            }
            if (good) {
                config.ChipImageVector1 = chips;
                chipsSeen = true;
            } else {
                AddNote(config.Note, "CHIPIMAGEVECTOR1 holds no list of chip codes");
            }
        }
    }
    for (std::size_t i = 0; i < vectorSeen.size(); ++i) {
        if (!vectorSeen[i]) {
            AddNote(config.Note, "ResetVector" + std::to_string(i + 1) + " built in");
        }
    }
    if (!chipsSeen) {
        AddNote(config.Note, "ChipImageVector1 built in");
    }
    return config;
}

TBsl430Config LoadBsl430Config(const std::string& path) {
    std::string content;
    if (!platform::ReadWholeFile(path, content)) {
        TBsl430Config config;
        config.Note = path + " not found: built-in reset vectors and chip list";
        return config;
    }
    return ParseBsl430Config(content);
}

} // namespace programmers
