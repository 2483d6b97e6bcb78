// The window program as main runs it, with the operator's dialogs scripted.
#include "frontends/qt/WindowProgram.h"

#include "../support/ScriptedDialogs.h"
#include "../support/TempFolder.h"
#include "QtTestSupport.h"
#include "platform/Application.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

namespace qttest {
namespace {

class WindowProgram : public ::testing::Test {
protected:
    void SetUp() override {
        QtApp();
        previous = platform::CurrentDirectory();
        ASSERT_TRUE(platform::SetCurrentDirectory(empty.Path()));
        options.TimeDivisor = 20;
    }
    void TearDown() override {
        platform::SetCurrentDirectory(previous);
        platform::Application::Instance().SetTimeDivisor(1);
        platform::Application::Instance().Reopen();
    }
    int Run() {
        platform::Application::Instance().Reopen();
        return qtfront::RunWindowProgram(options, &dialogs);
    }

    testing_support::TempFolder empty;
    testing_support::ScriptedDialogs dialogs;
    app::ProgramOptions options;
    std::string previous;
};

TEST_F(WindowProgram, WithoutAProgramFolderTheOperatorIsAskedForOneAndCancellingEndsWith78) {
    EXPECT_EQ(Run(), app::exitcode::ConfigurationMissing);
    ASSERT_EQ(dialogs.FolderTitles.size(), 1u);
    EXPECT_NE(dialogs.FolderTitles[0].find(empty.Path()), std::string::npos);
    EXPECT_NE(dialogs.FolderTitles[0].find("--dir"), std::string::npos);
    EXPECT_TRUE(dialogs.Boxes.empty());

    // The chosen folder is the program folder: this one lacks ProgDevice.ini.
    testing_support::TempFolder chosen;
    chosen.Write("Update.ini", "Language=1\r\n");
    dialogs.ChosenFolder = chosen.Path();
    EXPECT_EQ(Run(), app::exitcode::ConfigurationMissing);
    EXPECT_EQ(platform::CurrentDirectory(), chosen.Path());
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text,
              "Konfigurationsdatei 2 nicht vorhanden!!Programm wird beendet");
}

TEST_F(WindowProgram, AGivenFolderWithoutUpdateIniShowsItsBoxAndEndsWith78) {
    options.Folder = empty.Path();
    EXPECT_EQ(Run(), app::exitcode::ConfigurationMissing);
    EXPECT_TRUE(dialogs.FolderTitles.empty()) << "--dir names the folder: nothing to choose";
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text,
              "Konfigurationsdatei 1 nicht vorhanden!!Programm wird beendet");
}

} // namespace
} // namespace qttest
