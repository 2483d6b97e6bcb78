#include "app/Messages.h"
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
    auto progFile2 = [this](std::size_t row) {
        return row < DeviceTable.size() ? DeviceTable[row].ProgFile2 : std::string();
    };
    platform::TMenuItem* const z70Items[] = {DevMultiZ70, DevpHZ70, DevOxiZ70, DevCondZ70};
    std::size_t ignored = 0;
    for (const char* pattern : Patterns) {
        const bool motorolaFiles = std::string(pattern) == "*.mot";
        for (const std::string& file : platform::FindFiles(options_.ProgramFolder, pattern)) {
            // In capitals, as the configuration holds the names it is compared with.
            std::string name = UpperAscii(platform::Utf8ToLatin1(file));
            if (Contains(name, "EEP") || (!motorolaFiles && Contains(name, "VERSION"))) {
                continue;
            }
            if (FirmwareFiles.size() == MaxFirmwareFiles) {
                ++ignored;
                continue;
            }
            FirmwareFiles.push_back(name);
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
