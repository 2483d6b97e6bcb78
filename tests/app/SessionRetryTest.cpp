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
        form->EventQueue().PostKey(event::KeyStart);
        form->EventQueue().DispatchEvent(form->EventQueue().GetEvent());
        return form->EventQueue().GetEvent();
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
         f.Session().StateForTest().ProgFile1 = "SENSOR.HEX";
         f.Session().StateForTest().AckStep = app::AckStep::RunToolForProgFile1;
         f.Session().PostEvent(event::AcknowledgeAgain);
     }},
    {RetryableStep::ToolForProgramFile,
     [](app::TUpdateForm& f) { f.Session().PostEvent(event::ToolStep); }},
    {RetryableStep::Class1Loader,
     [](app::TUpdateForm& f) { f.Session().PostEvent(event::StartClass1); }},
    {RetryableStep::BlockTransfer,
     [](app::TUpdateForm& f) { f.Session().PostEvent(event::StartClass2); }},
    {RetryableStep::Class4Loader,
     [](app::TUpdateForm& f) { f.Session().PostEvent(event::StartClass4); }},
    {RetryableStep::LabTransfer,
     [](app::TUpdateForm& f) {
         f.Session().StateForTest().SensorNotice = true;
         f.Session().StateForTest().Job.ProgFiles = {"LAB.DAT"};
         f.Session().PostEvent(event::BootloaderFileStep);
     }},
    {RetryableStep::BasicLoader,
     [](app::TUpdateForm& f) { f.Session().PostEvent(event::TerminalStep); }},
};

// Each step fails as it would in a session; OK must run that same step
// again (it fails again here), whatever ran before it.
TEST_F(SessionRetry, OkAfterAStepFailedRunsThatStepAgain) {
    for (const FailingStep& failing : FailingSteps) {
        SCOPED_TRACE(app::RetryRowOf(failing.Step).Name);
        form->Session().StateForTest().Begin();
        form->Session().StateForTest().ProgFile1.clear();
        form->Session().StateForTest().FileClass = 5;
        form->Session().StateForTest().Job.Ident.DevSw = 100;
        form->Session().StateForTest().Job.Ident.FileSw = 200; // an update is due
        failing.Start(*form);
        form->ProcessEvents();
        ASSERT_EQ(form->SessionState().RetryStep, failing.Step) << "the step says it ran";
        ASSERT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
        const int retries = form->Report().Retries;
        form->Session().StateForTest().AckStep = app::AckStep::Ignore;
        form->EventQueue().PostKey(event::KeyStart);
        form->ProcessEvents();
        EXPECT_EQ(form->Report().Retries, retries + 1);
        EXPECT_EQ(form->SessionState().RetryStep, failing.Step) << "OK ran another step";
    }
}

// Every step with a retry of its own is failed above or end to end.
TEST_F(SessionRetry, EveryRowOfTheTableIsExercised) {
    for (const app::TRetryRow& row : app::RetryTable()) {
        const bool here = std::any_of(std::begin(FailingSteps), std::end(FailingSteps),
                                      [&](const FailingStep& f) { return f.Step == row.Failed; });
        // The step after a transfer whose line died: TransferEndingTest.
        const bool elsewhere = row.Failed == RetryableStep::None || row.InRecoveryFlow ||
                               row.Failed == RetryableStep::BootFileLoader ||
                               row.Failed == RetryableStep::Restart;
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
    form->Session().StateForTest().AnswerChar = 'Q';
    form->Session().StateForTest().BootAnswer = true;
    form->LabXXXClick(nullptr);
    form->ProcessEvents();
    ASSERT_TRUE(Log().find(loader5xx) != std::string::npos) << Log();
    // The search after the recovery found nobody.
    form->Session().StateForTest().Begin();
    form->Session().StateForTest().RecoveredBy = RetryableStep::LabRecovery;
    form->Session().RecoveredInstrumentSilent();
    form->ProcessEvents();
    form->UpdateMemo->Clear();
    form->EventQueue().PostKey(event::KeyStart);
    form->ProcessEvents();
    EXPECT_NE(Log().find(loader5xx), std::string::npos) << Log();
    EXPECT_EQ(form->SessionState().RetryStep, RetryableStep::LabRecovery);
}

TEST_F(SessionRetry, AFailedBootloaderFileOffersNoRetry) {
    form->Session().StateForTest().RetryStep = RetryableStep::BootFileLoader;
    form->Session().SessionFailed(event::BootFileFailed);
    const int sessions = form->Report().Sessions;
    PressOk();
    EXPECT_EQ(form->Report().Sessions, sessions + 1) << "OK starts a new session";
}

// A sensor session ran in mode 2; the next one wakes the configured way.
TEST_F(SessionRetry, TheNextSessionStartsInTheConfiguredStartMode) {
    form->SetStartModeForTest(4);
    form->Session().StateForTest().StartMode = 2;
    form->EventQueue().PostKey(event::KeyStart);
    form->ProcessEvents();
    EXPECT_EQ(form->SessionState().StartMode, 4);
    EXPECT_EQ(form->Session().WakeCommand(), protocol::command::WakeService);
}

} // namespace
