#pragma once

#include "app/ReplyParser.h"
#include "app/RetryTable.h"
#include "programmers/ProgrammerResult.h"
#include "programmers/ProgrammingJob.h"
#include "programmers/Protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {

// What an acknowledge (event::Acknowledge, AcknowledgeAgain) does at each step
// of a session. The instrument's acknowledges walk the steps; the programming
// steps set them directly.
enum class AckStep : std::int32_t {
    OpenDialogue = 0,              // send command::Dialogue
    QueryIdentity = 1,             // send the identification query of QueryStep
    RunToolForProgFile1 = 2,       // run the external tool for ProgFile1 (none: RunTool at once)
    StartClass0 = 3,               // post event::StartClass0
    RunTool = 4,                   // post event::ToolStep: the tool for the program file
    BootloaderFileAfterTool = 5,   // post event::BootloaderFileStep
    TerminalProgram = 6,           // post event::TerminalStep
    BootloaderFileAfterLoader = 7, // post event::BootloaderFileStep after a programmer ran
    Ignore = 8,                    // programming is over or handed on: nothing more
};

// The next step; Ignore stays Ignore, since every step past it acts alike.
constexpr AckStep& operator++(AckStep& step) {
    if (step != AckStep::Ignore) {
        step = static_cast<AckStep>(static_cast<std::int32_t>(step) + 1);
    }
    return step;
}

// Where the device search stands with its bootloader probes.
enum class ProbeState : std::int32_t {
    Scanning = 0,        // the baud rates of the list are tried with the wake command
    FirstProbeSent = 3,  // the bootloader step sent the first probe
    SecondProbeSent = 4, // the reply time-out after it sent the second
};

// What the step after a transfer was about to do when it found the line
// dead; OK after that failure picks it up there (UpdateSession::ResumeAfterTransfer).
enum class AfterTransfer : std::uint8_t {
    AwaitRestart,   // wait for the new firmware's report (or the tool's instrument)
    SetClock,       // set the clock, whose acknowledge drives the next step
    Finish,         // finish the session
    FinishAndReset, // finish it with the restart command
};

// The recovery a menu item asked for before any instrument had answered: it
// runs once a port's loader answers the probe.
enum class RecoveryKind : std::uint8_t {
    None,
    Lab,   // LabXXX: an MSP430 loader, answer 0x90 or "Q"
    Meter, // DevMultiZ70..DevCondZ70: a meter's loader, answer frame
};

// Reply data kept alive until the event that carries it has been handled: a
// ring larger than the number of replies the receive buffer can hold, so
// that no pending event's text is overwritten.
struct TReplyStore {
    static constexpr std::size_t Slots = 512;
    std::array<std::string, Slots> Texts;
    std::array<float, Slots> Values{};
    std::size_t Next = 0;
    const char* KeepText(std::string text) {
        std::size_t slot = Next++ % Slots;
        Texts[slot] = std::move(text);
        return Texts[slot].c_str();
    }
    const float* KeepValue(float value) {
        std::size_t slot = Next++ % Slots;
        Values[slot] = value;
        return &Values[slot];
    }
};

// An instrument report that came while a programmer ran: it belongs to the
// restart step that follows a successful transfer. Its line is copied: the
// reply store's ring may wrap while a programmer's end waits on a babbling line.
struct THeldReport {
    std::int32_t Id = 0;
    std::optional<std::string> Line;
};

// Everything one update session owns. StartSession resets it through Begin;
// the members marked "across sessions" live on from one session to the next.
struct TSessionState {
    // CalibState besides the index of the air-pressure calibration value.
    static constexpr std::int32_t NoCalibrationValue = -1; // nothing (more) to send
    static constexpr std::int32_t CalibrationValueSent = -2;

