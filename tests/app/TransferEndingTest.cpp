// How a transfer's own end reaches the session's: a line that dies once the
// transfer is complete, an abort by Escape, and a line failure that is late.
// The instrument is a thread on a pseudo-terminal's master; the transfer a
// method of this file's own.

#include "../serial/Pty.h"
#include "../support/UpdateFormTestView.h"
#include "FormFixture.h"
#include "programmers/ProgrammerRegistry.h"
#include "programmers/Programmerunit.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::CrLfLines;
using testing_support::DeviceBlock;
using testing_support::StandardTextBlock;
namespace event = protocol::event;
using Clock = std::chrono::steady_clock;

constexpr unsigned TimeDivisor = 10;
// The loader's wait after its transfer, long enough for a hang-up right
// after the transfer to strike inside it.
constexpr long EndWaitMs = 10000;

// "G" starts the loader's transfer and "D" says it is complete and
// verified; the programmer then starts the firmware with "R".
// With TransferLine set it switches the line to 38400 8E1 for the transfer
// and sets it back at its end, as the loaders do.
class TGoProgrammer : public programmers::TProgrammerTyp {
public:
    using TProgrammerTyp::TProgrammerTyp;
    static inline int Runs = 0;
    static inline bool TransferLine = false;
    // The baud rate the port held as each run began.
    static inline std::vector<unsigned long> StartBauds;

    static std::unique_ptr<programmers::TProgrammerTyp>
    Create(const programmers::TProgrammerContext& context, const programmers::TMethodSettings&) {
        ++Runs;
        return std::make_unique<TGoProgrammer>(context);
    }
    programmers::TProgrammerResult Program(const std::string&) override {
        StartBauds.push_back(Port.LoadV24Parameter().BaudRate);
        BeginRun(20000);
        if (TransferLine) {
            Port.ChangeV24Parameter(serial::B_38400, serial::S_1, serial::Even, false);
        }
        if (WriteText("G\r")) {
            PumpUntil();
        }
        if (TransferLine) {
            Port.LoadLastV24Parameter();
        }
        EndRun(EndWaitMs);
        return RunResult();
    }

protected:
    void Abort() override { Fail("aborted"); }
    void OnWatchdog() override { Fail(Silence("go loader: no answer")); }
    bool OnCharsReceived(std::intptr_t) override {
        std::uint8_t buffer[64];
        for (int count; (count = ReadBytes(buffer, sizeof buffer)) > 0;) {
            received_.append(reinterpret_cast<const char*>(buffer),
                             static_cast<std::size_t>(count));
        }
        if (Finished == 0 && received_.find("D\r\n") != std::string::npos) {
            Succeed();
            WriteText("R\r");
        }
        return true;
    }

private:
    std::string received_;
};

bool ServesFirmware(const programmers::TSessionKey& key) {
    return key.Step == programmers::Phase::Firmware ||
           key.Step == programmers::Phase::FirmwareInLoader;
}

constexpr programmers::TMethodEntry GoRow = {
    programmers::Method::Added, "GoLoader", "go loader", &ServesFirmware, nullptr,
    &TGoProgrammer::Create};

// A lab instrument's loader takes its recovery the same way.
bool ServesLabRecovery(const programmers::TSessionKey& key) {
    return key.Step == programmers::Phase::LabRecovery;
}

constexpr programmers::TMethodEntry GoRecoveryRow = {
    programmers::Method::Added, "GoRecovery", "go recovery",
    &ServesLabRecovery,         nullptr,      &TGoProgrammer::Create};

// An external tool that claims success: it takes the port over and gives it
// back, as a tool does, and programs nothing the session could see.
class TClaimingTool : public programmers::TProgrammerTyp {
public:
    using TProgrammerTyp::TProgrammerTyp;
    static inline int Runs = 0;
    static inline std::function<void()> OnRun; // as the tool starts

    static std::unique_ptr<programmers::TProgrammerTyp>
    Create(const programmers::TProgrammerContext& context, const programmers::TMethodSettings&) {
        return std::make_unique<TClaimingTool>(context);
    }
    programmers::TProgrammerResult Program(const std::string&) override {
        ++Runs;
        if (OnRun) {
            OnRun();
        }
        Host.ReleaseSessionPort();
        programmers::TFailure lost = Host.ReclaimSessionPort(false);
        return lost.Empty() ? programmers::TProgrammerResult::Success()
                            : programmers::TProgrammerResult::Failed(std::move(lost));
    }

protected:
    void Abort() override {}
};

