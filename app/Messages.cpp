#include "app/Messages.h"

#include "platform/Text.h"

#include <array>

namespace app {

namespace {

struct TextPair {
    const char* German; // UTF-8 in the source
    const char* English;
};

constexpr std::array<TextPair, static_cast<std::size_t>(Msg::Count_)> Table = {{
    {"Fehler", "Error"},
    {"Info", "Info"},
    {"Gerät", "device"},
    {"Update [beendet]", "Update [ready]"},
    {"Konfiguration: nicht übernommen: ", "Configuration: not taken: "},
    {"Die Einstellungen konnten nicht gespeichert werden, Datei fehlt: ",
     "The settings could not be saved, file missing: "},
}};

// Converted to Latin-1 once, on first use.
const std::array<std::array<std::string, 2>, Table.size()>& Latin1Table() {
    static const auto converted = [] {
        std::array<std::array<std::string, 2>, Table.size()> texts;
        for (std::size_t i = 0; i < Table.size(); ++i) {
            texts[i][0] = platform::Utf8ToLatin1(Table[i].German);
            texts[i][1] = platform::Utf8ToLatin1(Table[i].English);
        }
        return texts;
    }();
    return converted;
}

} // namespace

const std::string& MessageText(Msg id, int language) {
    return Latin1Table()[static_cast<std::size_t>(id)][language == 0 ? 0 : 1];
}

} // namespace app
