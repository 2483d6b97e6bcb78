#include "FormFixture.h"
#include "app/RetryTable.h"
#include "platform/Application.h"

#include <map>

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
};

struct Expected {
    std::int32_t Event;
    bool InRecoveryFlow;
};

// What OK must repeat after each step's failure: the step itself, never the
// loader of the file class (a lab transfer, Basic-Loader or recovery after a
// successful programming would otherwise meet the wrong side of the line).
const std::map<RetryableStep, Expected> Repeats = {
    {RetryableStep::None, {event::RetryClass1, false}}, // the file class (1) decides
    {RetryableStep::ToolForProgFile1, {event::AcknowledgeAgain, false}},
    {RetryableStep::ToolForProgramFile, {event::ToolStep, false}},
    {RetryableStep::Class1Loader, {event::RetryClass1, false}},
    {RetryableStep::BlockTransfer, {event::StartClass2, false}},
    {RetryableStep::Class4Loader, {event::StartClass4, false}},
    {RetryableStep::LabTransfer, {event::BootloaderFileStep, false}},
    {RetryableStep::BasicLoader, {event::TerminalStep, false}},
    {RetryableStep::LabRecovery, {event::Recovery, true}},
    {RetryableStep::MeterRecovery, {event::AcknowledgeAgain, true}},
};

TEST_F(SessionRetry, OkAfterAFailureRepeatsTheStepThatFailedForEveryRow) {
    for (const app::TRetryRow& row : app::RetryTable()) {
        SCOPED_TRACE(row.Name);
        form->Session.Step = row.Failed;
        form->Session.FileClass = 1;
        // What ran in earlier sessions must not choose the retry.
        form->Session.ToolStepDone = true;
        form->SessionFailed(event::ProgrammingFailed);
        EXPECT_EQ(form->ExitCode, protocol::exitcode::ProgrammingFailed);
        const auto expected = Repeats.find(row.Failed);
        if (expected == Repeats.end()) {
            // No retry: OK starts a new session.
            EXPECT_EQ(row.Retry, app::NoRetry);
            const int sessions = form->Report.Sessions;
            PressOk();
            EXPECT_EQ(form->Report.Sessions, sessions + 1);
            continue;
        }
        const kernel::TEventRec retry = PressOk();
        EXPECT_EQ(retry.Kind, kernel::evMessage);
        EXPECT_EQ(retry.Id, expected->second.Event);
        EXPECT_EQ(form->RecoveryFlowActive(), expected->second.InRecoveryFlow);
        EXPECT_TRUE(form->SessionRunning()) << "a retry runs as a session";
        if (row.FromToolAckStep) {
            EXPECT_EQ(form->Session.AckStep, app::AckStep::RunToolForProgFile1);
        }
        form->LeaveRecoveryFlow();
    }
}

TEST_F(SessionRetry, AFailedBootloaderFileOffersNoRetry) {
    form->Session.Step = RetryableStep::BootFileLoader;
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
