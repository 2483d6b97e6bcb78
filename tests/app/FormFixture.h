#pragma once

#include "../support/ScriptedDialogs.h"
#include "../support/TempFolder.h"
#include "../support/UpdateFormTestView.h"
#include "app/Updatemain.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/PortMap.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace testing_support {

inline std::string CrLfLines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

inline std::string DeviceBlock(const std::string& deviceNr, const std::string& progFile2,
                               const std::string& startCmd = "1") {
    return CrLfLines({"DevStartCmd=" + startCmd, "DeviceNrDef=" + deviceNr, "DeviceNr=" + deviceNr,
                      "DeviceName=Meter " + deviceNr, "ProgFile1=", "ProgFile2=" + progFile2,
                      "ProgFile3=", "SWKenn1=", "SWKenn2=", "SWKenn3=", "BootLoadKenn=",
                      "FlashErase1=", "FlashErase2=", "FlashErase3=", "ProgDefFile=", "ProzTyp=1"});
}

inline const std::string StandardTextBlock =
    CrLfLines({"StarttextD=Start NAME\\rbitte", "StarttextE=Start NAME\\rplease",
               "AbbruchtextD=Abbruch", "AbbruchtextE=Abort"});

// A program folder in a temporary directory, entered as the current
// directory, with a form built on demand.
class FormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        previous = platform::CurrentDirectory();
        ASSERT_TRUE(platform::SetCurrentDirectory(folder.Path()));
        ::setenv("ProgramFiles", "/nonexistent-program-files", 1);
        // No serial port unless a test links one in.
        platform::ForceDirectories(ports.Path());
        platform::SetPortMapDirectory(ports.Path());
        platform::Application::Instance().Reopen();
    }
    void TearDown() override {
        form.reset();
        platform::SetCurrentDirectory(previous);
        platform::Application::Instance().Reopen();
        ::unsetenv("ProgramFiles");
        ::unsetenv("PUBLIC");
        platform::SetPortMapDirectory("");
        platform::ClearAssignedPorts();
    }
    void WriteConfig(const std::string& updateIni, const std::string& progDevice) {
        folder.Write("Update.ini", updateIni);
        folder.Write("ProgDevice.ini", progDevice);
    }
    app::TUpdateForm& Build(const std::string& port = {}) {
        app::StartOptions options;
        options.ProgramFolder = folder.Path();
        options.Port = port;
        form = std::make_unique<app::TUpdateForm>(dialogs, options);
        return *form;
    }
    std::vector<std::string> MemoLines() const { return form->UpdateMemo->Lines(); }

    TempFolder folder;
    TempFolder ports;
    ScriptedDialogs dialogs;
    std::unique_ptr<app::TUpdateForm> form;
    std::string previous;
};

} // namespace testing_support
