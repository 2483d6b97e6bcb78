#include "FormFixture.h"
#include "app/DeviceClock.h"
#include "app/Messages.h"
#include "app/ProgrammerServices.h"
#include "platform/Application.h"
#include "programmers/HexLoad.h"

namespace {

using testing_support::CrLfLines;
using testing_support::DeviceBlock;
using testing_support::StandardTextBlock;

class Window : public testing_support::FormFixture {
protected:
    app::TUpdateForm& BuildWith(std::initializer_list<std::string> updateIni,
                                const std::string& progDevice = StandardTextBlock) {
        WriteConfig(CrLfLines(updateIni), progDevice);
        return Build();
    }
    const std::string& Title() { return platform::Application::Instance().Title(); }
};

TEST_F(Window, DebugLogFollowsCtrlF1) {
    app::TUpdateForm& form = BuildWith({"Language=0"});
    std::size_t lines = MemoLines().size();
    TestView(form).AddLogLine("A.1000\r\n");
    EXPECT_EQ(MemoLines().size(), lines);
    form.FormKeyUp(app::VK_F1, app::ssCtrl | app::ssShift);
    EXPECT_TRUE(form.InfoStaticText->Visible());
    EXPECT_EQ(form.InfoStaticText->Caption(), "Debug-Mode");
    TestView(form).AddLogLine("NAME <-");
    EXPECT_EQ(MemoLines().back(), "Ger\xE4t <-");
}

TEST_F(Window, ServiceModesSetInUpdateIniAreTurnedOffByTheFirstKey) {
    app::TUpdateForm& form = BuildWith({"DebugInfo=YES", "NoSWCheck=YES"});
    TestView(form).AddLogLine("logged");
    EXPECT_EQ(MemoLines().back(), "logged");
    EXPECT_FALSE(form.InfoStaticText->Visible());
    form.FormKeyUp(app::VK_F1, app::ssCtrl);
    EXPECT_FALSE(TestView(form).Config().DebugInfo);
    EXPECT_FALSE(form.InfoStaticText->Visible());
    form.FormKeyUp(app::VK_F10, app::ssCtrl | app::ssAlt);
    EXPECT_TRUE(TestView(form).Config().SWCheck);
    EXPECT_FALSE(form.InfoStaticText->Visible());
    form.FormKeyUp(app::VK_F10, app::ssCtrl);
    EXPECT_TRUE(TestView(form).Config().SWCheck) << "Ctrl+F10 without Alt does nothing";
}

TEST_F(Window, AnyFileModeShowsTheOpenItemAndTakesTheChosenFile) {
    app::TUpdateForm& form = BuildWith({"Language=0"});
    form.FormKeyUp(app::VK_F12, app::ssCtrl | app::ssAlt);
    EXPECT_TRUE(TestView(form).AnyFileMode());
    EXPECT_TRUE(form.LoadProgFile->Visible());
    EXPECT_EQ(form.InfoStaticText->Caption(), "beliebige Datei \xF6"
                                              "ffnen");
    dialogs.ChosenFile = "/elsewhere/FW.TXT";
    form.LoadProgFile->Click();
    EXPECT_EQ(TestView(form).AnyFileName(), "/elsewhere/FW.TXT");
    EXPECT_EQ(platform::CurrentDirectory(), folder.Path());
    form.FormKeyUp(app::VK_F12, app::ssCtrl | app::ssAlt);
    EXPECT_FALSE(form.LoadProgFile->Visible());
}

TEST_F(Window, TitleProgressClampsResetsAndEnds) {
    app::TUpdateForm& form = BuildWith({"Language=0"});
    EXPECT_EQ(TestView(form).ShowTitleProgress("", 150), " 100.0 %");
    EXPECT_EQ(Title(), "Update [ 100.0 %]");
    EXPECT_EQ(TestView(form).ShowTitleProgress("", -3), " 0.0 %");
    TestView(form).ShowTitleState(programmers::TitleState::Plain);
    EXPECT_EQ(Title(), "Update");
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(4).Text, "");
    TestView(form).ShowTitleState(programmers::TitleState::Ended);
    EXPECT_EQ(Title(), "Update [beendet]");
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(4).Text, "Update [beendet]");
}

