#pragma once

#include "kernel/Events.h"
#include "kernel/Timer.h"
#include "platform/Dialogs.h"

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
    virtual void ShowProgress(int code, std::intptr_t value) = 0;
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
    // Status panel 4 and the title: prefix and percentage; -1 resets them,
    // below -999 shows the session as ended.
    virtual void ShowTitleProgress(const std::string& prefix, double percent) = 0;
    // One audible signal, as the front-end gives it.
    virtual void Beep() { Dialogs().Beep(); }
};

} // namespace programmers
