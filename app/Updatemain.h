#pragma once

#include "app/DeviceTable.h"
#include "app/Messages.h"
#include "app/ReportingDialogs.h"
#include "app/SessionEnd.h"
#include "app/SessionReport.h"
#include "app/SessionState.h"
#include "app/Settings.h"
#include "i18n/Sprachdlg.h"
#include "kernel/Events.h"
#include "kernel/Timer.h"
#include "platform/Controls.h"
#include "platform/Dialogs.h"
#include "platform/Message.h"
#include "platform/TimerComponent.h"
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
// Reference air pressures of individual instruments, next to the program.
inline constexpr const char* PressureTableFile = "Luftdruck.dat";

// Keys and modifier flags of FormKeyUp, with their Windows values.
inline constexpr int VK_RETURN = 0x0D;
inline constexpr int VK_ESCAPE = 0x1B;
inline constexpr int VK_SPACE = 0x20;
inline constexpr int VK_F1 = 0x70;
inline constexpr int VK_F10 = 0x79;
inline constexpr int VK_F11 = 0x7A;
inline constexpr int VK_F12 = 0x7B;
inline constexpr unsigned ssShift = 1;
inline constexpr unsigned ssAlt = 2;
inline constexpr unsigned ssCtrl = 4;
inline constexpr std::size_t MaxTextLength = 511;

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

// The main window: owns the event queue, the timer pool, the configuration
// and the form model every front-end renders.
class TUpdateForm : public platform::TForm, public platform::MessageTarget {
public:
    TUpdateForm(platform::Dialogs& dialogs, StartOptions options);
    ~TUpdateForm() override;

    // --- event side
    kernel::TEventRec ProcessEvents();
    void Dispatch(platform::Message& message) override;
    void TimerIntervall(platform::TTimer& sender);
    void OkBitBtnClick();
    void StartTimerTimer();
    void SecTimerTimer();
    platform::HWND Handle() const { return handle_; }
    platform::Dialogs& DialogService() { return dialogs_; }
    const std::string& ProgramFolder() const { return options_.ProgramFolder; }

    // --- configuration
    int ReadUpdateIni(const std::string& fileName);
    int ReadProgDeviceIni(const std::string& fileName);
    int WriteUpdateIni(const std::string& fileName);
    void ListFirmwareFiles();

    // --- texts, log and progress
    std::string ExpandText(const std::string& text) const;
    const std::string& StartText() const;
    const std::string& Text(Msg id) const { return MessageText(id, Config.Language); }
    void AddLogLine(const std::string& text);
    void SetProgressMaximum(int maximum, programmers::ProgressUnit unit);
    void SetProgressPosition(int position);
    void AdvanceProgress(int steps);
    void AdvanceProgressBar(int steps);
    std::string ShowTitleProgress(const std::string& prefix, double percent);
    void ShowTitleState(programmers::TitleState state);
    void ShowLoaderVersion(const std::string& version);
    void TitleTimerTimer();
    // The seconds left of a long pause after the wait panel's caption; 0 ends it.
    void ShowWaitCountdown(long secondsLeft);

    // --- menu and keys
    void LanguageClick(platform::TMenuItem& item);
    void ReadmeClick();
    void SWVersionClick();
    void FormKeyUp(int key, unsigned shift);
    void LoadProgFileClick();
    std::string GuideFileName() const;

    // --- serial ports
    void SurveyPorts();
    // --port takes the place of Com= for this run: its number is found
    // before the first port survey, which then sees that port alone.
    void AssignPortOption();
    void TakePortOption();
    void OpenFixedPort();
    void OpenUsablePorts();
    void NotePortsPassedOver();
    void ClosePorts();
    // The port the instrument answered on, nullptr before.
    serial::TComPort* SessionComPort() const;
    void ChooseSessionPort(int tableIndex, int portNumber);
    // A port whose line failed while no instrument had answered: logged with
    // its cause and left out of the rest of the search. The session's own
    // port posts event::LineFailed instead.
    void PassOverFailedPort(int tableIndex);
    // A new session searches the ports passed over in the last one again.
    void ReopenPassedOverPorts();
    // A search or a menu recovery's probes found no instrument.
    void DecideNoInstrument();
    // What every session's start resets: start mode, lines, state, report.
    void BeginNewSession();
    // The names of the ports a search uses, those passed over included.
    std::string SearchedPortNames() const;
    // The bootloader step's line on every port, for the probes of fileClass;
    // RestoreSearchLines puts back what it changed.
    void SetLoaderLine(int fileClass);
    void RestoreSearchLines();
    // Writes to the session port and logs the command.
    void SendToSessionPort(const std::string& text);