bool ServesTheTool(const programmers::TSessionKey& key) {
    return key.Step == programmers::Phase::Tool;
}

constexpr programmers::TMethodEntry ClaimingToolRow = {
    programmers::Method::Added, "ClaimingTool", "claiming tool", &ServesTheTool, nullptr,
    &TClaimingTool::Create};

// What the tool sent until text came, or empty after timeoutMs.
bool Await(const serialtest::Pty& pty, const std::string& text, int timeoutMs = 10000) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.find(text) == std::string::npos) {
        if (Clock::now() > deadline) {
            return false;
        }
        got += pty.Receive(1, 50);
    }
    return true;
}

// Presses Escape when its timer slot fires, as the operator would.
struct EscapeKey {
    kernel::TTimerPool* timers = nullptr;
    int slot = 0;

    static kernel::TEventRec Press(void* context, kernel::TEvents& events,
                                   kernel::TEventRec event) {
        auto* self = static_cast<EscapeKey*>(context);
        if (event.Kind != kernel::evTimer || self->slot == 0 || event.Id != self->slot) {
            return event;
        }
        self->slot = self->timers->TimerStop(self->slot);
        events.PostKey(event::KeyEscape);
        return kernel::TEvents::ClearEvent();
    }
};

// A window on COM1 whose session is on the point of its class-1 transfer.
class TransferEnding : public testing_support::FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        platform::Application::Instance().SetTimeDivisor(TimeDivisor);
        WriteConfig(CrLfLines({"Language=0", "DebugInfo=YES"}),
                    StandardTextBlock + "\r\n" + DeviceBlock("43110", "DM10.TXT"));
        Link(line);
        TGoProgrammer::Runs = 0;
        TGoProgrammer::TransferLine = false;
        TGoProgrammer::StartBauds.clear();
        TClaimingTool::Runs = 0;
        TClaimingTool::OnRun = nullptr;
        BuildForm();
    }
    // Again after a test laid out its files: the form takes them at its start.
    void BuildForm() {
        form.reset();
        app::StartOptions options;
        options.ProgramFolder = folder.Path();
        options.AddedMethods = {GoRow, GoRecoveryRow, ClaimingToolRow};
        form = std::make_unique<app::TUpdateForm>(dialogs, options);
    }
    void TearDown() override {
        form.reset();
        for (std::thread& thread : instrument) {
            thread.join();
        }
        platform::Application::Instance().SetTimeDivisor(1);
        FormFixture::TearDown();
    }
    void Link(const serialtest::Pty& pty) {
        std::filesystem::remove(ports.File("COM1"));
        std::filesystem::create_symlink(pty.SlavePath(), ports.File("COM1"));
    }
    app::UpdateSessionTestView Session() { return app::TestView(*form).Session(); }
    // The instrument answered on COM1 with an older firmware than the file's.
    void Identified() {
        Session().BeginNewSession();
        app::TSessionState& state = Session().State();
        state.PortIndex = 0;
        state.PortNumber = 1;
        state.Job.Ident.DevSw = 1000;
        state.Job.Ident.FileSw = 2000;
        state.Job.ProgFile = "DM10.TXT";
    }
    void RunUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done() && Clock::now() < deadline) {
            app::TestView(*form).ProcessEvents();
            platform::Application::Instance().ProcessMessagesFor(10);
        }
    }
    bool Ended() const { return !form->SessionRunning(); }
    std::string Log() const {
        std::string text;
        for (const std::string& memoLine : MemoLines()) {
            text += memoLine + "\n";
        }
        return text;
    }
    const app::SessionReport& Report() const { return app::TestView(*form).Report(); }
    const programmers::TFailure& Failure() const { return Report().Failure; }
    // The loader transfers on "G" and says so; the new firmware reports back
    // when the programmer starts it.
    void PlayLoader(serialtest::Pty& pty, bool reportsBack) {
        instrument.emplace_back([&pty, reportsBack] {
            if (!Await(pty, "G\r")) {
                return;
            }
            pty.Send("D\r\n");
            if (!Await(pty, "R\r")) {
                return;
            }
            if (reportsBack) {
                pty.Send("I.31#\r\n");
            } else {
                pty.CloseMaster(); // the cable is pulled
            }
        });
    }

    // The instrument's line is gone for good: OK's retry fails at once,
    // naming the port.
    void OkWithTheCableOut() {
        instrument.front().join();
        instrument.clear();
        form->OkBitBtn->Click();
        RunUntil([&] { return Report().Retries == 1 && Ended(); });
        ASSERT_TRUE(Ended()) << Log();
        EXPECT_EQ(Report().Outcome, app::outcome::Failed);
        EXPECT_EQ(Failure().Cause.rfind("COM1 (", 0), 0u) << Failure().Cause;
    }

    serialtest::Pty line;
    // The line after a relink: a member, so that it outlives the
    // instrument threads, which TearDown joins.
    serialtest::Pty relinkedLine;
    std::vector<std::thread> instrument;
    std::atomic<bool> asked{false}; // the relinked instrument was asked for its report
};

