#include "FormFixture.h"
#include "app/ConfigFolders.h"
#include "platform/Application.h"
#include "platform/Files.h"

#include <filesystem>

namespace {

using testing_support::CrLfLines;
using testing_support::DeviceBlock;
using testing_support::StandardTextBlock;

class StartUp : public testing_support::FormFixture {
protected:
    // Runs the loop until the window closed itself, within a bound.
    bool RunUntilClosed(std::uint32_t ms = 5000) {
        platform::Application::Instance().ProcessMessagesFor(ms);
        return form->Closed();
    }
};

TEST_F(StartUp, MissingUpdateIniShowsTheBoxAndEndsTheProgram) {
    folder.Write("ProgDevice.ini", StandardTextBlock);
    platform::Application::Instance().SetTimeDivisor(20);
    Build();
    platform::Application::Instance().SetTimeDivisor(1);
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text,
              "Konfigurationsdatei 1 nicht vorhanden!!Programm wird beendet");
    EXPECT_EQ(dialogs.Boxes[0].Caption, "Error");
    EXPECT_TRUE(dialogs.Boxes[0].Flags & platform::MB_ICONERROR);
    EXPECT_TRUE(MemoLines().empty()) << "no start text after the error";
    EXPECT_TRUE(RunUntilClosed());
    EXPECT_EQ(form->ExitCode(), app::exitcode::ConfigurationMissing);
    EXPECT_EQ(TestView(*form).Report().Outcome, app::outcome::Failed);
    EXPECT_EQ(TestView(*form).Report().FailedStep, app::step::StartUp);
    EXPECT_EQ(TestView(*form).Report().Failure.Step, app::step::StartUp);
    EXPECT_EQ(TestView(*form).Report().Failure.Cause,
              "Update.ini: not found in " + platform::CurrentDirectory());
}

TEST_F(StartUp, MissingProgDeviceIniShowsTheSecondBox) {
    folder.Write("Update.ini", CrLfLines({"Language=1", "INI_File=Other.ini"}));
    folder.Write("ProgDevice.ini", StandardTextBlock);
    platform::Application::Instance().SetTimeDivisor(20);
    Build();
    platform::Application::Instance().SetTimeDivisor(1);
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text,
              "Konfigurationsdatei 2 nicht vorhanden!!Programm wird beendet");
    EXPECT_TRUE(RunUntilClosed());
    EXPECT_EQ(form->ExitCode(), app::exitcode::ConfigurationMissing);
}

TEST_F(StartUp, TwoConfigurationFilesThatDifferInCaseOnlyAreNamedInTheBox) {
    WriteConfig(CrLfLines({"Language=1"}), StandardTextBlock);
    folder.Write("progdevice.ini", StandardTextBlock);
    folder.Write("PROGDEVICE.INI", StandardTextBlock);
    std::filesystem::remove(folder.File("ProgDevice.ini"));
    Build();
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text,
              "Konfigurationsdatei 2 nicht vorhanden!!Programm wird beendet\r\nSeveral files "
              "differ only in upper and lower case: PROGDEVICE.INI, progdevice.ini");
    EXPECT_EQ(form->ExitCode(), app::exitcode::ConfigurationMissing);
    EXPECT_EQ(TestView(*form).Report().Failure.Cause,
              platform::JoinPath(platform::CurrentDirectory(), "ProgDevice.ini") +
                  ": several files differ only in case: PROGDEVICE.INI, progdevice.ini");

    // Two Update.ini are there: start-up names them instead of a console
    // line that says the folder holds none.
    folder.Write("update.ini", CrLfLines({"Language=1"}));
    folder.Write("UPDATE.INI", CrLfLines({"Language=1"}));
    std::filesystem::remove(folder.File("Update.ini"));
    EXPECT_TRUE(app::UpdateIniPresent());
    dialogs.Boxes.clear();
    Build();
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_NE(dialogs.Boxes[0].Text.find("UPDATE.INI, update.ini"), std::string::npos)
        << dialogs.Boxes[0].Text;
    std::filesystem::remove(folder.File("UPDATE.INI"));
    EXPECT_TRUE(app::UpdateIniPresent());
    std::filesystem::remove(folder.File("update.ini"));
    EXPECT_FALSE(app::UpdateIniPresent());
}