TEST_F(Window, ProgressCallsMoveTheBarAndTheTitle) {
    app::TUpdateForm& form = BuildWith({"Language=1"});
    TestView(form).SetProgressMaximum(200, programmers::ProgressUnit::Blocks);
    TestView(form).AdvanceProgress(50);
    EXPECT_EQ(form.WaitProgressBar->Position(), 50);
    EXPECT_EQ(form.WaitProgressBar->Unit(), "blocks");
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(4).Text, " 25.0 %");
    EXPECT_EQ(Title(), "Update [ 25.0 %]");
    TestView(form).AdvanceProgressBar(10);
    EXPECT_EQ(form.WaitProgressBar->Position(), 60);
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(4).Text, " 25.0 %") << "the title is left alone";
    TestView(form).SetProgressPosition(7);
    EXPECT_EQ(form.WaitProgressBar->Position(), 7);
    TestView(form).ShowTitleState(programmers::TitleState::Complete);
    EXPECT_EQ(Title(), "Update [ 100.0 %]");
    TestView(form).ShowTitleState(programmers::TitleState::Plain);
    EXPECT_EQ(Title(), "Update");
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(4).Text, "");
    TestView(form).ShowTitleState(programmers::TitleState::Ended);
    EXPECT_EQ(Title(), "Update [ready]");
    form.SWStaticText->SetCaption("1.23");
    TestView(form).ShowLoaderVersion("2.10");
    EXPECT_EQ(form.SWStaticText->Caption(), "1.23   [BLV: 2.10]");
    // A maximum set without a unit is a share alone: no unit left over.
    form.WaitProgressBar->SetMax(100);
    EXPECT_EQ(form.WaitProgressBar->Unit(), "");
}

// The library's stages fill the bar's first five steps and the title up to
// 5 %; its own percentage the rest, from 5 to 100 %.
TEST_F(Window, UpdaterReportsFillTheBarAfterTheStages) {
    app::TUpdateForm& form = BuildWith({"Language=1"});
    form.WaitProgressBar->SetMax(105);
    using Kind = programmers::TUpdaterReport::Kind;
    app::TSessionServices services = TestView(form).ProgrammerHost();
    programmers::TUpdaterProgress progress(services);
    progress.Show({Kind::StageDone, 3});
    EXPECT_EQ(form.WaitProgressBar->Position(), 1);
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(4).Text, " 3.0 %");
    progress.Show({Kind::Programmed, 0});
    EXPECT_EQ(form.WaitProgressBar->Position(), 5);
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(4).Text, " 5.0 %");
    progress.Show({Kind::Programmed, 100});
    EXPECT_EQ(form.WaitProgressBar->Position(), 105);
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(4).Text, " 100.0 %");
}

TEST_F(Window, TitleTimerCountsTowardsTheExpectedTicks) {
    app::TUpdateForm& form = BuildWith({"Language=0"});
    TestView(form).Session().State().ExpectedTicks = 4;
    TestView(form).TitleTimerTimer();
    EXPECT_EQ(Title(), "Update [ 25.0 %]");
}

TEST_F(Window, SwitchingToEnglishRetranslatesAndRewritesUpdateIni) {
    folder.Write("Update.Eng",
                 CrLfLines({"[UpdateGroupBox]Ger\xE4t:=Device", "[Bearbeiten]&Datei:=&File"}));
    app::TUpdateForm& form = BuildWith({"Language=0", "Version=6.00", "; comment"});
    form.UpdateMemo->Add("from the session");
    form.Englisch->Click();
    EXPECT_TRUE(form.Englisch->Checked());
    EXPECT_FALSE(form.Deutsch->Checked());
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"Start device\r\nplease"}));
    EXPECT_EQ(form.UpdateGroupBox->Caption(), "Device");
    EXPECT_EQ(form.Bearbeiten->Caption(), "&File");
    EXPECT_EQ(folder.Read("Update.ini"),
              CrLfLines({"Language=1", "Version=6.00", "Baud=", "Com=", "INI_File=",
                         "ProgErrorNewTry=", "DebugInfo=", "NoSWCheck=", "AutoStart="}));
}