// The transfer was complete when the cable was pulled: it is not repeated.
// The session fails at the step after it, naming the line; OK with the
// instrument connected again resumes there and ends updated.
TEST_F(TransferEnding, ALineThatDiesAfterACompleteTransferFailsTheRestartAndOkResumesThere) {
    PlayLoader(line, false);
    Identified();
    Session().PostEvent(event::StartClass1);
    RunUntil([&] { return Ended(); });
    ASSERT_TRUE(Ended()) << Log();
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(Report().Outcome, app::outcome::Failed);
    EXPECT_EQ(Report().FailedStep, app::step::Restart);
    EXPECT_EQ(Failure().Step, app::step::Restart);
    EXPECT_EQ(Failure().Cause.rfind("COM1 (", 0), 0u) << Failure().Cause;
    EXPECT_NE(Failure().Cause.find("hung up"), std::string::npos) << Failure().Cause;
    EXPECT_EQ(Log().find("Download erfolgreich"), std::string::npos) << Log();
    EXPECT_EQ(TGoProgrammer::Runs, 1);

    serialtest::Pty& again = relinkedLine;
    Link(again);
    instrument.emplace_back([&again] {
        if (Await(again, "A.1000\r\n")) {
            again.Send("I.31#\r\n");
        }
    });
    form->OkBitBtn->Click();
    RunUntil([&] { return Report().Outcome == app::outcome::Updated; });
    EXPECT_EQ(Report().Outcome, app::outcome::Updated) << Log();
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::Success);
    EXPECT_TRUE(Failure().Empty()) << Failure().Cause;
    EXPECT_EQ(Report().Retries, 1);
    EXPECT_EQ(TGoProgrammer::Runs, 1) << "the transfer ran again";
}

// OK with the cable still out after a complete transfer fails the step
// that could not reach its line, not the transfer that stands.
TEST_F(TransferEnding, OkWithTheCableStillOutAfterACompleteTransferFailsTheRestartAgain) {
    PlayLoader(line, false);
    Identified();
    Session().PostEvent(event::StartClass1);
    RunUntil([&] { return Ended(); });
    ASSERT_EQ(Report().FailedStep, app::step::Restart) << Log();

    OkWithTheCableOut();
    EXPECT_EQ(Report().FailedStep, app::step::Restart);
    EXPECT_EQ(Failure().Step, app::step::Restart);
    EXPECT_EQ(TGoProgrammer::Runs, 1);
    EXPECT_EQ(Session().SearchedPortNames(), "COM1") << "the next search would leave it closed";
}

// Escape ends the run as aborted, not as failed; the retry that OK offers
// still decides the session anew.
TEST_F(TransferEnding, EscapeDuringTheTransferEndsItAbortedAndTheRetryDecidesAnew) {
    instrument.emplace_back([this] { Await(line, "G\r"); }); // the loader never answers
    kernel::TTimerPool& timers = app::TestView(*form).TimerPool();
    EscapeKey operatorKey{&timers, timers.TimerStart(500)};
    app::TestView(*form).EventQueue().AddHandler(&EscapeKey::Press, &operatorKey);
    Identified();
    Session().PostEvent(event::StartClass1);
    RunUntil([&] { return Ended(); });
    app::TestView(*form).EventQueue().RemoveHandler(&EscapeKey::Press, &operatorKey);
    ASSERT_TRUE(Ended()) << Log();
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(Report().Outcome, app::outcome::Aborted);
    EXPECT_EQ(Report().FailedStep, app::step::Transfer);
    EXPECT_EQ(Failure().Cause, "aborted by the operator (Escape)");
    EXPECT_NE(Log().find("Abbruch"), std::string::npos) << "the configured abort text: " << Log();

    instrument.front().join();
    instrument.clear();
    PlayLoader(line, true);
    form->OkBitBtn->Click();
    RunUntil([&] { return Report().Outcome == app::outcome::Updated; });
    EXPECT_EQ(Report().Outcome, app::outcome::Updated) << Log();
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::Success);
    EXPECT_TRUE(Failure().Empty()) << Failure().Cause;
    EXPECT_EQ(TGoProgrammer::Runs, 2);
}

