#pragma once

#include "programmers/Programmerunit.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace programmers {

inline constexpr std::size_t WinceBlockSize = 2000;    // data bytes of a block, at most
inline constexpr std::uint32_t WinceWatchdogMs = 8000; // no acknowledge for this long: failed
inline constexpr unsigned long WinceTransferBaud = 38400;
inline constexpr long WinceSwitchUpWaitMs = 2000; // before the port follows the instrument
inline constexpr long WinceSwitchBackWaitMs = 1500;
inline constexpr long WinceEndWaitMs = 500;
// From this start-up program version (x 1000) on, the instrument takes the
// new file header.
inline constexpr std::int32_t WinceNewHeaderFromExe = 106;

// The check character of a block: CRC-8 (polynomial 0x1D, start 0xFF, most
// significant bit first), moved off 0 and off the characters that frame a
// block ('D', ',' and '#'), so that a receiver resynchronising on them is
// never misled by it.
std::uint8_t BlockCheckChar(std::string_view block);

// One block of a file as it goes on the line.
struct TBlockFrame {
    std::string Bytes;      // "D.<length>,<check>#" and the data
    std::size_t Length = 0; // data bytes carried
    bool Last = false;      // it ends the file
};

// The block of file that starts at offset: up to WinceBlockSize bytes; an
// empty file is one empty block.
TBlockFrame MakeBlockFrame(std::string_view file, std::size_t offset);

// Instruments whose own file loader takes whole files: the program file and
// the job's further files, each announced by name, date and size and sent in
// checked blocks at 38400 baud, every step acknowledged.
class TWinCEProg : public TProgrammerTyp {
public:
    explicit TWinCEProg(const TProgrammerContext& context);

    TProgrammerResult Program(const std::string& fileName) override;

protected:
    // The name the instrument is told; unchanged here.
    virtual std::string NameTransform(const std::string& name) { return name; }
    virtual bool SendText(const char* text);

    void Abort() override;
    bool TakesReply(std::int32_t id) const override;
    void OnReply(std::int32_t id, std::intptr_t data) override;
    void OnWatchdog() override;

private:
    using Step = void (TWinCEProg::*)();

    // Reads the file of the list or the session into the transfer buffer;
    // false after the box naming it.
    bool LoadFile(const std::string& name);
    void Arm(Step next);
    void ChangeSpeed(unsigned long baud, long waitMs, bool back, Step next);
    void RestoreLine();
    void FollowTransferSpeed();

    void DialogueStep();
    void ReachLeftLoader();
    void ReturnFromLeftLoader();
    void BaudSwitchStep();
    void HeaderStep();
    void BlockStep();
    void FileEndStep();
    void FileCompleteStep();
    void SessionEndStep();
    void BaudRestoreStep();
    void FinishStep();

    std::string Data; // the transfer buffer: the whole current file
    std::size_t Sent = 0;
    std::string FileName;
    std::uint32_t FileDate = 0;
    std::size_t NextFile = 0; // index into the job's further files
    std::uint32_t SavedBaud = 0;
    bool Switched = false;           // the port is at the transfer speed
    bool InstrumentSwitched = false; // the instrument was told the transfer speed
    bool Reviving = false;           // the instrument left at that speed is told to go back
    // A speed change is under way: an acknowledge waits for the port.
    bool Changing = false;
    bool AckWhileChanging = false;
    Step OnAck = nullptr;
    std::string LastFrame;            // sent again when the instrument asks
    bool BlockUnacknowledged = false; // the bar moves on a block's acknowledge only
    std::string LastCommand;          // what a silence names
};

} // namespace programmers
