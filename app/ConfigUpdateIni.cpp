#include "app/ConfigFolders.h"
#include "app/FailureCauses.h"
#include "app/IniLines.h"
#include "app/Messages.h"
#include "app/Updatemain.h"
#include "platform/FileLookup.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace app {

namespace {

// Windows expands into buffers of 80 characters; a longer result counts as
// not expanded.
constexpr std::size_t ExpandBufferLength = 80;

const char* const UpdateIniKeys[] = {"Language",  "Version",   "Baud",
                                     "Com",       "INI_File",  "ProgErrorNewTry",
                                     "DebugInfo", "NoSWCheck", "AutoStart"};

std::string ExpandBounded(const std::string& text) {
    std::string expanded = platform::ExpandEnvironmentStrings(text);
    return expanded.size() < ExpandBufferLength ? expanded : text;
}

// First place where folder stands in path as whole path components.
std::size_t FindFolderIn(const std::string& path, const std::string& folder) {
    if (folder.empty()) {
        return std::string::npos;
    }
    for (std::size_t at = path.find(folder); at != std::string::npos;
         at = path.find(folder, at + 1)) {
        bool startsComponent = at == 0 || path[at - 1] == '/' || folder.front() == '/';
        std::size_t end = at + folder.size();
        bool endsComponent = end == path.size() || path[end] == '/' || folder.back() == '/';
        if (startsComponent && endsComponent) {
            return at;
        }
    }
    return std::string::npos;
}

void ParseBaudList(const std::string& value, Settings& config, std::vector<std::string>& dropped) {
    config.BaudList.clear();
    if (value.empty()) {
        config.BaudList = DefaultBaudList();
        return;
    }
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t comma = value.find(',', start);
        std::string piece = value.substr(start, comma == std::string::npos ? comma : comma - start);
        int index = LeadingDecimal(piece);
        if (index < 0 || index >= static_cast<int>(BaudRateTexts.size())) {
            dropped.push_back("Baud " + piece);
        } else if (config.BaudList.size() == MaxBaudEntries) {
            dropped.push_back("Baud " + piece);
        } else {
            config.BaudList.push_back(index);
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    // A list with no usable rate would make the search try nothing.
    if (config.BaudList.empty()) {
        config.BaudList = DefaultBaudList();
    }
}

} // namespace

bool PublicFolder(std::string& folder) {
    std::string expanded = ExpandBounded("%PUBLIC%");
    if (expanded.find("%PUBLIC%") != std::string::npos) {
        return false;
    }
    folder = expanded;
    return true;
}

std::string MirroredConfigFolder() {
    std::string current = platform::CurrentDirectory();
    std::string programFiles = ExpandBounded("%ProgramFiles%");
    std::size_t at = FindFolderIn(current, programFiles);
    if (at == std::string::npos) {
        return {};
    }
    std::string publicFolder;
    if (!PublicFolder(publicFolder)) {
        return {};
    }
    std::string mirrored = current;
    mirrored.replace(at, programFiles.size(), publicFolder);
    platform::ForceDirectories(mirrored);
    return mirrored;
}

std::string ConfigFilePath(const std::string& folder, const std::string& fileName) {
    const platform::FoundFile found = platform::LocateFile(folder, fileName);
    return found.Found() ? found.Path : platform::JoinPath(folder, fileName);
}

std::vector<std::string> UpdateIniFolders() {
    std::vector<std::string> folders;
    if (std::string mirrored = MirroredConfigFolder(); !mirrored.empty()) {
        folders.push_back(mirrored);
    }
    folders.push_back(platform::CurrentDirectory());
    return folders;
}

bool UpdateIniPresent(const std::string& fileName) {
    for (const std::string& folder : UpdateIniFolders()) {
        // Files that differ in case only are there too: start-up names them.
        if (platform::LocateFile(folder, fileName).What != platform::FoundFile::Result::Missing) {
            return true;
        }
    }
    return false;
}

std::string CaseClashNote(const std::vector<std::string>& folders, const std::string& fileName,
                          int language) {
    for (const std::string& folder : folders) {
        const platform::FoundFile found = platform::LocateFile(folder, fileName);
        if (found.What != platform::FoundFile::Result::Ambiguous) {
            continue;
        }
        std::string note = "\r\n" + MessageText(Msg::FilesDifferInCaseOnly, language);
        for (std::size_t i = 0; i < found.Matches.size(); ++i) {
            note += (i == 0 ? " " : ", ") + platform::Utf8ToLatin1(found.Matches[i]);
        }
        return note;
    }
    return {};
}

bool TUpdateForm::LocateUpdateIni(const std::string& fileName, std::string& savePath,
                                  std::vector<std::string>& lines) const {
    const std::string folder = MirroredConfigFolder();
    savePath = ConfigFilePath(folder, fileName);
    return platform::LoadLines(savePath, lines) ||
           platform::LoadLines(ConfigFilePath("", fileName), lines);
}

int TUpdateForm::ReadUpdateIni(const std::string& fileName) {
    std::string path;
    std::vector<std::string> lines;
    if (!LocateUpdateIni(fileName, path, lines)) {
        dialogs_.MessageBox(UpdateIniMissingText +
                                CaseClashNote(UpdateIniFolders(), fileName, config_.Language),
                            ConfigErrorCaption, platform::MB_OK | platform::MB_ICONERROR);
        startUpFailure_ = FailureAt(step::StartUp, ConfigFileCause(UpdateIniFolders(), fileName));
        return -1;
    }
    std::vector<std::string> dropped;
    bool cut = false;
    auto value = [&](const char* key) {
        cut = false;
        std::string text = IniValue(lines, key, IniValueWidth, cut);
        if (cut) {
            dropped.push_back(std::string(key) + " (> 255)");
        }
        return text;
    };
    std::string language = value("Language");
    // Only the first character counts; anything but 1 is German.
    config_.Language = !language.empty() && language[0] == '1' ? 1 : 0;
    config_.VersionText = value("Version");
    ParseBaudList(value("Baud"), config_, dropped);
    if (std::string com = value("Com"); !com.empty()) {
        config_.FixedPort = true;
        config_.FixedPortIndex = LeadingDecimal(com) - 1;
    }
    if (std::string file = value("INI_File"); !file.empty()) {
        config_.ProgDeviceFile = file;
    }
    config_.ProgErrorNewTry = value("ProgErrorNewTry").find("YES") != std::string::npos;
    config_.DebugInfo = value("DebugInfo").find("YES") != std::string::npos;
    config_.SWCheck = value("NoSWCheck").find("YES") == std::string::npos;
    config_.AutoStart = value("AutoStart").find("YES") != std::string::npos;
    LogDropped(dropped);
    return 0;
}

int TUpdateForm::WriteUpdateIni(const std::string& fileName) {
    std::string path;
    std::vector<std::string> lines;
    if (!LocateUpdateIni(fileName, path, lines)) {
        dialogs_.MessageBox(MessageText(Msg::SettingsNotSaved, config_.Language) + path,
                            MessageText(Msg::CaptionInfo, config_.Language),
                            platform::MB_OK | platform::MB_ICONINFORMATION);
        return -1;
    }
    std::vector<std::string> written;
    for (const char* key : UpdateIniKeys) {
        bool cut = false;
        std::string text = IniValue(lines, key, IniValueWidth, cut);
        if (std::string(key) == "Language") {
            text = std::to_string(config_.Language);
        } else if (std::string(key) == "Version") {
            text = config_.VersionText;
        }
        written.push_back(std::string(key) + "=" + text);
    }
    if (!platform::SaveLines(path, written)) {
        dialogs_.MessageBox("Cannot create file \"" + path + "\".",
                            MessageText(Msg::CaptionError, config_.Language),
                            platform::MB_OK | platform::MB_ICONERROR);
    }
    return 0;
}

} // namespace app
