#pragma once

#include "app/UpdateSession.h"
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

// The main window: owns the event queue, the timer pool, the configuration,
// the port table and the form model every front-end renders; it starts,
// feeds and ends sessions through its UpdateSession. Its public part is what
// the front-ends use.
class TUpdateForm : public platform::TForm, public platform::MessageTarget, private TSessionWindow {
public:
    TUpdateForm(platform::Dialogs& dialogs, StartOptions options);
    ~TUpdateForm() override;

    // --- what the front-ends drive: keys, closing
    platform::HWND Handle() const override { return handle_; }
    void FormKeyUp(int key, unsigned shift);
    void FormClose();
    void Beenden();
    bool Closed() const override { return closed_; }

    // --- the session's outcome
    bool SessionRunning() const { return session_.SessionRunning(); }
    int ExitCode() const { return session_.ExitCode(); }
    // Once the loop has ended: the report with its end, exit code and, when
    // nothing decided it, its outcome.
    const SessionReport& FinishReport() { return session_.FinishReport(); }

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
    // The tests' way in: they drive the handlers below as an operator or a
    // timer would, and read or arrange the window's state.
    friend class TUpdateFormTestView;

    // --- event side
    // The window's messages, delivered by the platform loop through its
    // MessageTarget.
    void Dispatch(platform::Message& message) override;
    kernel::TEventRec ProcessEvents() override;
    void DispatchUnlessStale(kernel::TEventRec event);
    void TimerIntervall(platform::TTimer& sender);
    void OkBitBtnClick();
    void StartTimerTimer();
    void SecTimerTimer();

    // --- configuration
    int ReadUpdateIni(const std::string& fileName);
    int ReadProgDeviceIni(const std::string& fileName);
    int WriteUpdateIni(const std::string& fileName);
    void ListFirmwareFiles();

    // --- texts, log and progress
    std::string ExpandText(const std::string& text) const { return session_.ExpandText(text); }
    const std::string& StartText() const;
    const std::string& Text(Msg id) const { return MessageText(id, config_.Language); }
    void SetProgressMaximum(int maximum, programmers::ProgressUnit unit) override;
    void SetProgressPosition(int position) override;
    void AdvanceProgress(int steps) override;
    void AdvanceProgressBar(int steps) override;
    std::string ShowTitleProgress(const std::string& prefix, double percent) override;
    void ShowTitleState(programmers::TitleState state) override;
    void ShowLoaderVersion(const std::string& version) override;
    void TitleTimerTimer();
    // The seconds left of a long pause after the wait panel's caption; 0 ends it.
    void ShowWaitCountdown(long secondsLeft);

    // --- menu and keys
    void LanguageClick(platform::TMenuItem& item);
    void ReadmeClick();
    void SWVersionClick();
    void LoadProgFileClick();
    std::string GuideFileName() const;
    void LabXXXClick(platform::TMenuItem* sender) { session_.LabXXXClick(sender); }
    void TGZ70ProgrammingClick(platform::TMenuItem* sender) {
        session_.TGZ70ProgrammingClick(sender);
    }

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
    serial::TComPort* SessionComPort() const { return session_.SessionComPort(); }

    // A request to end from outside (SIGTERM, SIGINT): a running session is
    // cut off as by closing the window, and the run counts as aborted.
    void OnTerminationSignal();

    // --- start-up
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
    programmers::TProgramFile LocateProgramFile(const std::string& name) {
        return session_.LocateProgramFile(name);
    }

    // --- the window as the session sees it (TSessionWindow)
    void ShowLine(const std::string& text) override;
    void ClearLog() override;
    void ShowIdentityField(IdentityField field, const std::string& text) override;
    void EnableOk(bool enabled) override;
    void EnableRecoveryMenu(bool enabled) override;
    void ShowStatusPanel(int panel, const std::string& text) override;
    void ShowWaitPanel(bool visible) override;
    void RunWaitBar(bool running) override;
    void RunTitleProgress(bool running) override;
    serial::TDelay& Wait() override { return *wait; }
    void Close() override { Beenden(); }

    int pumpDepth_ = 0;

    // --- configuration, read at start-up (the session reads it too)
    Settings config_;
    std::vector<DeviceRow> deviceTable_;
    std::vector<std::string> firmwareFiles_;
    int startModeAsRead_ = 0; // from DevStartCmd; the session's StartMode is the one in use
    bool closeOnInfo_ = false;
    std::string starttextD_, starttextE_, abbruchtextD_, abbruchtextE_;
    programmers::TPressureTable pressures_;
    // The operator's choice of any program file (Ctrl+Alt+F12, LoadProgFile).
    std::string anyFileName_;
    bool anyFileMode_ = false;

    // --- serial ports
    std::array<serial::TComPort*, MaxPorts> portTable_{};
    int portCount_ = 0;
    std::array<int, MaxPorts> portNumbers_{};

    kernel::TEvents events_;
    kernel::TTimerPool timers_;

    StartOptions options_;
    // Why the configuration could not be read, for the end it causes.
    programmers::TFailure startUpFailure_;
    UpdateSession session_;
    platform::Dialogs& dialogs_;
    platform::HWND handle_ = 0;
    bool closed_ = false;
    std::size_t ignoredDeviceBlocks_ = 0;
    std::string countdownSuffix_; // what ShowWaitCountdown added to the caption
    int portOptionIndex_ = -1;
    std::string portOptionError_;
    bool countdownShowedPanel_ = false;
};

} // namespace app
