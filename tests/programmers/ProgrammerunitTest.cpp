#include "programmers/Programmerunit.h"

#include "FakeHost.h"
#include "programmers/Bsl430Config.h"
#include "programmers/Bsl_unit.h"

#include <gtest/gtest.h>

namespace bsltest {
namespace {

using programmers::TRetryHistory;

struct Steps {
    void A() {}
    void B() {}
};
using Step = void (Steps::*)();

TEST(RetryHistory, OneStepRunsThreeRetriesAndIsRefusedTheFourth) {
    TRetryHistory<Step, 3> history;
    EXPECT_TRUE(history.Admit(&Steps::A));
    EXPECT_TRUE(history.Admit(&Steps::A));
    EXPECT_TRUE(history.Admit(&Steps::A));
    EXPECT_FALSE(history.Admit(&Steps::A));
}

TEST(RetryHistory, AnotherStepGivesBackOnlyTheFirstEntry) {
    TRetryHistory<Step, 3> history;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(history.Admit(&Steps::A));
    }
    EXPECT_TRUE(history.Admit(&Steps::B));
    EXPECT_TRUE(history.Admit(&Steps::A));  // back into the first entry
    EXPECT_FALSE(history.Admit(&Steps::A)); // the second refusal fails
}

TEST(RetryHistory, TwoEntriesAllowTwoRetries) {
    TRetryHistory<Step, 2> history;
    EXPECT_TRUE(history.Admit(&Steps::B));
    EXPECT_TRUE(history.Admit(&Steps::B));
    EXPECT_FALSE(history.Admit(&Steps::B));
}

// A programmer that only records what its handler skeleton hands it.
class Recorder : public programmers::TProgrammerTyp {
public:
    Recorder(FakeHost& host, serial::TComPort& port, serial::TDelay& delay,
             programmers::TProgJob& job)
        : TProgrammerTyp({host, port, delay, job}) {
        host.events.AddHandler(&TProgrammerTyp::EventHandler, this);
        WatchdogSlot = 3;
    }
    programmers::TProgrammerResult Program(const std::string&) override { return RunResult(); }
    void Abort() override { ++aborts; }
    void OnReply(std::int32_t id, std::intptr_t) override { replies.push_back(id); }
    void OnWatchdog() override { ++watchdogs; }
    void Detach() { Host.EventQueue().RemoveHandler(&TProgrammerTyp::EventHandler, this); }
    int aborts = 0;
    int watchdogs = 0;
    std::vector<std::int32_t> replies;
};

TEST(ProgrammerHandler, TakesItsOwnEventsAndPassesEveryOtherOneUnchanged) {
    FakeHost host;
    serial::TComPort port{nullptr};
    serial::TDelay delay{nullptr};
    programmers::TProgJob job;
    Recorder recorder(host, port, delay, job);
    kernel::TEvents& events = host.events;

    EXPECT_EQ(events.DispatchEvent({kernel::evKey, 0, 27, 0}).Kind, kernel::evNothing);
    EXPECT_EQ(events.DispatchEvent({kernel::evMessage, 0, 10012, 0}).Kind, kernel::evNothing);
    EXPECT_EQ(events.DispatchEvent({kernel::evTimer, 0, 3, 0}).Kind, kernel::evNothing);
    EXPECT_EQ(recorder.aborts, 1);
    EXPECT_EQ(recorder.watchdogs, 1);
    EXPECT_EQ(recorder.replies, std::vector<std::int32_t>{10012});

    const kernel::TEventRec others[] = {{kernel::evTimer, 0, 2, 0},
                                        {kernel::evMessage, 0, 80, 0x1234},
                                        {kernel::evKey, 0, 13, 0},
                                        {kernel::evMessage, 0, 10043, 7}};
    for (const kernel::TEventRec& event : others) {
        const kernel::TEventRec out = events.DispatchEvent(event);
        EXPECT_EQ(out.Kind, event.Kind);
        EXPECT_EQ(out.Id, event.Id);
        EXPECT_EQ(out.Data, event.Data);
    }
    recorder.Detach();
}

// A programmer whose abort ends its run, as every real one does.
class Ending : public Recorder {
public:
    using Recorder::Recorder;
    void Abort() override { Fail("aborted"); }
};

// The session's reader posts the line failure; the run ends on it at once
// with the port's own words, and the first cause stays the cause.
TEST(ProgrammerHandler, ALineFailureEndsTheRunWithThePortsCauseAndEscapeAborts) {
    FakeHost host;
    serial::TComPort port{nullptr};
    serial::TDelay delay{nullptr};
    programmers::TProgJob job;
    kernel::TEvents& events = host.events;
    {
        Ending ending(host, port, delay, job);
        // A run that never ended is no success, and says so.
        EXPECT_EQ(ending.Program("").Failure.Cause, "the transfer did not run");
        char byte = 0;
        ASSERT_LT(port.Read(&byte, 1), 0); // not open: the port keeps why
        const kernel::TEventRec failed{kernel::evMessage, 0, protocol::event::LineFailed, 0};
        EXPECT_EQ(events.DispatchEvent(failed).Kind, kernel::evNothing);
        EXPECT_EQ(events.DispatchEvent({kernel::evKey, 0, 27, 0}).Kind, kernel::evNothing);
        const programmers::TProgrammerResult result = ending.Program("");
        EXPECT_EQ(result.Result, programmers::TProgrammerResult::Kind::Failed);
        EXPECT_EQ(result.Failure.Step, "transfer");
        EXPECT_EQ(result.Failure.Cause, "serial port: read: port closed");
        EXPECT_EQ(result.Failure.Line, platform::SerialResult::Closed);
        ASSERT_FALSE(host.shownLines.empty());
        EXPECT_EQ(host.shownLines.back(), result.Failure.Cause) << "the log has it too";
        ending.Detach();
    }
    Ending ending(host, port, delay, job);
    EXPECT_EQ(events.DispatchEvent({kernel::evKey, 0, 27, 0}).Kind, kernel::evNothing);
    const programmers::TProgrammerResult result = ending.Program("");
    EXPECT_EQ(result.Result, programmers::TProgrammerResult::Kind::Aborted);
    EXPECT_EQ(result.Failure.Cause, "aborted by the operator (Escape)");
    ending.Detach();
}

TEST(Bsl430Config, ReadsVectorsAndChipListAndNamesWhatItDidNotFind) {
    auto config = programmers::ParseBsl430Config("# comment\r\n"
                                                 "resetvector1 = 0x4400\r\n"
                                                 "ResetVector3=C000\r\n"
                                                 "ChipImageVector1=F427, 0xF449\r\n");
    EXPECT_EQ(config.ResetVector[0], 0x4400);
    EXPECT_EQ(config.ResetVector[1], 0x3100); // built in
    EXPECT_EQ(config.ResetVector[2], 0xC000);
    EXPECT_EQ(config.ChipImageVector1, (std::vector<std::uint32_t>{0xF427, 0xF449}));
    EXPECT_EQ(config.Note, "ResetVector2 built in");
}

TEST(Bsl430Config, UnreadableValuesKeepTheBuiltInOnes) {
    auto config = programmers::ParseBsl430Config("ResetVector1=0x12345\nResetVector2=zz\n"
                                                 "ChipImageVector1=F427,,\n");
    EXPECT_EQ(config.ResetVector[0], 0x1100);
    EXPECT_EQ(config.ResetVector[1], 0x3100);
    EXPECT_EQ(config.ChipImageVector1, std::vector<std::uint32_t>{0xF427});
    EXPECT_NE(config.Note.find("RESETVECTOR1"), std::string::npos);
    EXPECT_NE(config.Note.find("CHIPIMAGEVECTOR1"), std::string::npos);

    auto missing = programmers::LoadBsl430Config("/nonexistent/Bsl430.ini");
    EXPECT_FALSE(missing.FromFile);
    EXPECT_NE(missing.Note.find("not found"), std::string::npos);
}

} // namespace
} // namespace bsltest
