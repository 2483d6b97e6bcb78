#include "app/ConfigFolders.h"
#include "app/FailureCauses.h"
#include "app/IniLines.h"
#include "app/Messages.h"
#include "app/Updatemain.h"
#include "platform/Files.h"

namespace app {

namespace {

constexpr std::size_t DeviceBlockMinLines = 11;
constexpr std::size_t TextBlockLines = 4;

// Value of key in block, cut to the 511-character read buffer.
std::string BlockValue(const std::vector<std::string>& block, const char* key,
                       std::vector<std::string>& dropped) {
    bool cut = false;
    std::string value = IniValue(block, key, MaxTextLength, cut);
    if (cut) {
        dropped.push_back(std::string(key) + " (> 511)");
    }
    return value;
}

// "1".."6" give 0..5, "7".."9" give 0..2; anything else gives 0.
int StartModeFrom(const std::string& value) {
    if (value.empty()) {
        return 0;
    }
    int mode = value[0] - '1';
    if (mode >= 6) {
        mode -= 6;
    }
    return mode >= 0 && mode <= 5 ? mode : 0;
}

} // namespace

void TUpdateForm::ReadDeviceBlock(const std::vector<std::string>& block,
                                  std::vector<std::string>& dropped) {
    if (deviceTable_.size() == MaxDeviceRows) {
        ++ignoredDeviceBlocks_;
        return;
    }
    auto value = [&](const char* key) { return BlockValue(block, key, dropped); };
    std::string startCmd = value("DevStartCmd");
    startModeAsRead_ = StartModeFrom(startCmd);
    if (!startCmd.empty() && startCmd[0] == '7') {
        closeOnInfo_ = true;
    }
    DeviceRow row;
    bool cut = false;
    auto column = [&](const char* key, std::string stored) {
        if (cut) {
            dropped.push_back(std::string(key) + " (too long)");
            cut = false;
        }
        return stored;
    };
    row.DeviceNrDef = column("DeviceNrDef", DeviceNrColumn(value("DeviceNrDef"), cut));
    row.DeviceNr = column("DeviceNr", DeviceNrColumn(value("DeviceNr"), cut));
    row.DeviceName =
        column("DeviceName", TextColumn(value("DeviceName"), ColumnWidth::DeviceName, cut));
    row.ProgFile1 =
        column("ProgFile1", FileColumn(value("ProgFile1"), ColumnWidth::ProgFile1, cut));
    row.ProgFile2 =
        column("ProgFile2", FileColumn(value("ProgFile2"), ColumnWidth::ProgFileList, cut));
    row.ProgFile3 =
        column("ProgFile3", FileColumn(value("ProgFile3"), ColumnWidth::ProgFileList, cut));
    row.SWKenn1 = column("SWKenn1", SWKennColumn(value("SWKenn1"), cut));
    row.SWKenn2 = column("SWKenn2", SWKennColumn(value("SWKenn2"), cut));
    row.SWKenn3 = column("SWKenn3", SWKennColumn(value("SWKenn3"), cut));
    row.BootLoadKenn =
        column("BootLoadKenn", TextColumn(value("BootLoadKenn"), ColumnWidth::BootLoadKenn, cut));
    row.FlashErase1 =
        column("FlashErase1", TextColumn(value("FlashErase1"), ColumnWidth::FlashErase, cut));
    row.FlashErase2 =
        column("FlashErase2", TextColumn(value("FlashErase2"), ColumnWidth::FlashErase, cut));
    row.FlashErase3 =
        column("FlashErase3", TextColumn(value("FlashErase3"), ColumnWidth::FlashErase, cut));
    for (auto [key, stored] :
         {std::pair{"FlashErase1", &row.FlashErase1}, std::pair{"FlashErase2", &row.FlashErase2},
          std::pair{"FlashErase3", &row.FlashErase3}}) {
        std::uint32_t address = 0;
        if (!FlashEraseAddress(*stored, address)) {
            // An erase start beyond the flash would walk a loader through
            // millions of segments; the loader's own default is used.
            dropped.push_back(std::string(key) + " (out of range)");
            stored->clear();
        }
    }
    row.ProgDefFile =
        column("ProgDefFile", FileColumn(value("ProgDefFile"), ColumnWidth::ProgDefFile, cut));
    row.ProzTyp = ProzTypColumn(value("ProzTyp"));
    deviceTable_.push_back(std::move(row));
}

void TUpdateForm::ReadTextBlock(const std::vector<std::string>& block,
                                std::vector<std::string>& dropped) {
    starttextD_ = BlockValue(block, "StarttextD", dropped);
    starttextE_ = BlockValue(block, "StarttextE", dropped);
    abbruchtextD_ = BlockValue(block, "AbbruchtextD", dropped);
    abbruchtextE_ = BlockValue(block, "AbbruchtextE", dropped);
}

int TUpdateForm::ReadProgDeviceIni(const std::string& fileName) {
    std::vector<std::string> lines;
    if (!platform::LoadLines(ConfigFilePath("", fileName), lines)) {
        dialogs_.MessageBox(ProgDeviceIniMissingText +
                                CaseClashNote({""}, fileName, config_.Language),
                            ConfigErrorCaption, platform::MB_OK | platform::MB_ICONERROR);
        startUpFailure_ = FailureAt(step::StartUp, ConfigFileCause({""}, fileName));
        return -1;
    }
    std::vector<std::string> dropped;
    std::vector<std::string> block;
    auto takeBlock = [&] {
        if (block.size() >= DeviceBlockMinLines) {
            ReadDeviceBlock(block, dropped);
        } else if (block.size() == TextBlockLines) {
            ReadTextBlock(block, dropped);
        }
        block.clear();
    };
    for (const std::string& line : lines) {
        if (line.empty()) {
            takeBlock();
        } else {
            block.push_back(line);
        }
    }
    takeBlock();
    if (ignoredDeviceBlocks_ > 0) {
        dropped.push_back(std::to_string(ignoredDeviceBlocks_) + " device blocks after the first " +
                          std::to_string(MaxDeviceRows));
    }
    session_.TakeDeviceConfiguration(
        startModeAsRead_, deviceTable_.empty() ? 0 : FileClassOf(deviceTable_[0].ProgFile2, false));
    LogDropped(dropped);
    return 0;
}

} // namespace app
