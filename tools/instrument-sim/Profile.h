#pragma once

#include "tools/instrument-sim/LineFault.h"
#include "tools/instrument-sim/LineSettings.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// LateHangup: the command is done and answered, and the line closes a
// while later (a cable pulled after the answer); the delay is in lateHangupMs.
enum class FaultKind { Silent, Garble, Refuse, Hangup, LateHangup };

// One reply line of a cue, sent delayMs after the line before it.
struct CueLine {
    unsigned delayMs = 0;
    std::string bytes; // without the CR LF the sender appends
};

// A cue or fault applies to every occurrence of a command (occurrence 0) or to one.
struct CommandKey {
    long number = 0;
    unsigned occurrence = 0;

    auto operator<=>(const CommandKey&) const = default;
};

struct Profile {
    std::string name;
    int startMode = 0;          // 0..5, selects the wake command
    bool startInLoader = false; // the instrument already waits in its loader
    bool poweredOff = false;    // switched off until SIGUSR1 switches it on
    LineSettings line;          // firmware line
    LineSettings loaderLine{9600, 1};
    std::string loader = "none"; // entry of the loader registry

    std::string pcb, device, version, serial;
    std::array<int, 4> idReplies{23, 20, 21, 25}; // answers to 2003, 2000, 2001, 4001
    std::string password = "FFFE";
    int passwordReply = 80;
    bool refuseUnknown = true; // unknown commands get "?" rather than an acknowledge
    std::vector<long> loaderEntry{5588, 5566, 5567, 1200, 1230, 1231};
    std::string entryKey = "QX47"; // the argument the password entries must carry
    // Told with reply 208 in answer to the bootloader-file command; 0: none.
    char memoryVariant = 0;

    std::string probe{"\x80"}; // bytes that make the loader give its probe answer
    std::string probeAnswer;   // empty: no answer
    std::string probeLeave;    // bytes that make the stub loader start the firmware; empty: none
    unsigned replyDelayMs = 0;

    std::uint32_t flashStart = 0x1000;
    std::uint32_t flashSize = 0xF000;
    // The flash holds an old image at power-on (a pattern that is never 0xFF),
    // so that a missed erase shows; false: erased.
    bool oldImage = true;
    // The new firmware stays silent after the loader starts it (it does not run).
    bool silentAfterRestart = false;

    std::map<CommandKey, std::vector<CueLine>> cues;
    std::vector<CueLine> restartCue; // sent when the firmware starts again after the loader
    std::map<CommandKey, FaultKind> faults;
    std::map<CommandKey, unsigned> lateHangupMs; // for the faults "hangup+MS"
    LineFaultPlan lineFault;
    std::map<std::string, std::string> loaderKeys; // "loader.*" keys, for the loaders
};

struct ProfileResult {
    bool ok = false;
    std::string error; // "line N: ..." when not ok
    Profile profile;
};

inline constexpr std::size_t kMaxProfileLine = 1024;
inline constexpr std::size_t kMaxProfileText = 400;

ProfileResult ParseProfile(std::string_view text);
ProfileResult LoadProfile(const std::string& path);

// The wake command number for a start mode, as the tool sends it.
long WakeCommand(int startMode);

} // namespace sim