// A line failure posted for an earlier session, or for another port, must
// not end the session that waits for its instrument now.
TEST_F(TransferEnding, ALateLineFailureOfAnotherSessionOrPortIsDropped) {
    Identified();
    const std::intptr_t earlierSession = Session().LineFailedData(0);
    Identified();
    Session().AwaitInstrumentAfterProgramming();
    Session().PostEvent(event::LineFailed, earlierSession);
    Session().PostEvent(event::LineFailed, Session().LineFailedData(1));
    app::TestView(*form).ProcessEvents();
    EXPECT_TRUE(Session().State().AwaitingRestart);
    EXPECT_TRUE(form->SessionRunning());
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::Success);

    Session().PostEvent(event::LineFailed, Session().LineFailedData(0));
    app::TestView(*form).ProcessEvents();
    RunUntil([&] { return Ended(); }, 2000);
    EXPECT_FALSE(Session().State().AwaitingRestart);
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(Report().FailedStep, app::step::Restart);
}

// The new firmware reported while the programmer still held the port, and
// then the line died. That report came on the dead line: the resume must
// hear the instrument on the line opened again, not end on the old report.
TEST_F(TransferEnding, AReportHeldBeforeTheLineDiedIsNotTakenOnTheReopenedLine) {
    instrument.emplace_back([this] {
        if (!Await(line, "G\r")) {
            return;
        }
        line.Send("D\r\n");
        if (!Await(line, "R\r")) {
            return;
        }
        line.Send("I.31#\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        line.CloseMaster();
    });
    Identified();
    Session().PostEvent(event::StartClass1);
    RunUntil([&] { return Ended(); });
    ASSERT_TRUE(Ended()) << Log();
    ASSERT_EQ(Report().FailedStep, app::step::Restart) << Log();
    EXPECT_NE(Failure().Cause.find("hung up"), std::string::npos) << Failure().Cause;

    Link(relinkedLine);
    instrument.emplace_back([this] { asked = Await(relinkedLine, "A.1000\r\n"); }); // then silent
    form->OkBitBtn->Click();
    RunUntil([&] { return Ended(); });
    EXPECT_TRUE(asked) << "the resume did not ask the instrument on the reopened line";
    EXPECT_EQ(Report().Outcome, app::outcome::Failed) << Log();
    EXPECT_EQ(Report().FailedStep, app::step::Restart);
    EXPECT_EQ(form->ExitCode(), protocol::exitcode::ProgrammingFailed);
    EXPECT_EQ(Report().Retries, 1);
}

// The cable is pulled during the transfer. OK while it is out fails at
// once, naming the port, without running the step on the dead line; once
// it is back, OK runs the step on the line opened anew, at the session's
// line: the loader's (38400 8E1) could not be set back on the dead line.
TEST_F(TransferEnding, OkAfterTheLineDiedDuringTheTransferRunsTheStepOnTheReopenedLine) {
    TGoProgrammer::TransferLine = true;
    instrument.emplace_back([this] {
        if (Await(line, "G\r")) {
            line.CloseMaster();
        }
    });
    Identified();
    Session().PostEvent(event::StartClass1);
    RunUntil([&] { return Ended(); });
    ASSERT_TRUE(Ended()) << Log();
    EXPECT_EQ(Report().FailedStep, app::step::Transfer);
    EXPECT_NE(Failure().Cause.find("hung up"), std::string::npos) << Failure().Cause;

    OkWithTheCableOut();
    EXPECT_EQ(TGoProgrammer::Runs, 1) << "the step ran on a line that is not there";

    Link(relinkedLine);
    PlayLoader(relinkedLine, true);
    form->OkBitBtn->Click();
    RunUntil([&] { return Report().Outcome == app::outcome::Updated; });
    EXPECT_EQ(Report().Outcome, app::outcome::Updated) << Log();
    EXPECT_EQ(TGoProgrammer::Runs, 2);
    EXPECT_EQ(Report().Retries, 2);
    ASSERT_EQ(TGoProgrammer::StartBauds.size(), 2u);
    EXPECT_NE(TGoProgrammer::StartBauds.front(), 38400u);
    EXPECT_EQ(TGoProgrammer::StartBauds.back(), TGoProgrammer::StartBauds.front())
        << "the retry began at the loader's line";
}

// An earlier session's loader began at 4800 baud; this session's instrument
// answered at 19200. A retry after its line died, before any step kept a line
// of its own, runs at 19200.
TEST_F(TransferEnding, ARetryBeforeAnyStepOfItsOwnRunsAtTheLineTheInstrumentAnsweredAt) {
    instrument.emplace_back([this] { Await(line, "G\r"); }); // the loader stays silent
    Identified();
    Session().PostEvent(event::StartClass1);
    RunUntil([&] { return Ended(); });
    ASSERT_EQ(Report().FailedStep, app::step::Transfer) << Log();
    ASSERT_EQ(TGoProgrammer::StartBauds, std::vector<unsigned long>{4800}) << Log();
    instrument.front().join();
    instrument.clear();

    serial::TComPort* port = app::TestView(*form).Port(0);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->IsOpen());
    Session().BeginNewSession();
    ASSERT_TRUE(port->ChangeV24Parameter(serial::B_19200, serial::S_1, serial::NoParity, false));
    Session().ChooseSessionPort(0, 1);
    app::TSessionState& state = Session().State();
    state.FileClass = 1;
    state.Job.ProgFile = "DM10.TXT";
    line.CloseMaster();
    RunUntil([&] { return app::UpdateSession::LineDied(*port); }, 5000);
    ASSERT_TRUE(app::UpdateSession::LineDied(*port));
    Session().SessionFailed(event::ProgrammingFailed); // a step of no programmer's

    Link(relinkedLine);
    PlayLoader(relinkedLine, true);
    form->OkBitBtn->Click();
    RunUntil([&] { return Report().Outcome == app::outcome::Updated; });
    EXPECT_EQ(Report().Outcome, app::outcome::Updated) << Log();
    ASSERT_EQ(TGoProgrammer::StartBauds.size(), 2u) << Log();
    EXPECT_EQ(TGoProgrammer::StartBauds.back(), 19200u) << "the retry began at an earlier line";
}

