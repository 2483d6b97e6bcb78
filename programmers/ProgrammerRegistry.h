#pragma once

#include "programmers/Emf_loadunit.h"
#include "programmers/Programmerunit.h"

#include <cstdint>
#include <memory>
#include <span>
#include <variant>

namespace programmers {

// Every transfer method the session can choose. A method whose row in the
// registry has no factory is not built here: the step that needs it fails
// openly.
enum class Method {
    Bsl430,        // MSP430 ROM bootstrap loader
    Bsl5xx,        // MSP430 5xx/6xx bootstrap loader
    DeviceLoader,  // the instrument's own loader
    Xmodem,        // XMODEM bootloader
    BlockTransfer, // files in CRC-8-checked blocks
    BasicLoader,   // text-talking Basic-Loader
    LabTransfer,   // lab file transfer
    Recovery,      // bootloader recovery flow
    HexLoader,     // external hex loader tool
    Pic32Loader,   // external PIC32 bootloader tool
};

// How the session wants an MSP430 bootstrap loader run.
struct TBslSettings {
    bool LoaderMode = false;   // the instrument already waits in its loader
    bool SyncFirst = false;    // synchronise before the first loader command
    bool QueryFirst = false;   // ask for the password before entering the loader
    bool Set9600After = false; // 9600 8N2 after success instead of restoring
};

// Per-method options; a method takes its own alternative and the defaults
// when it is given another.
using TMethodSettings = std::variant<std::monostate, TBslSettings, TXmodemSettings>;

using ProgrammerFactory = std::unique_ptr<TProgrammerTyp> (*)(const TProgrammerContext& context,
                                                              const TMethodSettings& settings);

struct TMethodEntry {
    Method Id;
    const char* Name;         // the id reports and the README use
    const char* Description;  // as the log names it
    ProgrammerFactory Create; // nullptr: not built here
};

std::span<const TMethodEntry> Methods();
const TMethodEntry& MethodEntry(Method method);
// nullptr when the method is not built here.
std::unique_ptr<TProgrammerTyp> CreateProgrammer(Method method, const TProgrammerContext& context,
                                                 const TMethodSettings& settings);

// The bootstrap loader a processor needs.
Method MethodForChip(std::uint32_t prozTyp);

} // namespace programmers
