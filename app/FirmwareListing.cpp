#include "app/Messages.h"
#include "app/ProgFileList.h"
#include "app/Updatemain.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace app {

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return !part.empty() && text.find(part) != std::string::npos;
}

} // namespace

void TUpdateForm::ListFirmwareFiles() {
    static const char* const Patterns[] = {"*.mot", "*.txt", "*.exe", "*.dll", "*.hex", "*.bin"};
    // A list's program file: lab instruments name their further files too.
    auto progFile2 = [this](std::size_t row) {
        return row < deviceTable_.size()
                   ? platform::UpperLatin1(ProgramFileOf(deviceTable_[row].ProgFile2))
                   : std::string();
    };
    platform::TMenuItem* const z70Items[] = {DevMultiZ70, DevpHZ70, DevOxiZ70, DevCondZ70};
    std::size_t ignored = 0;
    for (const char* pattern : Patterns) {
        const bool motorolaFiles = std::string(pattern) == "*.mot";
        for (const std::string& file : platform::FindFiles(options_.ProgramFolder, pattern)) {
            // In Latin-1 capitals, as the configured names it is compared with
            // and the session's file are folded.
            std::string name = platform::UpperLatin1(platform::Utf8ToLatin1(file));
            if (Contains(name, "EEP") || (!motorolaFiles && Contains(name, "VERSION"))) {
                continue;
            }
            if (firmwareFiles_.size() == MaxFirmwareFiles) {
                ++ignored;
                continue;
            }
            firmwareFiles_.push_back(name);
            if (motorolaFiles) {
                TGZ70Programming->SetVisible(Contains(name, progFile2(0)));
                for (std::size_t row = 0; row < 4; ++row) {
                    if (Contains(name, progFile2(row))) {
                        z70Items[row]->SetEnabled(true);
                    }
                }
            } else {
                for (std::size_t row = 0; row < 4; ++row) {
                    if (Contains(name, progFile2(row))) {
                        LabXXX->SetEnabled(true);
                        TGZ70Programming->SetVisible(true);
                    }
                }
            }
            DLListBox->Add(name.substr(0, name.find('.')));
        }
    }
    if (ignored > 0) {
        LogDropped({std::to_string(ignored) + " firmware files after the first " +
                    std::to_string(MaxFirmwareFiles)});
    }
}

} // namespace app
