#include "../serial/Pty.h"
#include "FormFixture.h"
#include "app/PortOpenFailure.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

using testing_support::CrLfLines;
using testing_support::StandardTextBlock;

// Ports COM1, COM3 and COM4 as pseudo-terminals in the port map.
class PortsStartUp : public testing_support::FormFixture {
protected:
    void Link(int number, const serialtest::Pty& pty) {
        std::filesystem::create_symlink(pty.SlavePath(),
                                        ports.File("COM" + std::to_string(number)));
    }
    void LinkThree() {
        Link(1, com1);
        Link(3, com3);
        Link(4, com4);
    }
    serialtest::Pty com1, com3, com4;
};

TEST_F(PortsStartUp, WithoutAFixedPortEveryUsablePortIsOpened) {
    LinkThree();
    WriteConfig(CrLfLines({"Language=0"}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).PortCount(), 3);
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(0).Text, "[Com1] [3] [4]");
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(TestView(form).Port(i), nullptr);
        EXPECT_TRUE(TestView(form).Port(i)->IsOpen()) << i;
    }
    EXPECT_EQ(TestView(form).Port(0), form.UpdateCom);
    EXPECT_EQ(TestView(form).PortNumber(2), 4);
    // The main window's line settings reach every port: 4800 with 2 stop bits.
    EXPECT_EQ(com4.Baud(), 4800u);
    EXPECT_TRUE(com4.TwoStopBits());
    EXPECT_TRUE(dialogs.Boxes.empty());
    form.FormClose();
    EXPECT_FALSE(form.UpdateCom->IsOpen());
}

TEST_F(PortsStartUp, FixedPortOpensOnlyThatPort) {
    LinkThree();
    WriteConfig(CrLfLines({"Com=3"}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).PortCount(), 1);
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(0).Text, "Com3");
    EXPECT_EQ(form.UpdateCom->PortIndex(), 2);
    EXPECT_EQ(TestView(form).Port(1), nullptr);
    EXPECT_EQ(form.ExitCode(), 0);
}

TEST_F(PortsStartUp, UnopenableFixedPortGivesExitCode2AndCancelsTheAutomaticStart) {
    Link(1, com1);
    WriteConfig(CrLfLines({"Com=3", "AutoStart=YES"}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(form.ExitCode(), 2);
    EXPECT_FALSE(TestView(form).Config().AutoStart);
    EXPECT_FALSE(form.StartTimer->Enabled());
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "COM3 konnte nicht ge\xF6"
                                     "ffnet werden! " +
                                         ports.File("COM3") + ": Ger\xE4t nicht vorhanden");
    EXPECT_FALSE(form.Closed()) << "the window stays open";
}

// --port: the port a run is given takes Com='s place, and start-up never
// touches another one (a production line's neighbours hold theirs).
TEST_F(PortsStartUp, PortOptionReplacesComAndTheSurveySeesThatPortAlone) {
    LinkThree();
    WriteConfig(CrLfLines({"Com=3"}), StandardTextBlock);
    app::TUpdateForm& form = Build("com4");
    EXPECT_EQ(TestView(form).PortCount(), 1);
    EXPECT_EQ(form.UpdateCom->PortIndex(), 3);
    EXPECT_TRUE(form.UpdateCom->IsOpen());
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(0).Text, "Com4");
    EXPECT_EQ(form.UpdateCom->GetMaxV24Devices(), 1) << "COM1 and COM3 were not probed";
    EXPECT_EQ(form.ExitCode(), 0);
}

TEST_F(PortsStartUp, PortOptionNumbersADeviceTheMapLacksAboveTheMappedOnes) {
    LinkThree();
    serialtest::Pty loose;
    WriteConfig(CrLfLines({"Language=0"}), StandardTextBlock);
    app::TUpdateForm& form = Build(loose.SlavePath());
    EXPECT_EQ(form.UpdateCom->PortIndex(), 4);
    EXPECT_TRUE(form.UpdateCom->IsOpen());
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(0).Text, "Com5");
    EXPECT_EQ(loose.Baud(), 4800u) << "the line was set up as the session's";
}

