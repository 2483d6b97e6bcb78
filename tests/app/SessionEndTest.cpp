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
        form->Session().BeginNewSession();
        form->Session().StateForTest().Job.Ident.DeviceNr = deviceNr;
        form->Session().ReportForTest().Step = app::step::Check;
        return form->Session().CheckDevice();
    }
    const programmers::TFailure& Failure() const { return form->Report().Failure; }
    // OK after a failure: its retry goes on with the session; the retry's
    // acknowledge finds the session done and takes no step of its own.
    void PressOk() {
        form->Session().StateForTest().FileClass = 0;
        form->Session().StateForTest().Done = true;
        form->EventQueue().PostKey(event::KeyStart);
        form->ProcessEvents();
    }
};

TEST_F(SessionEnd, AFileTheEntryNamesThatCannotBeTakenIsNamedWithItsPathAndWhy) {
    Build();
    EXPECT_FALSE(Check("43110.000"));
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(form->Report().Outcome, app::outcome::Failed);
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
    EXPECT_EQ(form->Report().Outcome, app::outcome::WrongDevice);
    EXPECT_EQ(Failure().Step, app::step::Check);
    EXPECT_EQ(Failure().Cause, "device number 55555 matches no entry of ProgDevice.ini");
}

// After programming, silence first asks the new firmware, then fails the
// session at the restart step. A later ending of the same session changes
// nothing of that; the retry offered must not report the old cause when it
// fails without one, nor any cause once it succeeds.
TEST_F(SessionEnd, ASilentInstrumentAfterProgrammingIsNamedAndItsCauseServesOneEnding) {
    Build();
    form->Session().BeginNewSession();
    form->Session().AwaitInstrumentAfterProgramming();
    form->Session().OnRestartTimeout(); // asks
    form->Session().OnRestartTimeout(); // gives up
    form->ProcessEvents();
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(form->Report().FailedStep, app::step::Restart);
    EXPECT_EQ(Failure().Step, app::step::Restart);
    EXPECT_EQ(Failure().Cause, "no report from the new firmware within 30000 ms");
    EXPECT_EQ(Failure().Detail, "asked with A.1000 after 6000 ms");
    EXPECT_EQ(MemoLines().back(), "Abbruch") << "the closing text comes with the end";

    form->Session().StateForTest().LastFailure.Cause = "a consequence of the first";
    form->Session().PostEvent(event::ProgrammingFailed);
    form->ProcessEvents();
    form->Session().FinishSession(false);
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(form->Report().Outcome, app::outcome::Failed);
    EXPECT_EQ(Failure().Cause, "no report from the new firmware within 30000 ms");
    EXPECT_EQ(MemoLines().back(), "a consequence of the first") << "logged, and no more";

    PressOk();
    form->Session().SessionFailed(event::ProgrammingFailed);
    EXPECT_EQ(form->Report().Outcome, app::outcome::Failed);
    EXPECT_TRUE(Failure().Empty()) << Failure().Cause;

    PressOk();
    form->Session().StateForTest().Finishing = false;
    form->Session().FinishSession(false);
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::Success);
    EXPECT_EQ(form->Report().Outcome, app::outcome::Updated);
    EXPECT_TRUE(Failure().Empty()) << Failure().Cause;
}

// Closed while the session ran: the run stays aborted with that cause,
// whatever the winding down of the session reports afterwards.
TEST_F(SessionEnd, AnAbortKeepsItsCauseAgainstLaterEndings) {
    Build();
    form->Session().BeginNewSession();
    form->Session().ReportForTest().Step = app::step::Transfer;
    form->FormClose();
    ASSERT_EQ(form->Report().Outcome, app::outcome::Aborted);
    EXPECT_EQ(Failure().Step, app::step::Transfer);
    EXPECT_EQ(Failure().Cause, "closed while the session ran");
    form->Session().StateForTest().LastFailure.Cause = "COM1 (/dev/pts/9): read: hung up (EIO)";
    form->Session().SessionFailed(event::ProgrammingFailed);
    EXPECT_EQ(form->Report().Outcome, app::outcome::Aborted);
    EXPECT_EQ(Failure().Cause, "closed while the session ran");
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
}

} // namespace