    // --- the sequencer
    bool Running = false; // from the start to one of the session's ends
    // An ending has decided the session (or the retry that goes on with
    // it): a later one may only conclude it or add to the log.
    bool Decided = false;
    // Counts the sessions begun; a step that waited checks it to notice that
    // another session took over meanwhile.
    std::uint32_t Generation = 0;
    // The programming step in progress: a failure offers its retry.
    RetryableStep RetryStep = RetryableStep::None;
    app::AckStep AckStep = AckStep::OpenDialogue;
    std::int32_t QueryStep = 0; // index of the next identification query (0..4)
    int ReplyTimer = 0;         // slot of the reply time-out; 0 when none
    app::ProbeState ProbeState = ProbeState::Scanning;
    int ProbeClass = 0; // the file class whose bootloader probes are sent
    // Across sessions: the recovery whose restarted instrument the next
    // search looks for, and its port; a search that finds nobody fails it.
    RetryableStep RecoveredBy = RetryableStep::None;
    int RecoveredPortIndex = -1;
    int RecoveredPortNumber = 0;
    // A menu recovery waiting for a loader to answer its probe.
    RecoveryKind PendingRecovery = RecoveryKind::None;
    int PendingRecoveryTag = 0; // the menu item's Tag
    // Across sessions: the device entry of the recovery that ran last and the
    // loader answer it started from. Its retry checks the instrument again,
    // since a search after it has cleared the job.
    std::size_t RecoveryEntry = 0;
    char RecoveryAnswerChar = 0;
    bool RecoveryBootAnswer = false;
    std::int32_t ScanIndex = -1;     // index into the baud list
    int CurrentBaud = 1;             // the baud code in use
    std::int32_t SearchFailures = 0; // across sessions
    bool Done = false;               // ended without programming: acknowledges do nothing
    bool LineErrorSeen = false;
    bool AwaitingRestart = false; // programmed; waiting for the new firmware to report
    // The wait does not ask the silent firmware: a tool's, a clock's or a lab
    // recovery's. Only the other, a programmer's restart wait, has a transfer
    // of ours behind it that a dead line leaves standing.
    bool RestartUnverified = false;
    bool RestartAskPending = false; // silence first asks the new firmware once
    int RestartBoundMs = 0;         // how long the restart step waits in all
    bool Finishing = false;         // FinishSession runs: reports change nothing any more
    bool AwaitingExitAck = false;   // the session waits for its exit command's answer
    // Reports held while a programmer runs; the restart step takes them.
    std::vector<THeldReport> HeldReports;
    // Why the step that just failed failed, for the session's end.
    programmers::TFailure LastFailure;
    // The line died after a transfer had succeeded: why, until the next step
    // on the line fails with it; and where OK then resumes.
    programmers::TFailure LineDiedAfterTransfer;
    app::AfterTransfer ResumeAt = AfterTransfer::AwaitRestart;
    // The clock command of the closing wait, which a retry sends again;
    // AfterTransfer: a transfer stands behind it, so silence retries the clock.
    struct TClockWait {
        bool SecondsForm = false;
        int BoundMs = 0;
        bool AfterTransfer = false;
    } Clock;
    bool AwaitingClockAck = false; // the restart wait takes the clock's acknowledge
    std::int32_t CalibState = NoCalibrationValue;
    bool Calibrating = false;           // the calibration handler waits for acknowledges
    bool ResetAfterCalibration = false; // the session's end after it sends "U.606"
    // The start mode in use; across sessions. CheckDevice restores the
    // configured one (the window's StartModeAsRead), then turns a sensor mode
    // into mode 2 and mode 5 into mode 0.
    int StartMode = 0;
    std::string StartCmd = protocol::command::EnterBootloader;
    std::int32_t ProgVariant = 0; // across sessions, until CheckDevice sets it
    // The class of the program file; across sessions: start-up's class from
    // the first device entry until CheckDevice computes it.
    int FileClass = 0;

    // --- the instrument's port: an index into the form's port table (-1
    // before the instrument answered) and its 1-based COM number
    int PortIndex = -1;
    int PortNumber = 0;

    // --- what the instrument told
    bool ForceUpdate = false;
    bool SensorNotice = false;  // reply::SensorNotice
    bool BootAnswer = false;    // a binary bootloader answer
    char AnswerChar = 0;        // the character of an event::BootByteAnswer
    std::string BootAnswerText; // the name an instrument gave in its bootloader frame
    bool VersionUnreadable = false;
    bool FileRefused = false; // a file the entry names could not be read at the check
    bool Class2Mark = false;
    std::uint8_t SensorQuestionMark = 1;
    bool BootInfoShown = false; // the bootloader information box, once per search failure

    // --- the device entry CheckDevice matched, kept for the later steps
    std::string CurrentFile;    // the program file (DATEI in the texts)
    std::string DeviceNameText; // the entry's name (NAME in the texts)
    std::string ProgFile1, ProgFile3;
    std::string SWKenn1, SWKenn2, SWKenn3, BootLoadKenn;
    std::array<std::uint32_t, 3> FlashErase{};
    std::string ProgDefFile;
    std::int32_t StartupProgramIndex = -1;

    // --- what the programmers receive: identity, files, variant and flags
    programmers::TProgJob Job;

    // --- the receive side: bytes not yet parsed, and the replies' data kept
    // alive until their events are handled
    TRxBuffer RxBuf;
    TReplyStore Replies;

    // --- the progress shown in the title while a transfer runs
    int TickCount = 0;
    double ExpectedTicks = 1;

    // Resets what the start of a session resets: a new sequencer, no
    // instrument, no port and an empty job. The reply timer is the caller's,
    // since it belongs to the form's timer pool.
    void Begin() {
        Running = true;
        Decided = false;
        AwaitingRestart = false;
        AwaitingClockAck = false;
        RestartAskPending = false;
        Finishing = false;
        AwaitingExitAck = false;
        HeldReports.clear();
        LastFailure = {};
        LineDiedAfterTransfer = {};
        ++Generation;
        RetryStep = RetryableStep::None;
        PendingRecovery = RecoveryKind::None;
        Calibrating = false;
        AckStep = StartMode == 1 ? AckStep::QueryIdentity : AckStep::OpenDialogue;
        StartCmd = protocol::command::EnterBootloader;
        BootAnswer = false;
        AnswerChar = 0;
        Done = false;
        LineErrorSeen = false;
        SensorNotice = false;
        ProbeState = ProbeState::Scanning;
        BootAnswerText.clear();
        Class2Mark = false;
        VersionUnreadable = false;
        FileRefused = false;
        StartupProgramIndex = -1;
        Job = programmers::TProgJob{};
        PortIndex = -1;
        PortNumber = 0;
        RxBuf.Clear();
        CurrentBaud = 1;
        QueryStep = 0;
        CalibState = NoCalibrationValue;
        ScanIndex = -1;
    }
};

} // namespace app
