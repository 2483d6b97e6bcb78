#pragma once

#include "programmers/Emf_loadunit.h"
#include "programmers/ExternalTool.h"
#include "programmers/Programmerunit.h"

#include <cstdint>
#include <memory>
#include <span>
#include <variant>

namespace programmers {

// Every transfer method built here. Added: a row a caller puts in front of
// the built-in ones.
enum class Method {
    Bsl430,        // MSP430 ROM bootstrap loader
    Bsl5xx,        // MSP430 5xx/6xx bootstrap loader
    DeviceLoader,  // the instrument's own loader
    Xmodem,        // XMODEM bootloader
    BlockTransfer, // files in CRC-8-checked blocks
    BasicLoader,   // text-talking Basic-Loader
    LabTransfer,   // lab file transfer
    HexLoader,     // external hex loader tool or the updater library
    Pic32Loader,   // external PIC32 bootloader tool
    Added,
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
using TMethodSettings = std::variant<std::monostate, TBslSettings, TXmodemSettings, TToolSettings>;

// The byte the 5xx/6xx loader answers a lab recovery's probe with.
inline constexpr char LoaderAnswer5xx = 'Q';

// The step of a session that asks for a transfer.
enum class Phase {
    Firmware,         // the program file, the instrument in its firmware
    FirmwareInLoader, // the program file, the instrument already in its loader
    BootFile,         // the boot-loader file behind the firmware
    LabFiles,         // a lab instrument's further files
    Terminal,         // the Basic-Loader's terminal
    Tool,             // the program file through a separate tool
    LabRecovery,      // a lab instrument found in its loader
    MeterRecovery,    // a meter found in its loader
};

// What the session knows when it asks which method transfers.
struct TSessionKey {
    Phase Step = Phase::Firmware;
    int FileClass = 0;         // 0..4, from the program file's name
    std::uint32_t ProzTyp = 0; // the device entry's chip code
    std::int32_t StartMode = 0;
    std::int32_t ProgVariant = 0;
    char LoaderAnswer = 0;           // the byte a loader answered the probe with; 0: none
    bool SensorQuestionMark = false; // the firmware holds a password to ask for
    bool Class2Mark = false;         // a block transfer ran before the boot file
    bool SensorAbsent = false;       // no sensor board answered
};

using ProgrammerFactory = std::unique_ptr<TProgrammerTyp> (*)(const TProgrammerContext& context,
                                                              const TMethodSettings& settings);

struct TMethodEntry {
    Method Id;
    const char* Name;        // the id reports and the README use
    const char* Description; // as the log names it
    bool (*Serves)(const TSessionKey& key);
    TMethodSettings (*Settings)(const TSessionKey& key); // nullptr: no options
    ProgrammerFactory Create;
};

// The session's choice: the row and the settings it built.
struct TChoice {
    const TMethodEntry* Entry = nullptr; // nullptr: no method serves the session
    TMethodSettings Settings;
    explicit operator bool() const { return Entry != nullptr; }
    std::unique_ptr<TProgrammerTyp> Create(const TProgrammerContext& context) const;
};

std::span<const TMethodEntry> Methods();
const TMethodEntry& MethodEntry(Method method);

// The first row that serves the key; added rows are asked before the
// built-in ones.
TChoice Choose(const TSessionKey& key, std::span<const TMethodEntry> added = {});

} // namespace programmers
