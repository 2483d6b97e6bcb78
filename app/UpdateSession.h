#pragma once

#include "app/DeviceTable.h"
#include "app/Messages.h"
#include "app/ReportingDialogs.h"
#include "app/SessionEnd.h"
#include "app/SessionReport.h"
#include "app/SessionState.h"
#include "app/Settings.h"
#include "kernel/Events.h"
#include "kernel/Timer.h"
#include "platform/Controls.h"
#include "platform/Dialogs.h"
#include "platform/Message.h"
#include "programmers/Luftdruckabgleich.h"
#include "programmers/ProgramFile.h"
#include "programmers/ProgrammerHost.h"
#include "programmers/ProgrammerRegistry.h"
#include "programmers/ProgrammingJob.h"
#include "programmers/Protocol.h"
#include "serial/Comport.h"
#include "serial/Delay.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace app {

// Window messages of the serial receive thread.
inline constexpr std::uint32_t WM_CHARS_RECEIVED = platform::WM_APP + 2000; // 34768
inline constexpr std::uint32_t WM_LINE_ERROR = platform::WM_APP + 2020;     // 34788
// SIGTERM or SIGINT arrived (wParam: the signal); posted by the front-end.
inline constexpr std::uint32_t WM_TERMINATION_SIGNAL = platform::WM_APP + 2040;

// The protocol vocabulary (programmers/Protocol.h) by its short names:
// command::Dialogue, reply::PcbNr, event::Acknowledge, exitcode::Success.
namespace command = protocol::command;
namespace reply = protocol::reply;
namespace event = protocol::event;
namespace exitcode = protocol::exitcode;

inline constexpr int ReplyTimeoutMs = 6000;
inline constexpr int AfterProgrammingTimeoutMs = 30000;
// After a transfer, silence this long asks the new firmware once.
inline constexpr int RestartAskAfterMs = ReplyTimeoutMs;
// Reports kept while a programmer runs; more are dropped.
inline constexpr std::size_t MaxHeldReports = 16;
// How long a session that ends after the check waits for the acknowledge of
// its exit command.
inline constexpr int ExitAckMs = 2000;
// After an external tool the instrument first stores what the tool sent; the
// storing wait elsewhere allows up to two minutes for that.
inline constexpr int AfterToolTimeoutMs = 120000;

inline constexpr std::size_t MaxFirmwareFiles = 160;
inline constexpr int MaxPorts = 10;

struct StartOptions {
    // Folder of the firmware files; the executable's folder when empty.
    std::string ProgramFolder;
    // Installed before start-up runs, so that a front-end sees every change.
    platform::ModelObserver Observer;
    // Search and identify, tell the decision, and end without programming.
    bool IdentifyOnly = false;
    // The port for this run, in place of Com=: a COM name or a device path.
    std::string Port;
    // The debug log on, whatever DebugInfo says.
    bool DebugLog = false;
    // Transfer methods asked before the built-in ones: a caller's own.
    std::vector<programmers::TMethodEntry> AddedMethods;
};

// The fields of the identity group box.
enum class IdentityField : std::uint8_t { Name, Serial, Pcb, Software };

// The window as a session sees it: what a step shows, enables or waits on.
class TSessionWindow {
public:
    virtual ~TSessionWindow() = default;

