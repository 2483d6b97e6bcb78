#pragma once

#include <cstdint>
#include <span>

namespace app {

// The programming steps a session can fail in. The one running when a
// failure is posted decides what OK then repeats.
enum class RetryableStep : std::uint8_t {
    None,               // no step of its own: the file class's retry message
    ToolForProgFile1,   // the external tool for ProgFile1 (acknowledge step 2)
    ToolForProgramFile, // the external tool for the program file
    Class1Loader,       // an MSP430 loader with the program file (.TXT)
    BlockTransfer,      // the file loader's block transfer (.EXE)
    Class4Loader,       // the device loader or the XMODEM bootloader (.BIN)
    LabTransfer,        // the lab file transfer of the bootloader-file step
    BootFileLoader,     // the ROM loader with ProgFile3 in the bootloader-file step
    BasicLoader,        // the Basic-Loader's terminal program
    LabRecovery,        // a lab instrument's recovery through its MSP430 loader
    MeterRecovery,      // a meter's recovery through the external tool
    Restart,            // the step after a transfer, whose line died
};

// Retry of a failure outside any step: the retry message of the file class.
inline constexpr std::int32_t RetryOfFileClass = -1;
// Retry of a step that offers none: OK starts a new session.
inline constexpr std::int32_t NoRetry = 0;

// What OK after a failure of one step does.
struct TRetryRow {
    RetryableStep Failed;
    // The event OK posts, RetryOfFileClass or NoRetry.
    std::int32_t Retry;
    // The retry runs on the acknowledge path, from acknowledge step 2.
    bool FromToolAckStep;
    // The recovery flow runs again from its device check (a search since
    // may have cleared the job) and its handler takes the retry event.
    bool InRecoveryFlow;
    // The step lends the session port to an external tool, which takes it
    // over and gives it back itself.
    bool LendsPortToTool;
    const char* Name; // for the log and the tests
};

// One row per step.
std::span<const TRetryRow> RetryTable();
const TRetryRow& RetryRowOf(RetryableStep step);

} // namespace app
