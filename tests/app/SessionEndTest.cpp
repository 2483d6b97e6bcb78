// How a session's end reaches the report: the step and a cause that names
// what failed, for the failures the application finds itself.
#include "FormFixture.h"
#include "platform/Application.h"

namespace {

using testing_support::CrLfLines;
using testing_support::DeviceBlock;
using testing_support::StandardTextBlock;
namespace event = protocol::event;

// A window without ports whose sequencer the tests drive by hand.
class SessionEnd : public testing_support::FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        platform::Application::Instance().SetTimeDivisor(1000);
        WriteConfig(CrLfLines({"Language=0"}),
                    StandardTextBlock + "\r\n" + DeviceBlock("43110", "DM10.TXT"));
    }
    void TearDown() override {
        FormFixture::TearDown();
        platform::Application::Instance().SetTimeDivisor(1);
    }
    // The identification of a session has just ended with this device number.
    bool Check(const std::string& deviceNr) {
        TestView(*form).Session().BeginNewSession();
        TestView(*form).Session().State().Job.Ident.DeviceNr = deviceNr;
        TestView(*form).Session().Report().Step = app::step::Check;
        return TestView(*form).Session().CheckDevice();
    }
    const programmers::TFailure& Failure() const { return TestView(*form).Report().Failure; }
    // OK after a failure: its retry goes on with the session; the retry's
    // acknowledge finds the session done and takes no step of its own.
    void PressOk() {
        TestView(*form).Session().State().FileClass = 0;
        TestView(*form).Session().State().Done = true;
        TestView(*form).EventQueue().PostKey(event::KeyStart);
        TestView(*form).ProcessEvents();
    }
};

TEST_F(SessionEnd, AFileTheEntryNamesThatCannotBeTakenIsNamedWithItsPathAndWhy) {
    Build();
    EXPECT_FALSE(Check("43110.000"));
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(TestView(*form).Report().Outcome, app::outcome::Failed);
    EXPECT_EQ(Failure().Step, app::step::Check);
    EXPECT_EQ(Failure().Cause, folder.File("DM10.TXT") + ": not found");

    folder.Write("dm10.txt", "");
    folder.Write("Dm10.Txt", "");
    Build();
    EXPECT_FALSE(Check("43110.000"));
    EXPECT_EQ(Failure().Cause,
              folder.File("DM10.TXT") + ": several files differ only in case: Dm10.Txt, dm10.txt");
}

TEST_F(SessionEnd, TheCheckNamesWhyTheInstrumentDoesNotFitTheEntry) {
    folder.Write("DM10.TXT", "@1000\r\n00\r\nq\r\n");
    Build();
    EXPECT_FALSE(Check("55555"));
    EXPECT_EQ(TestView(*form).Report().Outcome, app::outcome::WrongDevice);
    EXPECT_EQ(Failure().Step, app::step::Check);
    EXPECT_EQ(Failure().Cause, "device number 55555 matches no entry of ProgDevice.ini");
}

// After programming, silence first asks the new firmware, then fails the
// session at the restart step. A later ending of the same session changes
// nothing of that; the retry offered must not report the old cause when it
// fails without one, nor any cause once it succeeds.
TEST_F(SessionEnd, ASilentInstrumentAfterProgrammingIsNamedAndItsCauseServesOneEnding) {
    Build();
    TestView(*form).Session().BeginNewSession();
    TestView(*form).Session().AwaitInstrumentAfterProgramming();
    TestView(*form).Session().OnRestartTimeout(); // asks
    TestView(*form).Session().OnRestartTimeout(); // gives up
    TestView(*form).ProcessEvents();
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(TestView(*form).Report().FailedStep, app::step::Restart);
    EXPECT_EQ(Failure().Step, app::step::Restart);
    EXPECT_EQ(Failure().Cause, "no report from the new firmware within 30000 ms");
    EXPECT_EQ(Failure().Detail, "asked with A.1000 after 6000 ms");
    EXPECT_EQ(MemoLines().back(), "Abbruch") << "the closing text comes with the end";

    TestView(*form).Session().State().LastFailure.Cause = "a consequence of the first";
    TestView(*form).Session().PostEvent(event::ProgrammingFailed);
    TestView(*form).ProcessEvents();
    TestView(*form).Session().FinishSession(false);
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(TestView(*form).Report().Outcome, app::outcome::Failed);
    EXPECT_EQ(Failure().Cause, "no report from the new firmware within 30000 ms");
    EXPECT_EQ(MemoLines().back(), "a consequence of the first") << "logged, and no more";

    PressOk();
    TestView(*form).Session().SessionFailed(event::ProgrammingFailed);
    EXPECT_EQ(TestView(*form).Report().Outcome, app::outcome::Failed);
    EXPECT_TRUE(Failure().Empty()) << Failure().Cause;

    PressOk();
    TestView(*form).Session().State().Finishing = false;
    TestView(*form).Session().FinishSession(false);
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::Success);
    EXPECT_EQ(TestView(*form).Report().Outcome, app::outcome::Updated);
    EXPECT_TRUE(Failure().Empty()) << Failure().Cause;
}

// Closed while the session ran: the run stays aborted with that cause,
// whatever the winding down of the session reports afterwards.
TEST_F(SessionEnd, AnAbortKeepsItsCauseAgainstLaterEndings) {
    Build();
    TestView(*form).Session().BeginNewSession();
    TestView(*form).Session().Report().Step = app::step::Transfer;
    form->FormClose();
    ASSERT_EQ(TestView(*form).Report().Outcome, app::outcome::Aborted);
    EXPECT_EQ(Failure().Step, app::step::Transfer);
    EXPECT_EQ(Failure().Cause, "closed while the session ran");
    TestView(*form).Session().State().LastFailure.Cause = "COM1 (/dev/pts/9): read: hung up (EIO)";
    TestView(*form).Session().SessionFailed(event::ProgrammingFailed);
    EXPECT_EQ(TestView(*form).Report().Outcome, app::outcome::Aborted);
    EXPECT_EQ(Failure().Cause, "closed while the session ran");
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
}

} // namespace