    // --- the log: a line as given, or all lines gone
    virtual void ShowLine(const std::string& text) = 0;
    virtual void ClearLog() = 0;
    // --- the identity fields
    virtual void ShowIdentityField(IdentityField field, const std::string& text) = 0;
    virtual void ShowLoaderVersion(const std::string& version) = 0;
    // --- OK and the recovery menu
    virtual void EnableOk(bool enabled) = 0;
    virtual void EnableRecoveryMenu(bool enabled) = 0;
    // --- the status bar's panels: 1 port, 2 baud rate, 3 versions, 4 progress
    virtual void ShowStatusPanel(int panel, const std::string& text) = 0;
    // --- the wait panel, its bar and the title
    virtual void ShowWaitPanel(bool visible) = 0;
    // The bar advances by itself each half second while running.
    virtual void RunWaitBar(bool running) = 0;
    virtual void SetProgressMaximum(int maximum, programmers::ProgressUnit unit) = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual void AdvanceProgress(int steps) = 0;
    virtual void AdvanceProgressBar(int steps) = 0;
    // percent: 0 to 100; beyond is held at the nearer end.
    virtual std::string ShowTitleProgress(const std::string& prefix, double percent) = 0;
    virtual void ShowTitleState(programmers::TitleState state) = 0;
    // The title counts the session's expected ticks while running.
    virtual void RunTitleProgress(bool running) = 0;
    // --- the loop: the event pump, the delay that keeps it going, the
    // window's handle for ports and posted messages
    virtual kernel::TEventRec ProcessEvents() = 0;
    virtual serial::TDelay& Wait() = 0;
    virtual platform::HWND Handle() const = 0;
    // --- closing the program, and whether it is closing
    virtual void Close() = 0;
    virtual bool Closed() const = 0;
};

// What a session reads of the window's configuration and shares of its loop.
// The port table is the window's (filled by its start-up survey); a session
// opens, closes and changes the line of its ports.
struct TSessionContext {
    const StartOptions& Options;
    const Settings& Config;
    const std::vector<DeviceRow>& DeviceTable;
    const std::vector<std::string>& FirmwareFiles;
    const int& StartModeAsRead;
    const bool& CloseOnInfo;
    const std::string& AbbruchtextD;
    const std::string& AbbruchtextE;
    const programmers::TPressureTable& Pressures;
    const std::string& AnyFileName;
    const bool& AnyFileMode;
    std::array<serial::TComPort*, MaxPorts>& PortTable;
    const int& PortCount;
    const std::array<int, MaxPorts>& PortNumbers;
    kernel::TEvents& Events;
    kernel::TTimerPool& Timers;
};

// One update session at a time: its state, its port and reply reader, its
// steps and its outcome. The window keeps one for its whole life; each start
// begins a new session on it, and what carries from one session to the next
// (search failures, the tool step, the ports passed over) stays here.
// It reads the window's configuration and shares its loop as a TSessionContext.
class UpdateSession : private TSessionContext {
public:
    UpdateSession(TSessionWindow& window, const TSessionContext& context, platform::Dialogs& shown);
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    // Puts the session's handler into the event chain; the session outlives
    // every pump that can call it.
    void Attach();

    // --- what the window reads
    const TSessionState& State() const { return Session; }
    bool SessionRunning() const { return Session.Running; }
    int ExitCode() const { return exitCode_; }
    const SessionReport& Report() const { return report_; }
    const SessionReport& FinishReport() {
        report_.Finish(exitCode_);
        return report_;
    }
    // The boxes shown through here are noted in the report.
    platform::Dialogs& Boxes() { return boxes_; }
    // The port the instrument answered on, nullptr before.
    serial::TComPort* SessionComPort() const;
    // Whether event::LineFailed's data is of the session's port now.
    bool CurrentLineFailure(std::intptr_t data) const;

    // --- what the window feeds in
    // The start mode and file class the device configuration gives.
    void TakeDeviceConfiguration(int startMode, int fileClass);
    void OnLineError(int portNumber);
    // The menu item LabXXX, or the probe answer 0x90 / "Q" (sender nullptr).
    void LabXXXClick(platform::TMenuItem* sender);
    // The items DevMultiZ70..DevCondZ70, or the probe's answer frame (nullptr).
    void TGZ70ProgrammingClick(platform::TMenuItem* sender);
    // Sends the set-clock command with the local time: seconds since 31 Dec
    // 2002 or, in day form, days since 30 Dec 1899.
    void SetClock(bool secondsForm);
    // One tick of TitleTimer: the share of the expected ticks gone by.
    double NextTitleTick();
    void AddLogLine(const std::string& text);
    std::string ExpandText(const std::string& text) const;
    programmers::TProgramFile LocateProgramFile(const std::string& name);

