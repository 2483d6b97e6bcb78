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
        TestView(*form).EventQueue().PostKey(event::KeyStart);
        TestView(*form).EventQueue().DispatchEvent(TestView(*form).EventQueue().GetEvent());
        return TestView(*form).EventQueue().GetEvent();
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
         TestView(f).Session().State().ProgFile1 = "SENSOR.HEX";
         TestView(f).Session().State().AckStep = app::AckStep::RunToolForProgFile1;
         TestView(f).Session().PostEvent(event::AcknowledgeAgain);
     }},
    {RetryableStep::ToolForProgramFile,
     [](app::TUpdateForm& f) { TestView(f).Session().PostEvent(event::ToolStep); }},
    {RetryableStep::Class1Loader,
     [](app::TUpdateForm& f) { TestView(f).Session().PostEvent(event::StartClass1); }},
    {RetryableStep::BlockTransfer,
     [](app::TUpdateForm& f) { TestView(f).Session().PostEvent(event::StartClass2); }},
    {RetryableStep::Class4Loader,
     [](app::TUpdateForm& f) { TestView(f).Session().PostEvent(event::StartClass4); }},
    {RetryableStep::LabTransfer,
     [](app::TUpdateForm& f) {
         TestView(f).Session().State().SensorNotice = true;
         TestView(f).Session().State().Job.ProgFiles = {"LAB.DAT"};
         TestView(f).Session().PostEvent(event::BootloaderFileStep);
     }},
    {RetryableStep::BasicLoader,
     [](app::TUpdateForm& f) { TestView(f).Session().PostEvent(event::TerminalStep); }},
};

// Each step fails as it would in a session; OK must run that same step
// again (it fails again here), whatever ran before it.
TEST_F(SessionRetry, OkAfterAStepFailedRunsThatStepAgain) {
    for (const FailingStep& failing : FailingSteps) {
        SCOPED_TRACE(app::RetryRowOf(failing.Step).Name);
        TestView(*form).Session().State().Begin();
        TestView(*form).Session().State().ProgFile1.clear();
        TestView(*form).Session().State().FileClass = 5;
        TestView(*form).Session().State().Job.Ident.DevSw = 100;
        TestView(*form).Session().State().Job.Ident.FileSw = 200; // an update is due
        failing.Start(*form);
        TestView(*form).ProcessEvents();
        ASSERT_EQ(TestView(*form).SessionState().RetryStep, failing.Step) << "the step says it ran";
        ASSERT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
        const int retries = TestView(*form).Report().Retries;
        TestView(*form).Session().State().AckStep = app::AckStep::Ignore;
        TestView(*form).EventQueue().PostKey(event::KeyStart);
        TestView(*form).ProcessEvents();
        EXPECT_EQ(TestView(*form).Report().Retries, retries + 1);
        EXPECT_EQ(TestView(*form).SessionState().RetryStep, failing.Step) << "OK ran another step";
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
    TestView(*form).Session().State().AnswerChar = 'Q';
    TestView(*form).Session().State().BootAnswer = true;
    TestView(*form).LabXXXClick(nullptr);
    TestView(*form).ProcessEvents();
    ASSERT_TRUE(Log().find(loader5xx) != std::string::npos) << Log();
    // The search after the recovery found nobody.
    TestView(*form).Session().State().Begin();
    TestView(*form).Session().State().RecoveredBy = RetryableStep::LabRecovery;
    TestView(*form).Session().RecoveredInstrumentSilent();
    TestView(*form).ProcessEvents();
    form->UpdateMemo->Clear();
    TestView(*form).EventQueue().PostKey(event::KeyStart);
    TestView(*form).ProcessEvents();
    EXPECT_NE(Log().find(loader5xx), std::string::npos) << Log();
    EXPECT_EQ(TestView(*form).SessionState().RetryStep, RetryableStep::LabRecovery);
}

TEST_F(SessionRetry, AFailedBootloaderFileOffersNoRetry) {
    TestView(*form).Session().State().RetryStep = RetryableStep::BootFileLoader;
    TestView(*form).Session().SessionFailed(event::BootFileFailed);
    const int sessions = TestView(*form).Report().Sessions;
    PressOk();
    EXPECT_EQ(TestView(*form).Report().Sessions, sessions + 1) << "OK starts a new session";
}

// An updated session stays so: a failure that comes after its end (a step
// it left behind, say) offers no retry of a transfer that succeeded.
TEST_F(SessionRetry, ASessionDecidedAsUpdatedOffersNoRetry) {
    TestView(*form).Session().BeginNewSession();
    TestView(*form).Session().State().RetryStep = RetryableStep::Class1Loader;
    TestView(*form).Session().FinishSession(false);
    ASSERT_EQ(TestView(*form).Report().Outcome, app::outcome::Updated);
    TestView(*form).Session().SessionFailed(event::ProgrammingFailed);
    EXPECT_EQ(TestView(*form).Report().Outcome, app::outcome::Updated);
    const int sessions = TestView(*form).Report().Sessions;
    const int retries = TestView(*form).Report().Retries;
    PressOk();
    EXPECT_EQ(TestView(*form).Report().Retries, retries) << "the loader was offered again";
    EXPECT_EQ(TestView(*form).Report().Sessions, sessions + 1) << "OK starts a new session";
}

// With nothing to transfer, the block-transfer step is its clock alone:
// silence there fails that step as it was, and OK runs it again (the
// clock in its day form), not a resume of a transfer that never ran.
TEST_F(SessionRetry, SilenceAtTheClockWithNothingToTransferRetriesTheStep) {
    app::TSessionState& state = TestView(*form).Session().State();
    state.Begin();
    state.FileClass = 2;
    state.Job.Ident.DevSw = state.Job.Ident.FileSw = 200;
    TestView(*form).Session().PostEvent(event::StartClass2);
    TestView(*form).ProcessEvents();
    ASSERT_TRUE(TestView(*form).SessionState().AwaitingClockAck);
    TestView(*form).Session().OnRestartTimeout();
    TestView(*form).ProcessEvents();
    ASSERT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(TestView(*form).Report().FailedStep, app::step::Restart);
    EXPECT_EQ(TestView(*form).SessionState().RetryStep, RetryableStep::BlockTransfer);

    const int retries = TestView(*form).Report().Retries;
    TestView(*form).EventQueue().PostKey(event::KeyStart);
    TestView(*form).ProcessEvents();
    EXPECT_EQ(TestView(*form).Report().Retries, retries + 1);
    EXPECT_TRUE(TestView(*form).SessionState().AwaitingRestart &&
                TestView(*form).SessionState().AwaitingClockAck)
        << "no clock awaits its acknowledge: " << Log();
    EXPECT_FALSE(TestView(*form).SessionState().Clock.SecondsForm);
    EXPECT_EQ(TestView(*form).SessionState().RetryStep, RetryableStep::BlockTransfer);
}

// A sensor session ran in mode 2; the next one wakes the configured way.
TEST_F(SessionRetry, TheNextSessionStartsInTheConfiguredStartMode) {
    TestView(*form).SetStartModeAsRead(4);
    TestView(*form).Session().State().StartMode = 2;
    TestView(*form).EventQueue().PostKey(event::KeyStart);
    TestView(*form).ProcessEvents();
    EXPECT_EQ(TestView(*form).SessionState().StartMode, 4);
    EXPECT_EQ(TestView(*form).Session().WakeCommand(), protocol::command::WakeService);
}

} // namespace
