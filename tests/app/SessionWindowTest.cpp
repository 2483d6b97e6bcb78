// The session against a window of the test's own: everything it shows goes
// through TSessionWindow, and its outcome stays its own.
#include "../support/ScriptedDialogs.h"
#include "../support/UpdateSessionTestView.h"
#include "app/FailureCauses.h"
#include "app/UpdateSession.h"

#include <gtest/gtest.h>

namespace {

class RecordingWindow : public app::TSessionWindow {
public:
    std::vector<std::string> Lines;
    bool OkEnabled = true;
    bool WaitPanelVisible = false;
    bool CloseAsked = false;

    void ShowLine(const std::string& text) override { Lines.push_back(text); }
    void ClearLog() override { Lines.clear(); }
    void ShowIdentityField(app::IdentityField, const std::string&) override {}
    void ShowLoaderVersion(const std::string&) override {}
    void EnableOk(bool enabled) override { OkEnabled = enabled; }
    void EnableRecoveryMenu(bool) override {}
    void ShowStatusPanel(int, const std::string&) override {}
    void ShowWaitPanel(bool visible) override { WaitPanelVisible = visible; }
    void RunWaitBar(bool) override {}
    void SetProgressMaximum(int, programmers::ProgressUnit) override {}
    void SetProgressPosition(int) override {}
    void AdvanceProgress(int) override {}
    void AdvanceProgressBar(int) override {}
    std::string ShowTitleProgress(const std::string&, double) override { return {}; }
    void ShowTitleState(programmers::TitleState) override {}
    void RunTitleProgress(bool) override {}
    kernel::TEventRec ProcessEvents() override { return kernel::TEvents::ClearEvent(); }
    serial::TDelay& Wait() override { return delay_; }
    platform::HWND Handle() const override { return 0; }
    void Close() override { CloseAsked = true; }
    bool Closed() const override { return CloseAsked; }

private:
    serial::TDelay delay_{nullptr, "wait"};
};

class SessionWindow : public ::testing::Test {
protected:
    app::StartOptions options;
    app::Settings config;
    std::vector<app::DeviceRow> devices;
    std::vector<std::string> files;
    int startMode = 0;
    bool closeOnInfo = false;
    std::string abortD = "Abbruch bei NAME", abortE = "Abort at NAME";
    programmers::TPressureTable pressures;
    std::string anyFile;
    bool anyFileMode = false;
    std::array<serial::TComPort*, app::MaxPorts> ports{};
    int portCount = 0;
    std::array<int, app::MaxPorts> portNumbers{};
    kernel::TEvents events;
    kernel::TTimerPool timers;
    testing_support::ScriptedDialogs dialogs;
    RecordingWindow window;
    app::UpdateSession session{window,
                               {options, config, devices, files, startMode, closeOnInfo, abortD,
                                abortE, pressures, anyFile, anyFileMode, ports, portCount,
                                portNumbers, events, timers},
                               dialogs};
};

TEST_F(SessionWindow, TheEndShowsItsClosingTextThroughTheWindowAndKeepsTheOutcome) {
    TestView(session).BeginNewSession();
    EXPECT_FALSE(window.OkEnabled) << "a session holds OK until it ends";
    session.End(app::Outcome::Failed, app::FailureAt(app::step::Transfer, "line hung up"));
    ASSERT_FALSE(window.Lines.empty());
    EXPECT_NE(window.Lines.back().find("Abbruch bei "), std::string::npos) << window.Lines.back();
    EXPECT_EQ(window.Lines.back().find("NAME"), std::string::npos) << "the text is expanded";
    EXPECT_EQ(session.ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(session.Report().Outcome, app::outcome::Failed);
    EXPECT_EQ(session.Report().Failure.Cause, "line hung up");

    config.Language = 1;
    TestView(session).BeginNewSession(); // in the same session the first ending would stand
    session.End(app::Outcome::Updated);
    EXPECT_EQ(session.ExitCode(), protocol::exitcode::Success);
    EXPECT_EQ(window.Lines.back(),
              session.ExpandText(app::MessageText(app::Msg::DownloadSuccessful, 1)));
    EXPECT_FALSE(window.CloseAsked) << "ending a session does not close the program";
}

TEST_F(SessionWindow, BoxesShownThroughTheSessionAreNotedInItsReport) {
    session.Boxes().MessageBox("text", "caption", platform::MB_OK);
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    ASSERT_EQ(session.Report().Boxes.size(), 1u);
    EXPECT_EQ(session.Report().Boxes[0].Text, "text");
    EXPECT_EQ(session.SessionComPort(), nullptr) << "no instrument has answered";
}

} // namespace