    // --- device protocol and identification
    void SendAll(const std::string& text);
    // To the session port once it is chosen, else to every port.
    void SendCommand(const std::string& text, bool log = true);
    void SendBytes(const std::string& bytes);
    bool ScanStep(bool advance);
    void OnCharsReceived(int portNumber);
    void OnLineError(int portNumber);
    void OnIdentificationAnswer(std::int32_t id, const std::string& text);
    bool CheckDevice();
    // False when the file cannot be read: the session then fails at its check.
    bool ReadFileVersion(const std::string& marker, const std::string& fileName);
    std::string FindDefFile(std::uint32_t prozTyp) const;
    std::string CurrentBaudText() const;
    // The wake command of the start mode, the exit command of the file class.
    std::string WakeCommand() const;
    std::string ExitCommand() const;
    // The bootloader probe of the file class: the first one in the
    // bootloader step, the second one on the reply time-out after it.
    void SendBootProbe(ProbeState probe);
    bool UpdateNeeded() const;
    bool BootUpdateNeeded() const;

    // --- files named by the configuration, found as on Windows
    programmers::TProgramFile LocateProgramFile(const std::string& name);
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

    // --- session
    void StartSession();
    void OnAcknowledge();
    void OnReplyTimeout();
    void OnInstrumentReply(std::int32_t id, std::intptr_t data);
    bool IgnoredOutOfTurn();
    void FinishSession(bool reset);
    void SessionFailed(std::int32_t id);
    // event::LineFailed while no programmer runs.
    void OnSessionLineFailed();
    // The calibration got no answer or its line died: the session ends as
    // after a failed boot file, with no retry.
    void FailCalibration(programmers::TFailure failure);
    void SearchFailed();
    void ShowDuration(int kind);
    std::string BootErrorText(int flag) const;
    void ShowLogText(const std::string& text);
    void ClearIdentity();
    void EndAfterCheck();
    // The session lasts until the exit command's acknowledge has been read
    // (or ExitAckMs passed): left on the line, it would be the next
    // session's first acknowledge and drive its steps.
    void AwaitExitAck();
    // The exit command after an identification or a check that ends the session.
    void SendExitAfterCheck();
    void PostEvent(std::int32_t id, std::intptr_t data = 0);
    bool SessionRunning() const { return Session.Running; }
    void ProgrammingStep(std::int32_t id);
    void BootloaderFileStep();
    void AwaitInstrumentAfterProgramming(int boundMs = AfterProgrammingTimeoutMs);
    void AwaitInstrumentAfterTool(int boundMs = AfterToolTimeoutMs);
    void AwaitRestart(int boundMs, bool askOnSilence);
    void OnRestartTimeout();
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

    // --- recovery of a lab instrument that waits in its loader
    // The menu item LabXXX, or the probe answer 0x90 / "Q" (sender nullptr).
    void LabXXXClick(platform::TMenuItem* sender);
    // The entry of the item's Tag, or entry 1 after a "Q".
    void StartLabRecovery(int tag);
    void RunLabRecovery();
    // The line the recovered firmware speaks at.
    void SetRecoveredFirmwareLine();

    // --- recovery of a hand-held meter that waits in its bootloader
    // The items DevMultiZ70..DevCondZ70, or the probe's answer frame (nullptr).
    void TGZ70ProgrammingClick(platform::TMenuItem* sender);
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
    void RecoveredInstrumentSilent();
    // OK after a failed recovery: the same recovery, from its device check.
    void RetryRecovery(std::int32_t flowEvent);
    // A menu item chosen while a session runs on its port: logged, refused.
    bool RefuseRecoveryDuringSession(platform::TMenuItem* sender);
    void EndRecoveryUnprogrammed();
    // The recovery flow's handler in front of the sequencer, or out of the
    // chain again; Leave tells whether it was in.
    void EnterRecoveryFlow();
    bool LeaveRecoveryFlow();
    bool RecoveryFlowActive() const { return recoveryFlow_; }

    // --- external programming tools
    // The method the registry chooses for the tool step, run as a
    // programmer; 0 when it succeeded, 1 when it failed or none serves.
    int RunExternalTool(programmers::Phase phase, const std::string& fileName);
    // The session port handed to a tool and taken back (the host services
    // of TFormServices); Reclaim gives why the port did not open again.
    void ReleaseSessionPort();
    programmers::TFailure ReclaimSessionPort(bool lowSpeedAfter);
    // The title timer's estimate while a tool runs.
    void StartTitleEstimate(double ticksToFull);
    void StopTitleEstimate();