TEST_F(StartUp, FilesCopiedFromWindowsAreFoundInAnyCaseAndWrittenBackUnderTheirName) {
    folder.Write("UPDATE.INI", CrLfLines({"Language=1", "INI_File=devices.ini"}));
    folder.Write("Devices.INI", StandardTextBlock + "\r\n" + DeviceBlock("11111", "Z70"));
    folder.Write("z70_v1.mot", "");
    app::TUpdateForm& form = Build();
    EXPECT_TRUE(dialogs.Boxes.empty());
    EXPECT_EQ(TestView(form).Config().Language, 1);
    ASSERT_EQ(TestView(form).DeviceTable().size(), 1u);
    EXPECT_TRUE(form.DevMultiZ70->Enabled());
    TestView(form).ConfigToStandFor().Language = 0;
    EXPECT_EQ(TestView(form).WriteUpdateIni("Update.ini"), 0);
    EXPECT_NE(folder.Read("UPDATE.INI").find("Language=0"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder.File("Update.ini")));
}

TEST_F(StartUp, ShowsTheStartTextOfTheLanguageWithPlaceholdersExpanded) {
    WriteConfig(CrLfLines({"Language=1"}), StandardTextBlock);
    Build();
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"Start device\r\nplease"}));
    WriteConfig(CrLfLines({"Language=0"}), StandardTextBlock);
    Build();
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"Start Ger\xE4t\r\nbitte"}));
    EXPECT_TRUE(dialogs.Boxes.empty());
}

TEST_F(StartUp, FirmwareListingFollowsTheFilePatternRules) {
    WriteConfig("", DeviceBlock("11111", "Z70") + "\r\n" + DeviceBlock("22222", "PHX") + "\r\n" +
                        DeviceBlock("33333", "LAB1"));
    for (const char* name :
         {"z70_v1.mot", "EEPROM.mot", "version.mot", "phx.mot", "fw.TXT", "VERSION.txt",
          "eepdata.bin", "lab1.hex", "tool.exe", "lib.dll", "x.bin", "readme.pdf"}) {
        folder.Write(name, "");
    }
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).FirmwareFiles(),
              (std::vector<std::string>{"PHX.MOT", "VERSION.MOT", "Z70_V1.MOT", "FW.TXT",
                                        "TOOL.EXE", "LIB.DLL", "LAB1.HEX", "X.BIN"}));
    EXPECT_EQ(form.DLListBox->Lines(), (std::vector<std::string>{"PHX", "VERSION", "Z70_V1", "FW",
                                                                 "TOOL", "LIB", "LAB1", "X"}));
    // The last .mot file decides the visibility: Z70_V1 contains row 0's file.
    EXPECT_TRUE(form.TGZ70Programming->Visible());
    EXPECT_TRUE(form.DevMultiZ70->Enabled());
    EXPECT_TRUE(form.DevpHZ70->Enabled());
    EXPECT_FALSE(form.DevOxiZ70->Enabled());
    EXPECT_TRUE(form.LabXXX->Enabled());
}

// Names on disk are UTF-8 and may differ in the case of their umlauts from
// the Latin-1 configuration: both are folded alike.
TEST_F(StartUp, FirmwareListingFoldsLatin1CapitalsOfUtf8Names) {
    WriteConfig("", DeviceBlock("11111", "PR\xDC"
                                         "F"));
    folder.Write("pr\xC3\xBC"
                 "f_v1.mot",
                 "");
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).FirmwareFiles(), (std::vector<std::string>{"PR\xDC"
                                                                        "F_V1.MOT"}));
    EXPECT_TRUE(form.DevMultiZ70->Enabled());
    EXPECT_TRUE(form.TGZ70Programming->Visible());
}