// A lab recovery's retry is the recovery itself: when the line dies behind
// its transfer, OK programs the instrument again through its loader instead
// of resuming the wait for a firmware that may never have started.
TEST_F(TransferEnding, ALineThatDiesBehindALabRecoveryIsRetriedByTheRecovery) {
    for (const char* image : {"LABXXX.TXT", "DM10.TXT"}) {
        folder.Write(image, "@5C00\r\n00 5C\r\nq\r\n");
    }
    BuildForm();
    dialogs.Answers = {platform::IDYES, platform::IDYES, platform::IDYES, platform::IDYES};
    PlayLoader(line, false);
    // The loader on COM1 answered the probe; its firmware version is unknown.
    Session().BeginNewSession();
    app::TSessionState& state = Session().State();
    state.PortIndex = 0;
    state.PortNumber = 1;
    state.BootAnswer = true;
    state.AnswerChar = static_cast<char>(0x90);
    app::TestView(*form).LabXXXClick(nullptr);
    RunUntil([&] { return Ended(); });
    ASSERT_TRUE(Ended()) << Log();
    ASSERT_EQ(TGoProgrammer::Runs, 1) << Log();
    EXPECT_EQ(Report().FailedStep, app::step::Restart) << Log();

    instrument.front().join();
    instrument.clear();
    Link(relinkedLine);
    PlayLoader(relinkedLine, false);
    form->OkBitBtn->Click();
    RunUntil([&] { return TGoProgrammer::Runs == 2 && Ended(); });
    EXPECT_EQ(TGoProgrammer::Runs, 2) << "OK did not run the recovery again: " << Log();
    EXPECT_EQ(Session().State().RetryStep, app::RetryableStep::LabRecovery);
    EXPECT_EQ(Report().Retries, 1);
}

} // namespace

