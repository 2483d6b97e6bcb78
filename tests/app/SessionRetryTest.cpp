#include "FormFixture.h"
#include "app/RetryTable.h"
#include "platform/Application.h"
#include "programmers/ProgrammerRegistry.h"

#include <algorithm>

namespace {

using app::RetryableStep;
using testing_support::CrLfLines;
using testing_support::StandardTextBlock;
namespace event = protocol::event;

// A window without ports: the tests drive its sequencer by hand.
class SessionRetry : public testing_support::FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        platform::Application::Instance().SetTimeDivisor(1000);
        WriteConfig(CrLfLines({"Language=0"}), StandardTextBlock);
        Build();
    }
    void TearDown() override {
        FormFixture::TearDown();
        platform::Application::Instance().SetTimeDivisor(1);
    }
    // OK after the failure: the event the retry handler posts, not yet run.
    kernel::TEventRec PressOk() {
        form->Events.PostKey(event::KeyStart);
        form->Events.DispatchEvent(form->Events.GetEvent());
        return form->Events.GetEvent();
    }
    std::string Log() const {
        std::string text;
        for (const std::string& line : MemoLines()) {
            text += line + "\n";
        }
        return text;
    }
};

// How each step is made to fail here: the window has no port, so every
// programmer fails to start, and file class 5 has no external tool.
struct FailingStep {
    RetryableStep Step;
    void (*Start)(app::TUpdateForm&);
};

const FailingStep FailingSteps[] = {
    {RetryableStep::ToolForProgFile1,
     [](app::TUpdateForm& f) {
         f.Session.ProgFile1 = "SENSOR.HEX";
         f.Session.AckStep = app::AckStep::RunToolForProgFile1;
         f.PostEvent(event::AcknowledgeAgain);
     }},
    {RetryableStep::ToolForProgramFile, [](app::TUpdateForm& f) { f.PostEvent(event::ToolStep); }},
    {RetryableStep::Class1Loader, [](app::TUpdateForm& f) { f.PostEvent(event::StartClass1); }},
    {RetryableStep::BlockTransfer, [](app::TUpdateForm& f) { f.PostEvent(event::StartClass2); }},
    {RetryableStep::Class4Loader, [](app::TUpdateForm& f) { f.PostEvent(event::StartClass4); }},
    {RetryableStep::LabTransfer,
     [](app::TUpdateForm& f) {
         f.Session.SensorNotice = true;
         f.Session.Job.ProgFiles = {"LAB.DAT"};
         f.PostEvent(event::BootloaderFileStep);
     }},
    {RetryableStep::BasicLoader, [](app::TUpdateForm& f) { f.PostEvent(event::TerminalStep); }},
};

// Each step fails as it would in a session; OK must run that same step
// again (it fails again here), whatever ran before it.
TEST_F(SessionRetry, OkAfterAStepFailedRunsThatStepAgain) {
    for (const FailingStep& failing : FailingSteps) {
        SCOPED_TRACE(app::RetryRowOf(failing.Step).Name);
        form->Session.Begin();
        form->Session.ProgFile1.clear();
        form->Session.FileClass = 5;
        form->Session.Job.Ident.DevSw = 100;
        form->Session.Job.Ident.FileSw = 200; // an update is due
        failing.Start(*form);
        form->ProcessEvents();
        ASSERT_EQ(form->Session.RetryStep, failing.Step) << "the step says it ran";
        ASSERT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
        const int retries = form->Report.Retries;
        form->Session.AckStep = app::AckStep::Ignore;
        form->Events.PostKey(event::KeyStart);
        form->ProcessEvents();
        EXPECT_EQ(form->Report.Retries, retries + 1);
        EXPECT_EQ(form->Session.RetryStep, failing.Step) << "OK ran another step";
    }
}

// Every step with a retry of its own is failed above or end to end.
TEST_F(SessionRetry, EveryRowOfTheTableIsExercised) {
    for (const app::TRetryRow& row : app::RetryTable()) {
        const bool here = std::any_of(std::begin(FailingSteps), std::end(FailingSteps),
                                      [&](const FailingStep& f) { return f.Step == row.Failed; });
        const bool elsewhere = row.Failed == RetryableStep::None || row.InRecoveryFlow ||
                               row.Failed == RetryableStep::BootFileLoader;
        EXPECT_TRUE(here || elsewhere) << row.Name;
    }
}

// A lab instrument answering "Q" is recovered as entry 1 through the 5xx
// loader. When its restarted firmware is not found again, the search has
// cleared the job; OK must still run the 5xx loader, not the ROM loader.
TEST_F(SessionRetry, ARecoveryRetriedAfterTheSearchRunsTheSameLoader) {
    folder.Write("ProgDevice.ini", StandardTextBlock + "\r\n" +
                                       testing_support::DeviceBlock("43110", "DM10.TXT") + "\r\n" +
                                       testing_support::DeviceBlock("43140", "LAB.TXT"));
    std::string lab = folder.Read("ProgDevice.ini");
    const std::size_t second = lab.rfind("ProzTyp=1");
    lab.replace(second, 9, "ProzTyp=5438");
    folder.Write("ProgDevice.ini", lab);
    folder.Write("LAB.TXT", "@5C00\r\n00 5C\r\nq\r\n");
    folder.Write("LABXXX.TXT", "@5C00\r\n00 5C\r\nq\r\n");
    Build();
    const std::string loader5xx = programmers::MethodEntry(programmers::Method::Bsl5xx).Description;
    // The file's version cannot be read: the operator goes on, twice.
    dialogs.Answers = {platform::IDYES, platform::IDYES};
    form->Session.AnswerChar = 'Q';
    form->Session.BootAnswer = true;
    form->LabXXXClick(nullptr);
    form->ProcessEvents();
    ASSERT_TRUE(Log().find(loader5xx) != std::string::npos) << Log();
    // The search after the recovery found nobody.
    form->Session.Begin();
    form->Session.RecoveredBy = RetryableStep::LabRecovery;
    form->RecoveredInstrumentSilent();
    form->ProcessEvents();
    form->UpdateMemo->Clear();
    form->Events.PostKey(event::KeyStart);
    form->ProcessEvents();
    EXPECT_NE(Log().find(loader5xx), std::string::npos) << Log();
    EXPECT_EQ(form->Session.RetryStep, RetryableStep::LabRecovery);
}

TEST_F(SessionRetry, AFailedBootloaderFileOffersNoRetry) {
    form->Session.RetryStep = RetryableStep::BootFileLoader;
    form->SessionFailed(event::BootFileFailed);
    const int sessions = form->Report.Sessions;
    PressOk();
    EXPECT_EQ(form->Report.Sessions, sessions + 1) << "OK starts a new session";
}

// A sensor session ran in mode 2; the next one wakes the configured way.
TEST_F(SessionRetry, TheNextSessionStartsInTheConfiguredStartMode) {
    form->StartModeAsRead = 4;
    form->Session.StartMode = 2;
    form->Events.PostKey(event::KeyStart);
    form->ProcessEvents();
    EXPECT_EQ(form->Session.StartMode, 4);
    EXPECT_EQ(form->WakeCommand(), protocol::command::WakeService);
}

} // namespace
