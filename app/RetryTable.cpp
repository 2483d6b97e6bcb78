#include "app/RetryTable.h"

#include "programmers/Protocol.h"

#include <array>

namespace app {

namespace {

namespace event = protocol::event;

// A step that failed is repeated as it was started, on the line it left the
// instrument on: the class-1 retry takes the loader the instrument now waits
// in, a lab transfer or Basic-Loader runs again against the new firmware, a
// recovery goes back into its flow. A failed bootloader file offers no retry.
// A transfer that succeeded is not repeated when the line died after it: the
// step after it resumes on the port opened again.
constexpr std::array<TRetryRow, 12> Rows = {{
    {RetryableStep::None, RetryOfFileClass, true, false, false, "by file class"},
    {RetryableStep::ToolForProgFile1, event::AcknowledgeAgain, true, false, true,
     "tool for ProgFile1"},
    {RetryableStep::ToolForProgramFile, event::ToolStep, false, false, true,
     "tool for the program file"},
    {RetryableStep::Class1Loader, event::RetryClass1, false, false, false, "MSP430 loader"},
    {RetryableStep::BlockTransfer, event::StartClass2, false, false, false, "block transfer"},
    {RetryableStep::Class4Loader, event::StartClass4, false, false, false,
     "device or XMODEM loader"},
    {RetryableStep::LabTransfer, event::BootloaderFileStep, false, false, false,
     "lab file transfer"},
    {RetryableStep::BootFileLoader, NoRetry, false, false, false, "bootloader file"},
    {RetryableStep::BasicLoader, event::TerminalStep, false, false, false, "Basic-Loader"},
    {RetryableStep::LabRecovery, event::Recovery, false, true, false, "lab recovery"},
    {RetryableStep::MeterRecovery, event::AcknowledgeAgain, false, true, true, "meter recovery"},
    {RetryableStep::Restart, event::ResumeAfterTransfer, false, false, false,
     "step after the transfer"},
}};

} // namespace

std::span<const TRetryRow> RetryTable() {
    return Rows;
}

const TRetryRow& RetryRowOf(RetryableStep step) {
    for (const TRetryRow& row : Rows) {
        if (row.Failed == step) {
            return row;
        }
    }
    return Rows.front();
}

} // namespace app
