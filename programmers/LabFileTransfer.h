#pragma once

#include "programmers/Programmerunit.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace programmers {

inline constexpr std::size_t LabBlockSize = 255; // the count byte bounds a block
// No acknowledge for this long ends the transfer as failed.
inline constexpr std::uint32_t LabAckTimeoutMs = 10 * 1000;

// The lab instruments' file list: each file announced by its name in lower
// case, sent in counted blocks and closed, every command acknowledged before
// the next. Program takes the list's first file; the rest follow from the job.
class TLabFileTransfer : public TProgrammerTyp {
public:
    explicit TLabFileTransfer(const TProgrammerContext& context);

    TProgrammerResult Program(const std::string& fileName) override;

protected:
    void Abort() override;
    bool TakesKey(std::int32_t id) const override;
    bool AbortsOnEscape() const override { return false; }
    bool TakesReply(std::int32_t id) const override;
    void OnReply(std::int32_t id, std::intptr_t data) override;
    void OnWatchdog() override;

private:
    // Opens a file and announces it; false after the box naming it.
    // extraSteps: bar steps besides the blocks.
    bool StartFile(const std::string& name, std::size_t extraSteps);
    bool StartFirstFile();
    void NextFile();
    // Writes a command and keeps its name for the log of a refusal.
    bool Send(const std::string& command);

    std::string Data; // the open file
    std::size_t Remaining = 0;
    std::size_t FileIndex = 0; // next entry of the job's list
    bool Active = false;       // a file is being sent
    std::string FirstFile;
    bool ClosingLeftFile = false; // the close of a file a failed run left open
    std::string LastCommand;
};

} // namespace programmers