// The files are in when the clock goes out after a block transfer; a clock
// that gets no acknowledge (the line dies, or the instrument stays silent)
// is sent again by OK, and the files are not.
class ClockAfterBlockTransfer : public TransferEnding {
protected:
    // The loader takes the files; then, once the clock came, the line dies
    // (pulled) or the instrument says nothing.
    void PlayLoaderLosingTheClock(bool pulled) {
        instrument.emplace_back([this, pulled] {
            if (!Await(line, "G\r")) {
                return;
            }
            line.Send("D\r\n");
            if (Await(line, "A.1600#") && pulled) {
                line.CloseMaster();
            }
        });
    }
    // Acknowledges every command for a while, the clock first of all.
    void PlayFirmwareAcknowledging(serialtest::Pty& pty) {
        instrument.emplace_back([this, &pty] {
            std::string got;
            bool clockSeen = false;
            const auto deadline = Clock::now() + std::chrono::seconds(8);
            while (acknowledging && Clock::now() < deadline) {
                got += pty.Receive(1, 50);
                for (std::size_t end; (end = got.find("\r\n")) != std::string::npos;) {
                    const std::string command = got.substr(0, end);
                    got.erase(0, end + 2);
                    if (command.rfind("A.1600#", 0) == 0) {
                        clockSeen = true;
                        clocks.push_back(command);
                    }
                    if (clockSeen && command.rfind("A.", 0) == 0) {
                        pty.Send(command.substr(0, command.find('#')) + "!\r\n");
                    }
                }
            }
        });
    }
    // relinked: the instrument on the port opened again, else on the same
    // line; start: the programming step whose clock goes unanswered.
    void FailsAtTheClockThenOkSendsItAgain(serialtest::Pty* relinked,
                                           std::int32_t start = event::StartClass2) {
        Identified();
        Session().PostEvent(start);
        RunUntil([&] { return Ended(); });
        ASSERT_TRUE(Ended()) << Log();
        EXPECT_EQ(Report().Outcome, app::outcome::Failed);
        EXPECT_EQ(Report().FailedStep, app::step::Restart);
        EXPECT_EQ(TGoProgrammer::Runs, 1);

        const std::string cause = Failure().Cause;
        instrument.front().join();
        instrument.clear();
        if (relinked != nullptr) {
            Link(*relinked);
        }
        PlayFirmwareAcknowledging(relinked != nullptr ? *relinked : line);
        form->OkBitBtn->Click();
        RunUntil([&] { return Report().Outcome == app::outcome::Updated; });
        EXPECT_EQ(Report().Outcome, app::outcome::Updated) << Log();
        EXPECT_EQ(form->ExitCode(), protocol::exitcode::Success);
        EXPECT_EQ(Report().Retries, 1);
        EXPECT_EQ(TGoProgrammer::Runs, 1) << "the files were transferred again";
        failureCause = cause;
        acknowledging = false;
        StopInstrument();
    }
    void StopInstrument() {
        acknowledging = false;
        for (std::thread& thread : instrument) {
            thread.join();
        }
        instrument.clear();
    }
    // The seconds form is a whole number; the day form has a fraction.
    static bool SecondsForm(const std::string& clock) {
        const std::string value = clock.substr(clock.find('#') + 1);
        return !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
    }
    // OK after the tool's step failed: the tool runs again before the
    // instrument's answer ends the session updated.
    void OkEndsUpdatedAfterTheToolRanAgain() {
        form->OkBitBtn->Click();
        RunUntil([&] { return Report().Outcome == app::outcome::Updated; });
        StopInstrument();
        EXPECT_EQ(TClaimingTool::Runs, 2) << "OK went on without the tool: " << Log();
        EXPECT_EQ(Report().Outcome, app::outcome::Updated) << Log();
        EXPECT_EQ(Report().Retries, 1);
    }
    std::string failureCause; // of the failed session
    std::atomic<bool> acknowledging{true};
    std::vector<std::string> clocks; // the clock commands the firmware answered, once stopped
};

TEST_F(ClockAfterBlockTransfer, ALineThatDiesDuringTheClocksWaitIsResumedAtTheClock) {
    PlayLoaderLosingTheClock(true);
    FailsAtTheClockThenOkSendsItAgain(&relinkedLine);
    EXPECT_NE(failureCause.find("hung up"), std::string::npos) << failureCause;
    ASSERT_FALSE(clocks.empty());
    EXPECT_FALSE(SecondsForm(clocks.front())) << clocks.front();
}

