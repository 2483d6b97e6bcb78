#include "app/SessionState.h"

#include <gtest/gtest.h>

namespace {

using app::AckStep;
using app::ProbeState;
using app::TSessionState;

TEST(SessionState, BeginResetsTheSessionAndKeepsWhatLivesAcrossSessions) {
    TSessionState session;
    session.AckStep = AckStep::Ignore;
    session.QueryStep = 4;
    session.ProbeState = ProbeState::SecondProbeSent;
    session.ScanIndex = 3;
    session.CurrentBaud = 5;
    session.CalibState = TSessionState::CalibrationValueSent;
    session.StartCmd = protocol::command::EnterSensorLoader;
    session.Done = session.LineErrorSeen = session.SensorNotice = session.BootAnswer = true;
    session.AnswerChar = 'Q';
    session.BootAnswerText = "Meter";
    session.PortIndex = 1;
    session.PortNumber = 2;
    session.Job.ProgFile = "OLD.TXT";
    session.RxBuf.Append("half a line", 11);
    // These outlive a session.
    session.SearchFailures = 1;
    session.ProgVariant = 2;
    session.FileClass = 1;
    session.CurrentFile = "PROG.TXT";

    session.Begin();

    EXPECT_TRUE(session.Running);
    EXPECT_EQ(session.AckStep, AckStep::OpenDialogue);
    EXPECT_EQ(session.QueryStep, 0);
    EXPECT_EQ(session.ProbeState, ProbeState::Scanning);
    EXPECT_EQ(session.ScanIndex, -1);
    EXPECT_EQ(session.CurrentBaud, 1);
    EXPECT_EQ(session.CalibState, TSessionState::NoCalibrationValue);
    EXPECT_EQ(session.StartCmd, protocol::command::EnterBootloader);
    EXPECT_FALSE(session.Done || session.LineErrorSeen || session.SensorNotice ||
                 session.BootAnswer);
    EXPECT_EQ(session.AnswerChar, 0);
    EXPECT_EQ(session.BootAnswerText, "");
    EXPECT_EQ(session.PortIndex, -1) << "no instrument has answered yet";
    EXPECT_EQ(session.PortNumber, 0);
    EXPECT_EQ(session.Job.ProgFile, "");
    EXPECT_EQ(session.RxBuf.Size(), 0u);

    EXPECT_EQ(session.SearchFailures, 1);
    EXPECT_EQ(session.ProgVariant, 2);
    EXPECT_EQ(session.FileClass, 1);
    EXPECT_EQ(session.CurrentFile, "PROG.TXT");
}

TEST(SessionState, StartModeOneBeginsWithTheIdentificationQuery) {
    TSessionState session;
    session.StartMode = 1;
    session.Begin();
    EXPECT_EQ(session.AckStep, AckStep::QueryIdentity)
        << "its wake command already opened the dialogue";
}

TEST(SessionState, AcknowledgeStepsWalkInOrderAndStopAtIgnore) {
    AckStep step = AckStep::OpenDialogue;
    for (AckStep expected :
         {AckStep::QueryIdentity, AckStep::RunToolForProgFile1, AckStep::StartClass0,
          AckStep::RunTool, AckStep::BootloaderFileAfterTool, AckStep::TerminalProgram,
          AckStep::BootloaderFileAfterLoader, AckStep::Ignore, AckStep::Ignore}) {
        EXPECT_EQ(++step, expected);
    }
}

} // namespace