TEST_F(Window, ReadmeOpensTheGuideOfTheStartModeAndLanguage) {
    app::TUpdateForm& form = BuildWith({"Language=1"}, DeviceBlock("11111", "A.TXT", "5"));
    // The session may change it; the guide uses the value as read.
    TestView(form).Session().State().StartMode = 0;
    form.Readme->Click();
    ASSERT_EQ(dialogs.OpenedDocuments.size(), 1u);
    EXPECT_EQ(dialogs.OpenedDocuments[0], folder.File("Firmwareupdate_Pelmora-KSL_en.pdf"));
    EXPECT_TRUE(dialogs.Boxes.empty());
    dialogs.DocumentOpens = false;
    form.Readme->Click();
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "Programm konnte nicht gestartet werden!");
}

TEST_F(Window, GuideNamesByStartMode) {
    app::TUpdateForm& form = BuildWith({"Language=0"}, DeviceBlock("11111", "A.TXT", "4"));
    EXPECT_EQ(TestView(form).GuideFileName(), "Firmwareupdate_KSL_Sensoren.pdf");
    TestView(form).SetStartModeAsRead(1);
    EXPECT_EQ(TestView(form).GuideFileName(), "Firmwareupdate_Messgeraete.pdf");
    TestView(form).ConfigToStandFor().Language = 1;
    EXPECT_EQ(TestView(form).GuideFileName(), "Firmwareupdate_meters.pdf");
}

TEST_F(Window, VersionBoxShowsTheProgramVersion) {
    app::TUpdateForm& form = BuildWith({"Language=0"});
    form.SWVersion->Click();
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "     Version  6.00.0000" + std::string(27, ' '));
    EXPECT_EQ(dialogs.Boxes[0].Caption, "Info");
}

TEST_F(Window, ExitMenuClosesTheWindow) {
    app::TUpdateForm& form = BuildWith({"Language=0"});
    form.UpdateEnd->Click();
    EXPECT_TRUE(form.Closed());
    EXPECT_TRUE(form.StopPanel->Visible());
    EXPECT_TRUE(platform::Application::Instance().Terminated());
}

TEST(MessageTable, EveryTextFitsItsSlotInBothLanguages) {
    for (int id = 0; id < static_cast<int>(app::Msg::Count_); ++id) {
        auto msg = static_cast<app::Msg>(id);
        std::size_t width = app::MessageWidth(msg);
        for (int language : {0, 1}) {
            const std::string& text = app::MessageText(msg, language);
            EXPECT_FALSE(text.empty()) << id;
            if (width > 0) {
                EXPECT_LT(text.size(), width) << id << " language " << language;
            }
        }
    }
    EXPECT_EQ(app::MessageText(app::Msg::NoDeviceFound, 0).substr(0, 22),
              "Kein Ger\xE4t gefunden !!");
    EXPECT_EQ(app::MessageText(app::Msg::BootloaderError, 1),
              "Error in bootloader !!  Programming abort.");
}

TEST(DeviceClock, SecondsSince2002AndDaysSince1899) {
    std::tm local{};
    local.tm_year = 2003 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 1;
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 10;
    EXPECT_EQ(app::ClockCommand(true, local), "A.1600#86410\r\n");
    local.tm_year = 1900 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 1;
    local.tm_hour = 12;
    local.tm_sec = 0;
    EXPECT_EQ(app::ClockCommand(false, local), "A.1600#2.500000\r\n");
}

} // namespace