TEST_F(PortsStartUp, PortOptionNamingAMissingDeviceGivesExitCode2) {
    WriteConfig(CrLfLines({"Language=0", "AutoStart=YES"}), StandardTextBlock);
    app::TUpdateForm& form = Build(folder.File("ttyGone"));
    EXPECT_EQ(form.ExitCode(), 2);
    EXPECT_FALSE(form.StartTimer->Enabled());
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "COM1 konnte nicht ge\xF6"
                                     "ffnet werden! " +
                                         folder.File("ttyGone") +
                                         ": Ger\xE4t nicht vorhanden (ENOENT)");
}

// A full port map leaves no number for the device --port names: the run
// ends as for a port that cannot be opened, and no other port is touched
// (a port without a number would be COM1, a neighbour's).
TEST_F(PortsStartUp, PortOptionWithoutAFreeNumberOpensNothingAndGivesExitCode2) {
    Link(1, com1);
    folder.Write("stand-in", "");
    for (int number = 2; number <= platform::MaxPorts; ++number) {
        std::filesystem::create_symlink(folder.File("stand-in"),
                                        ports.File("COM" + std::to_string(number)));
    }
    const std::uint32_t com1Baud = com1.Baud();
    WriteConfig(CrLfLines({"Language=0", "AutoStart=YES"}), StandardTextBlock);
    serialtest::Pty loose;
    app::TUpdateForm& form = Build(loose.SlavePath());
    EXPECT_EQ(form.ExitCode(), 2);
    EXPECT_FALSE(form.StartTimer->Enabled());
    EXPECT_FALSE(form.OkBitBtn->Enabled()) << "a session would open a port by number";
    EXPECT_FALSE(form.UpdateCom->IsOpen());
    EXPECT_EQ(form.UpdateCom->GetMaxV24Devices(), 0) << "no port was probed";
    EXPECT_EQ(com1.Baud(), com1Baud) << "COM1 was never set up";
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_NE(dialogs.Boxes[0].Text.find("no free COM number"), std::string::npos)
        << dialogs.Boxes[0].Text;
    EXPECT_EQ(TestView(form).Report().Failure.Cause, dialogs.Boxes[0].Text);
}

TEST_F(PortsStartUp, FixedPortHeldByAnotherProgramNamesItsDeviceAndWhy) {
    LinkThree();
    int holder = ::open(com3.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    WriteConfig(CrLfLines({"Com=3", "Language=1"}), StandardTextBlock);
    app::TUpdateForm& form = Build();
    ::close(holder);
    EXPECT_EQ(form.ExitCode(), 2);
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text,
              "Cannot open COM3! " + ports.File("COM3") + ": in use by another program (EAGAIN)");
    EXPECT_EQ(dialogs.Boxes[0].Caption, "Error");
    const programmers::TFailure& failure = TestView(form).Report().Failure;
    EXPECT_EQ(failure.Step, app::step::StartUp);
    EXPECT_EQ(failure.Cause,
              "cannot open COM3 (" + ports.File("COM3") + "): in use by another program (EAGAIN)");
    EXPECT_EQ(failure.Line, platform::SerialResult::AccessDenied);
    EXPECT_EQ(failure.Errno, EAGAIN);
}

TEST_F(PortsStartUp, PortHeldByAnotherProgramIsLeftOutAndNamedInTheLog) {
    LinkThree();
    int holder = ::open(com3.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    WriteConfig("", StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).PortCount(), 2);
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(0).Text, "[Com1] [4]");
    const std::vector<std::string> memo = MemoLines();
    const std::string note =
        platform::Utf8ToLatin1("Belegt oder ohne Zugriffsrecht, bei der Suche übergangen: COM3");
    EXPECT_NE(std::find(memo.begin(), memo.end(), note), memo.end());
    ::close(holder);
}

TEST_F(PortsStartUp, NoUsablePortOpensNothingAndShowsNoBox) {
    WriteConfig("", StandardTextBlock);
    app::TUpdateForm& form = Build();
    EXPECT_EQ(TestView(form).PortCount(), 0);
    EXPECT_FALSE(form.UpdateCom->IsOpen());
    EXPECT_TRUE(dialogs.Boxes.empty());
}