    // Every ending goes through here: the exit code, the report's outcome,
    // failed step and failure, and the operator's closing text together.
    // The failure is the one given, else the session's LastFailure. The
    // first ending of a session (or of its retry) decides: a later one only
    // logs its cause, unless its row concludes an ending (FailureRule::Kept).
    void End(Outcome what, programmers::TFailure failure = {});

    // --- for the programmer host
    // The session port handed to a tool and taken back; Reclaim gives why
    // the port did not open again.
    void ReleaseSessionPort();
    // The port's line hung up or failed; it stays so until the port opens again.
    static bool LineDied(const serial::TComPort& port);
    // Keeps the port's line for a retry, unless a dead device holds it: its
    // cached line is whatever the failed step could not set back.
    static void SaveLiveSessionLine(serial::TComPort& port);
    programmers::TFailure ReclaimSessionPort(bool lowSpeedAfter);
    // The title timer's estimate while a tool runs.
    void StartTitleEstimate(double ticksToFull);
    void StopTitleEstimate();
    // A tool's run again after it failed counts as a retry of the session.
    void CountRetry() { ++report_.Retries; }
    std::string BootErrorText(int flag) const;
    void ShowLogText(const std::string& text);
    std::string FindDefFile(std::uint32_t prozTyp) const;
    const std::string& Text(Msg id) const { return MessageText(id, Config.Language); }
    int Language() const { return Config.Language; }
    TSessionWindow& Window() { return window_; }
    const std::string& ProgramFolder() const { return Options.ProgramFolder; }
    kernel::TEvents& EventQueue() { return Events; }
    kernel::TTimerPool& TimerPool() { return Timers; }

private:
    // The tests' way in: they post a running session's events, drive its
    // steps and stand for what the instrument or the pump left in its state.
    friend class UpdateSessionTestView;

    void PostEvent(std::int32_t id, std::intptr_t data = 0);

    // --- serial ports
    void ChooseSessionPort(int tableIndex, int portNumber);
    // The data of event::LineFailed for a port table entry of this session.
    std::intptr_t LineFailedData(int tableIndex) const;
    // A port whose line failed while no instrument had answered: logged with
    // its cause and left out of the rest of the search. The session's own
    // port posts event::LineFailed instead.
    void PassOverFailedPort(int tableIndex);
    // A new session searches the ports passed over in the last one again.
    void ReopenPassedOverPorts();
    // A search or a menu recovery's probes found no instrument.
    void DecideNoInstrument();
    // The names of the ports a search uses, those passed over included.
    std::string SearchedPortNames() const;
    // The bootloader step's line on every port, for the probes of fileClass;
    // RestoreSearchLines puts back what it changed.
    void SetLoaderLine(int fileClass);
    void RestoreSearchLines();
    int PortTableIndexOf(int portNumber) const;

    // --- device protocol and identification
    // Writes to the session port and logs the command.
    void SendToSessionPort(const std::string& text);
    void SendAll(const std::string& text);
    // To the session port once it is chosen, else to every port.
    void SendCommand(const std::string& text, bool log = true);
    void SendBytes(const std::string& bytes);
    bool ScanStep(bool advance);
    void OnCharsReceived(int portNumber);
    void OnIdentificationAnswer(std::int32_t id, const std::string& text);
    // False when the file cannot be read: the session then fails at its check.
    bool ReadFileVersion(const std::string& marker, const std::string& fileName);
    std::string CurrentBaudText() const;
    // The exit command of the file class.
    std::string ExitCommand() const;
    // The bootloader probe of the file class: the first one in the
    // bootloader step, the second one on the reply time-out after it.
    void SendBootProbe(ProbeState probe);
    bool UpdateNeeded() const;
    bool BootUpdateNeeded() const;

