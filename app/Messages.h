#pragma once

#include <string>

namespace app {

// Operator texts; each exists in German and English.
enum class Msg {
    CaptionError,
    CaptionInfo,
    NameFallback,
    TitleReady,
    ConfigValuesDropped,
    SettingsNotSaved,
    Count_
};

// The text in the language (0 German, anything else English), as Latin-1.
const std::string& MessageText(Msg id, int language);

// Fixed texts that the configuration readers show before a language is known.
inline constexpr const char* UpdateIniMissingText =
    "Konfigurationsdatei 1 nicht vorhanden!!Programm wird beendet";
inline constexpr const char* ProgDeviceIniMissingText =
    "Konfigurationsdatei 2 nicht vorhanden!!Programm wird beendet";
inline constexpr const char* ConfigErrorCaption = "Error";

} // namespace app