TEST_F(PortsStartUp, LineErrorMovesTheScanOnAndTheNextTimeOutRepeatsThatRateOnce) {
    Link(1, com1);
    WriteConfig(CrLfLines({"Baud=2,3,4"}), StandardTextBlock);
    platform::Application::Instance().SetTimeDivisor(50);
    app::TUpdateForm& form = Build();
    form.OkBitBtn->Click();
    EXPECT_EQ(TestView(form).SessionState().ScanIndex, 0);
    EXPECT_EQ(com1.Baud(), 4800u);
    platform::Application::Instance().PostMessage(form.Handle(), app::WM_LINE_ERROR, 1, 0);
    platform::Application::Instance().ProcessMessages();
    EXPECT_TRUE(TestView(form).SessionState().LineErrorSeen);
    EXPECT_EQ(TestView(form).SessionState().ScanIndex, 1);
    EXPECT_EQ(com1.Baud(), 9600u);
    TestView(form).Session().OnReplyTimeout();
    EXPECT_EQ(TestView(form).SessionState().ScanIndex, 1)
        << "the time-out after a line error repeats the rate";
    TestView(form).Session().OnReplyTimeout();
    EXPECT_EQ(TestView(form).SessionState().ScanIndex, 2) << "and only once";
    platform::Application::Instance().SetTimeDivisor(1);
    form.FormClose();
}

// An automatic run on a silent line ends by itself; the report names the
// ports and the rates that were tried.
TEST_F(PortsStartUp, ASearchThatFindsNobodyNamesThePortsAndRatesItTried) {
    LinkThree();
    WriteConfig(CrLfLines({"Baud=3,4", "AutoStart=YES"}), StandardTextBlock);
    platform::Application::Instance().SetTimeDivisor(50);
    app::TUpdateForm& form = Build();
    platform::Application::Instance().ProcessMessagesFor(10000);
    platform::Application::Instance().SetTimeDivisor(1);
    ASSERT_TRUE(form.Closed());
    EXPECT_EQ(form.ExitCode(), protocol::exitcode::NoInstrument);
    EXPECT_EQ(TestView(form).Report().Outcome, app::outcome::NoDevice);
    EXPECT_EQ(TestView(form).Report().Failure.Step, app::step::Search);
    EXPECT_EQ(TestView(form).Report().Failure.Cause, "no instrument answered on COM1, COM3, COM4");
    EXPECT_EQ(TestView(form).Report().Failure.Detail, "searched at 9600, 19200 baud");
}

TEST_F(PortsStartUp, ScanSendsTheWakeSequenceAtEveryRate) {
    Link(1, com1);
    WriteConfig(CrLfLines({"Baud=3"}), StandardTextBlock);
    platform::Application::Instance().SetTimeDivisor(50);
    app::TUpdateForm& form = Build();
    form.OkBitBtn->Click();
    EXPECT_EQ(com1.Receive(12, 2000), "\r\n\r\nA.1111\r\n");
    EXPECT_EQ(form.UpdateStatusBar->PanelAt(2).Text, "9600");
    EXPECT_FALSE(form.OkBitBtn->Enabled());
    EXPECT_TRUE(form.WaitPanel->Visible());
    platform::Application::Instance().SetTimeDivisor(1);
    form.FormClose();
}

} // namespace

TEST(PortOpenFailure, LackOfPermissionNamesTheGroupThatOwnsTheDevice) {
    testing_support::TempFolder folder;
    folder.Write("ttyUSB0", "");
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr) {
        GTEST_SKIP() << "no group dialout here";
    }
    ASSERT_EQ(::chown(folder.File("ttyUSB0").c_str(), static_cast<uid_t>(-1), dialout->gr_gid), 0);
    serial::TOpenFailure failure{2, folder.File("ttyUSB0"), platform::SerialResult::AccessDenied,
                                 EACCES};
    EXPECT_EQ(app::OpenFailureText(failure, 1),
              "Cannot open COM3! " + failure.Path +
                  ": permission denied, the device belongs to group dialout (EACCES)");
    EXPECT_EQ(
        app::OpenFailureText(failure, 0),
        "COM3 konnte nicht ge\xF6"
        "ffnet werden! " +
            failure.Path +
            ": keine Zugriffsberechtigung, das Ger\xE4t geh\xF6rt der Gruppe dialout (EACCES)");
    // Held by another program: no group, since joining it would not help.
    failure.Error = EWOULDBLOCK;
    EXPECT_EQ(app::OpenFailureText(failure, 1),
              "Cannot open COM3! " + failure.Path + ": in use by another program (EAGAIN)");
}