// Lab instruments name a list and may mark their program file with "@": the
// program file alone is looked for, and a lab-only folder shows the menu.
TEST_F(StartUp, ALabInstrumentsListEnablesTheLabRecovery) {
    for (const char* list : {"LAB_V2.TXT@,LAB.DAT,*.*", "LAB_V2.TXT,*.*", "LAB_V2.TXT@"}) {
        SCOPED_TRACE(list);
        WriteConfig("", DeviceBlock("11111", list));
        folder.Write("lab_v2.txt", "");
        app::TUpdateForm& form = Build();
        EXPECT_TRUE(form.LabXXX->Enabled());
        EXPECT_TRUE(form.TGZ70Programming->Visible());
        EXPECT_FALSE(form.DevMultiZ70->Enabled());
    }
}

TEST_F(StartUp, EmptyProgFileMatchesNothing) {
    WriteConfig("", DeviceBlock("11111", ""));
    folder.Write("a.mot", "");
    folder.Write("b.hex", "");
    app::TUpdateForm& form = Build();
    EXPECT_FALSE(form.TGZ70Programming->Visible());
    EXPECT_FALSE(form.LabXXX->Enabled());
    EXPECT_EQ(TestView(form).FirmwareFiles().size(), 2u);
}

TEST_F(StartUp, AtMost160FirmwareFilesAreListed) {
    WriteConfig("", StandardTextBlock);
    for (int i = 0; i < 170; ++i) {
        folder.Write("f" + std::to_string(1000 + i) + ".bin", "");
    }
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).FirmwareFiles().size(), 160u);
    EXPECT_EQ(form.DLListBox->Lines().size(), 160u);
}

TEST_F(StartUp, ConfigurationIsReadFromTheMirrorUnderThePublicFolder) {
    testing_support::TempFolder publicRoot;
    std::string programFiles = folder.Path();
    std::string installed = folder.File("Vendor/Update");
    platform::ForceDirectories(installed);
    ::setenv("ProgramFiles", programFiles.c_str(), 1);
    ::setenv("PUBLIC", publicRoot.Path().c_str(), 1);
    ASSERT_TRUE(platform::SetCurrentDirectory(installed));
    folder.Write("Vendor/Update/ProgDevice.ini", StandardTextBlock);
    folder.Write("Vendor/Update/Update.ini", CrLfLines({"Language=0"}));
    app::TUpdateForm& form = Build();
    std::string mirror = publicRoot.File("Vendor/Update");
    EXPECT_EQ(app::MirroredConfigFolder(), mirror);
    EXPECT_TRUE(platform::DirectoryExists(mirror)) << "the mirror folder is created";
    EXPECT_EQ(TestView(form).Config().Language, 0)
        << "read from the current folder while the mirror is empty";

    publicRoot.Write("Vendor/Update/Update.ini", CrLfLines({"Language=1"}));
    EXPECT_EQ(TestView(Build()).Config().Language, 1) << "the mirrored file wins";
}

TEST_F(StartUp, NotUnderProgramFilesMeansNoMirror) {
    ::setenv("ProgramFiles", "/opt", 1);
    WriteConfig("", StandardTextBlock);
    Build();
    EXPECT_EQ(app::MirroredConfigFolder(), "");
}

TEST_F(StartUp, WriteUpdateIniWritesExactlyNineLines) {
    WriteConfig(CrLfLines({"; comment", "[Update]", "Language=0", "Version=6.00", "Baud=3",
                           "Unknown=1", "AutoStart=YES"}),
                StandardTextBlock);
    app::TUpdateForm& form = Build();
    TestView(form).ConfigToStandFor().Language = 1;
    EXPECT_EQ(TestView(form).WriteUpdateIni("Update.ini"), 0);
    EXPECT_EQ(folder.Read("Update.ini"),
              CrLfLines({"Language=1", "Version=6.00", "Baud=3", "Com=", "INI_File=",
                         "ProgErrorNewTry=", "DebugInfo=", "NoSWCheck=", "AutoStart=YES"}));
}

TEST_F(StartUp, WriteUpdateIniWithoutTheFileSaysSoAndGoesOn) {
    WriteConfig(CrLfLines({"Language=1"}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    std::filesystem::remove(folder.File("Update.ini"));
    EXPECT_EQ(TestView(form).WriteUpdateIni("Update.ini"), -1);
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Caption, "Info");
    EXPECT_NE(dialogs.Boxes[0].Text.find("Update.ini"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder.File("Update.ini")));
}

} // namespace