    // --- files named by the configuration, found as on Windows
    // The file's name as it stands on disk into name; false when it cannot
    // be read, after the box naming it and the reason (failed at the check).
    bool TakeSessionFile(std::string& name);
    // ProgFile1, ProgFile3 and the further files of the matched entry.
    bool TakeSessionFiles();
    // The Basic-Loader file of the memory variant the instrument reported;
    // false after the check failed and the session ended without it.
    bool TakeBasicLoaderFile();
    // cause: in English, for the report; by default the file's path and why
    // it cannot be read.
    bool FailCheckForFile(const programmers::TProgramFile& file, std::string cause = {});

    // --- the steps
    void BeginNewSession();
    void OnReplyTimeout();
    void SessionFailed(std::int32_t id);
    bool CheckDevice();
    void FinishSession(bool reset);
    void AwaitInstrumentAfterProgramming(int boundMs = AfterProgrammingTimeoutMs);
    void RecoveredInstrumentSilent();
    void OnRestartTimeout();
    std::string WakeCommand() const;
    void StartSession();
    void OnAcknowledge();
    void OnInstrumentReply(std::int32_t id, std::intptr_t data);
    bool IgnoredOutOfTurn();
    // event::LineFailed while no programmer runs.
    void OnSessionLineFailed();
    // The calibration got no answer or its line died: the session ends as
    // after a failed boot file, with no retry.
    void FailCalibration(programmers::TFailure failure);
    void SearchFailed();
    void ShowDuration(int kind);
    void ClearIdentity();
    void EndAfterCheck();
    // The session lasts until the exit command's acknowledge has been read
    // (or ExitAckMs passed): left on the line, it would be the next
    // session's first acknowledge and drive its steps.
    void AwaitExitAck();
    // The exit command after an identification or a check that ends the session.
    void SendExitAfterCheck();
    void ProgrammingStep(std::int32_t id);
    void BootloaderFileStep();
    void AwaitInstrumentAfterTool(int boundMs = AfterToolTimeoutMs);
    void AwaitRestart(int boundMs, bool askOnSilence);
    // Posts the reports held during the last programmer run, in order.
    void ReleaseHeldReports();
    // The Basic-Loader has reported success: the session ends.
    void EndAfterBasicLoader();
    // What the session knows for the registry's choice; fileClass: the
    // class the step transfers.
    programmers::TSessionKey SessionKey(programmers::Phase phase, int fileClass) const;
    // Runs the method the registry chooses for the step on the session
    // port; false when it failed or no method serves the step.
    bool RunProgrammer(programmers::Phase phase, int fileClass, const std::string& fileName);

    // --- a line that died behind a successful transfer (AfterTransfer.cpp)
    // True when it did: the step after the transfer, next, fails with the
    // line's cause instead of running; none: the failed step's own retry.
    bool LineDiedBehindTransfer(std::optional<AfterTransfer> next);
    // resumeAt: where OK picks up; none keeps the failed step's own retry.
    void FailAfterTransfer(programmers::TFailure failure, std::optional<AfterTransfer> resumeAt);
    // Where OK picks up when the wait in progress fails (its line died, or
    // silence); none: the failed step runs again.
    std::optional<AfterTransfer> ResumePoint(bool lineDied) const;
    // OK after a failure resumes at next (a recovery's retry stays its own).
    void RetryAfterTransferAt(AfterTransfer next);
    // Sends the clock and awaits its acknowledge for boundMs; afterTransfer:
    // a transfer stands behind it, so silence retries only the clock.
    void SetClockAndAwaitAck(bool secondsForm, int boundMs, bool afterTransfer);
    // OK after a failure: the session port, when its line died or it is
    // closed, opened again at the line kept when the failed step began (or
    // at 9600 for the new firmware, lowSpeedAfter); false (and the failure
    // posted) when it does not open.
    bool ReopenSessionPortForRetry(bool lowSpeedAfter);
    // OK after that failure: the port opened again, and next runs.
    void ResumeAfterTransfer();