// Report 30 says the new firmware stores its data; the clock that follows
// goes in seconds. Resumed after the line died, it goes in seconds again.
TEST_F(ClockAfterBlockTransfer, TheClockAfterReport30IsResumedInItsSecondsForm) {
    instrument.emplace_back([this] {
        if (!Await(line, "G\r")) {
            return;
        }
        line.Send("D\r\n");
        if (Await(line, "R\r")) {
            line.Send("I.30#\r\n");
        }
        if (Await(line, "A.1600#")) {
            line.CloseMaster();
        }
    });
    FailsAtTheClockThenOkSendsItAgain(&relinkedLine, event::StartClass1);
    EXPECT_NE(failureCause.find("hung up"), std::string::npos) << failureCause;
    ASSERT_FALSE(clocks.empty());
    EXPECT_TRUE(SecondsForm(clocks.front())) << clocks.front();
}

// After a tool nothing but the clock's acknowledge confirms what the tool
// claims. A line that dies during that wait leaves the claim unconfirmed:
// OK runs the tool again, as silence there does, not the clock alone.
TEST_F(ClockAfterBlockTransfer, ALineThatDiesDuringTheClocksWaitAfterAToolRunsTheToolAgain) {
    instrument.emplace_back([this] {
        if (Await(line, "A.1600#")) {
            line.CloseMaster();
        }
    });
    Identified();
    app::TSessionState& state = Session().State();
    state.FileClass = 0;
    state.StartMode = 0;
    state.AckStep = app::AckStep::BootloaderFileAfterTool; // as the acknowledge left it
    Session().PostEvent(event::ToolStep);
    RunUntil([&] { return Ended(); });
    ASSERT_TRUE(Ended()) << Log();
    EXPECT_EQ(Report().Outcome, app::outcome::Failed);
    EXPECT_EQ(Report().FailedStep, app::step::Restart);
    EXPECT_NE(Failure().Cause.find("hung up"), std::string::npos) << Failure().Cause;
    EXPECT_EQ(TClaimingTool::Runs, 1);

    StopInstrument();
    Link(relinkedLine);
    acknowledging = true;
    PlayFirmwareAcknowledging(relinkedLine);
    OkEndsUpdatedAfterTheToolRanAgain();
}

// The same holds for the plain wait after the program file's tool (file
// class 1): the line dying there confirms nothing, so OK runs the tool
// again instead of asking a firmware that acknowledges anything. The tool
// takes the port itself, so a child of its last run that still holds the
// port does not fail the retry before the tool ran.
class WaitAfterATool : public ClockAfterBlockTransfer {
protected:
    void LineDiesInTheWaitAfterTheTool() {
        instrument.emplace_back([this] {
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (!awaiting && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            line.CloseMaster();
        });
        Identified();
        app::TSessionState& state = Session().State();
        state.FileClass = 1;
        state.StartMode = 0;
        Session().PostEvent(event::ToolStep);
        RunUntil([&] {
            awaiting = awaiting || Session().State().AwaitingRestart;
            return Ended();
        });
        ASSERT_TRUE(Ended()) << Log();
        EXPECT_EQ(Report().FailedStep, app::step::Restart) << Log();
        EXPECT_NE(Failure().Cause.find("hung up"), std::string::npos) << Failure().Cause;
        EXPECT_EQ(TClaimingTool::Runs, 1);
        StopInstrument();
        Link(relinkedLine);
    }
    // The restarted firmware announces itself, and would acknowledge a question.
    void OkFromAnAnnouncingFirmware() {
        acknowledging = true;
        instrument.emplace_back([this] {
            const auto deadline = Clock::now() + std::chrono::seconds(8);
            while (acknowledging && Clock::now() < deadline) {
                relinkedLine.Send("I.31#\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
        OkEndsUpdatedAfterTheToolRanAgain();
    }
    std::atomic<bool> awaiting{false};
};

TEST_F(WaitAfterATool, ALineThatDiesThereRunsTheToolAgain) {
    LineDiesInTheWaitAfterTheTool();
    OkFromAnAnnouncingFirmware();
}

TEST_F(WaitAfterATool, APortStillHeldByTheToolsChildIsLeftToTheTool) {
    LineDiesInTheWaitAfterTheTool();
    const int holder = ::open(relinkedLine.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    TClaimingTool::OnRun = [holder] { ::close(holder); }; // the child ends as the tool starts
    OkFromAnAnnouncingFirmware();
}

TEST_F(ClockAfterBlockTransfer, AnInstrumentSilentAfterTheClockGetsTheClockAgainOnOk) {
    PlayLoaderLosingTheClock(false);
    FailsAtTheClockThenOkSendsItAgain(nullptr);
}