    // --- device commands
    // Sends the set-clock command with the local time: seconds since 31 Dec
    // 2002 or, in day form, days since 30 Dec 1899.
    void SetClock(bool secondsForm);

    // --- closing
    void Beenden();
    void FormClose();
    // A request to end from outside (SIGTERM, SIGINT): a running session is
    // cut off as by closing the window, and the run counts as aborted.
    void OnTerminationSignal();
    bool Closed() const { return closed_; }

    // Every ending goes through here: the exit code, the report's outcome,
    // failed step and failure, and the operator's closing text together.
    // The failure is the one given, else the session's LastFailure.
    void End(Outcome what, programmers::TFailure failure = {});
    int ExitCode() const { return exitCode_; }

    int PumpDepth = 0;
    // What this run did, for --report; filled at the session's steps.
    SessionReport Report;

    // --- configuration, read at start-up
    Settings Config;
    std::vector<DeviceRow> DeviceTable;
    std::vector<std::string> FirmwareFiles;
    int StartModeAsRead = 0; // from DevStartCmd; Session.StartMode is the one in use
    bool CloseOnInfo = false;
    std::string StarttextD, StarttextE, AbbruchtextD, AbbruchtextE;
    programmers::TPressureTable Pressures;
    // The operator's choice of any program file (Ctrl+Alt+F12, LoadProgFile).
    std::string AnyFileName;
    bool AnyFileMode = false;

    // --- the update session: sequencer, instrument, port, job, receive side
    TSessionState Session;

    // --- serial ports
    std::array<serial::TComPort*, MaxPorts> PortTable{};
    int PortCount = 0;
    std::array<int, MaxPorts> PortNumbers{};

    kernel::TEvents Events;
    kernel::TTimerPool Timers;

    // --- components, in the form's order
    platform::TBevel* MainBevel;
    platform::TMemo* UpdateMemo;
    platform::TGroupBox* UpdateGroupBox;
    platform::TLabel *NameLabel, *SerLabel, *PCBLabel, *SWLabel;
    platform::TStaticText *NameStaticText, *SerStaticText, *PCBStaticText, *SWStaticText;
    platform::TLabel* DLLabel;
    platform::TListBox* DLListBox;
    platform::TPanel* KeyPanel;
    platform::TBitBtn* OkBitBtn;
    platform::TSpeedButton* SpeedButton1;
    platform::TStaticText* InfoStaticText;
    platform::TStatusBar* UpdateStatusBar;
    platform::TPanel* WaitPanel;
    platform::TProgressBar* WaitProgressBar;
    platform::TPanel* StopPanel;
    platform::TMainMenu* MainMenu1;
    platform::TMenuItem *Bearbeiten, *TGZ70Programming, *DevMultiZ70, *DevpHZ70, *DevOxiZ70,
        *DevCondZ70, *LabXXX, *LoadProgFile, *UpdateEnd;
    platform::TMenuItem *Sprache, *Deutsch, *Englisch;
    platform::TMenuItem *Help, *Readme, *SWVersion;
    platform::TTimer *Timer1, *Timer2, *Timer3, *Timer4, *Timer5;
    platform::TTimer *SecTimer, *TitleTimer, *StartTimer;
    serial::TDelay* wait;
    serial::TComPort* UpdateCom;
    i18n::TLanguage* UpdateSprachDialog;

private:
    void CreateComponents();
    void CreateMenu();
    void ConnectHandlers();
    void RunStartUp();
    void LogDropped(const std::vector<std::string>& dropped);
    void ReadDeviceBlock(const std::vector<std::string>& block, std::vector<std::string>& dropped);
    void ReadTextBlock(const std::vector<std::string>& block, std::vector<std::string>& dropped);
    bool LocateUpdateIni(const std::string& fileName, std::string& savePath,
                         std::vector<std::string>& lines) const;
    void ShowStartText();
    void TranslateWindow();
    void LoadPressureTable();

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
    int PortTableIndexOf(int portNumber) const;
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

    int exitCode_ = exitcode::Success;
    ReportingDialogs boxes_;
    platform::Dialogs& dialogs_;
    StartOptions options_;
    platform::HWND handle_ = 0;
    bool closed_ = false;
    std::size_t ignoredDeviceBlocks_ = 0;
    std::string countdownSuffix_; // what ShowWaitCountdown added to the caption
    int portOptionIndex_ = -1;
    std::string portOptionError_;
    bool countdownShowedPanel_ = false;
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