    // --- recovery of a lab instrument that waits in its loader
    // The entry of the item's Tag, or entry 1 after a "Q".
    void StartLabRecovery(int tag);
    void RunLabRecovery();
    // The line the recovered firmware speaks at.
    void SetRecoveredFirmwareLine();

    // --- recovery of a hand-held meter that waits in its bootloader
    void RunMeterRecovery();
    // Takes the identity from the device entry and hands flowEvent to FlowHandler.
    void StartRecoveryFlow(std::size_t entry, std::int32_t flowEvent);
    // A menu recovery before any instrument answered: on the fixed port, or
    // on the port whose loader answers the probe.
    void BeginMenuRecovery(RecoveryKind kind, int tag);
    void RunRecovery(RecoveryKind kind, int tag);
    void NoLoaderAnswered();
    // A normal session looks for the recovered instrument; a search that
    // finds nobody fails the recovery.
    void SearchAfterRecovery();
    // OK after a failed recovery: the same recovery, from its device check.
    void RetryRecovery(std::int32_t flowEvent);
    // A menu item chosen while a session runs on its port: logged, refused.
    bool RefuseRecoveryDuringSession(platform::TMenuItem* sender);
    void EndRecoveryUnprogrammed();
    // The recovery flow's handler in front of the sequencer, or out of the
    // chain again; Leave tells whether it was in.
    void EnterRecoveryFlow();
    bool LeaveRecoveryFlow();

    // --- external programming tools
    // The method the registry chooses for the tool step, run as a
    // programmer; 0 when it succeeded, 1 when it failed or none serves.
    int RunExternalTool(programmers::Phase phase, const std::string& fileName);

    // --- handlers in the event chain
    static kernel::TEventRec SessionHandler(void* context, kernel::TEvents& events,
                                            kernel::TEventRec event);
    static kernel::TEventRec CalibHandler(void* context, kernel::TEvents& events,
                                          kernel::TEventRec event);
    static kernel::TEventRec FlowHandler(void* context, kernel::TEvents& events,
                                         kernel::TEventRec event);
    static kernel::TEventRec RetryHandler(void* context, kernel::TEvents& events,
                                          kernel::TEventRec event);
    // Keeps the instrument's reports while a programmer runs (RunProgrammer).
    static kernel::TEventRec HoldReports(void* context, kernel::TEvents& events,
                                         kernel::TEventRec event);
    kernel::TEventRec HandleSessionEvent(kernel::TEventRec event);

    // --- the report's view of the session
    void NoteIdentity(const std::string& name);
    void NoteFirmware();
    void NotePort();
    // --- why a session ended, for the report (FailureCauses.cpp)
    // No instrument on the ports searched; the step is the report's.
    programmers::TFailure
    NoInstrumentFailure(const std::string& lead = "no instrument answered on ") const;
    // The check found an entry (or none) that does not fit the instrument.
    programmers::TFailure WrongDeviceFailure(int entry, bool fileKnown) const;
    programmers::TFailure RestartSilenceFailure() const;
    // --identify: the identity and the decision, then the exit command.
    void EndIdentification(bool updateAvailable);
    // The exit command's acknowledge came, or its wait ended.
    void EndAfterExitAck();

    TSessionWindow& window_;
    // --- the session: sequencer, instrument, port, job, receive side
    TSessionState Session;
    // --- the outcome
    int exitCode_ = exitcode::Success;
    // What this run did, for --report; filled at the session's steps.
    SessionReport report_;
    ReportingDialogs boxes_;
    platform::Dialogs& dialogs_;
    bool recoveryFlow_ = false; // FlowHandler is in the chain
    // Each port's line before the bootloader step changed it.
    std::array<serial::V24ParameterTag, MaxPorts> searchLines_{};
    bool searchLinesSaved_ = false;
    // Per port table entry: the port index of a port passed over, else -1.
    std::array<int, MaxPorts> passedOver_ = [] {
        std::array<int, MaxPorts> none{};
        none.fill(-1);
        return none;
    }();
};

} // namespace app
