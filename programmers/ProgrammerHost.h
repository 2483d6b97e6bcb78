#pragma once

#include "kernel/Events.h"
#include "kernel/Timer.h"
#include "platform/Dialogs.h"
#include "programmers/ProgrammerResult.h"

#include <cstdint>
#include <string>

namespace programmers {

// Operator texts of the programmers; the main window gives them in the
// session language.
enum class ProgrammerText {
    CaptionError,       // caption of an error box
    FirmwareFile,       // "Firmware-Datei", before the quoted path
    FileUnreadable,     // the file cannot be read
    FileMissing,        // no file of that name in any case
    FileAmbiguous,      // before the names of files that differ in case only
    NotAFile,           // a folder (or a broken link) stands where the file should be
    ProgrammingAborted, // last line of a failure box
    DifferenceAt,       // read back differs, before the address "0x..."
    NoResetVector,      // the image holds no reset vector (0xFFFE, 0xFFFF)
    FileTooLarge,       // before the file's size and the largest one taken
    ChecksumMismatch,   // before the reported and the expected image CRC
    NoAnswer,           // the instrument stopped acknowledging
    // An XMODEM upload the receiver does not finish; the packet follows.
    XmodemRefused,   // NAK again and again
    XmodemRestarted, // 'C' again and again
    XmodemCancelled, // CAN
    XmodemStalled,   // no packet acknowledged for the watchdog's time
    // The Basic-Loader's texts (NAME and COM X are expanded by the log).
    TermPreparing,
    TermProgramming,
    TermSuccessful,
    TermTransmitError,
    TermAborted,
    TermFileMissing, // names L3_TermL.A37; the caller puts in the file it tried
    CommandRefused,  // the instrument answered "?"; the command follows
    // The external tools and the updater library; what they name follows.
    ToolNotStarted,     // the tool's path
    ToolFailed,         // exit code ": " path
    ToolEndedAtClose,   // the program closed while the tool ran
    ToolPortTooHigh,    // "PORT" stands for the port the tool cannot be told
    UpdaterPathTooLong, // the path
    UpdaterLeftBehind,  // the program closed during a library call
};

// What the wait bar counts, for front-ends that print the counts: a
// method's blocks or loader frames, the bytes sent, or a share alone.
enum class ProgressUnit { Blocks, Bytes, Percent };

// The title and status panel 4 while they show no percentage.
enum class TitleState {
    Plain,    // "Update" alone and the panel empty: a transfer starts or ends
    Complete, // 100 %
    Ended,    // the session is over
};

// What a programmer asks of the main window while it runs. The window
// implements it; tests use a fake.
class TProgrammerHost {
public:
    virtual ~TProgrammerHost() = default;

    // The event pump; a programmer calls it in its blocking run.
    virtual kernel::TEventRec ProcessEvents() = 0;
    virtual kernel::TEvents& EventQueue() = 0;
    virtual kernel::TTimerPool& TimerPool() = 0;
    // A line of the debug log (shown only in debug mode).
    virtual void AddLogLine(const std::string& text) = 0;
    // A line that is always shown in the log.
    virtual void ShowLogLine(const std::string& text) = 0;
    // The wait bar. Its maximum comes before the first step, with what a
    // step is; a position or maximum of 0 ends what the bar showed.
    virtual void SetProgressMaximum(int maximum, ProgressUnit unit) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Moves the bar on and shows the share done in the title.
    virtual void AdvanceProgress(int steps) = 0;
    // Moves the bar on; the title is left to whoever owns it.
    virtual void AdvanceProgressBar(int steps) = 0;
    // Status panel 2: the line speed in use.
    virtual void ShowBaudText(const std::string& text) = 0;
    // The bootloader failure text for an error step, in the session language.
    virtual std::string BootErrorText(int step) = 0;
    virtual std::string Text(ProgrammerText id) const = 0;
    virtual platform::Dialogs& Dialogs() = 0;
    virtual int Language() const = 0;
    // Folder of the program: firmware files, the patch and the loader settings.
    virtual std::string ProgramFolder() const = 0;
    // ProgDefFile of the first device entry whose processor is chipId, or
    // empty (images chosen by the chip the loader reports).
    virtual std::string FindDefFile(std::uint32_t /*chipId*/) { return {}; }
    virtual void ClearLog() = 0;
    // Status panel 4 and the title: prefix and percentage done, 0 to 100.
    virtual void ShowTitleProgress(const std::string& prefix, double percent) = 0;
    virtual void ShowTitleState(TitleState state) = 0;
    // The instrument's bootloader version, beside the software version shown.
    virtual void ShowLoaderVersion(const std::string& version) = 0;
    // One audible signal, as the front-end gives it.
    virtual void Beep() { Dialogs().Beep(); }
    // Whether event::LineFailed with this data is of the programmer's own
    // line: one of an earlier session, or of another port, is not.
    virtual bool CurrentLineFailure(std::intptr_t /*data*/) const { return true; }

    // --- For a programmer that hands the session port to another program.
    // The port's COM number, as the program is told it.
    virtual int SessionPortNumber() const = 0;
    // Closes the session port; its line settings are kept for its return.
    virtual void ReleaseSessionPort() = 0;
    // Opens it again, at 9600 8N2 with lowSpeedAfter, else with the kept
    // settings. Empty when it is back or the program is closing; else why
    // not, after the port's box.
    virtual TFailure ReclaimSessionPort(bool lowSpeedAfter) = 0;
    // The title counts towards 100 % in ticksToFull ticks of its timer, from
    // 0, until StopTitleEstimate.
    virtual void StartTitleEstimate(double ticksToFull) = 0;
    virtual void StopTitleEstimate() = 0;
    // Another attempt of the step, for the report.
    virtual void CountRetry() = 0;
};

} // namespace programmers
