#pragma once

#include "app/Updatemain.h"

#include <cstdint>
#include <string>
#include <vector>

namespace app {

// What a front-end takes from its command line.
struct ProgramOptions {
    std::string Folder; // --dir
    std::string Ports;  // --ports: a folder of links COM1..COM256
    std::uint32_t TimeDivisor = 1;
    bool ShowHelp = false;
    bool ShowVersion = false; // --version
};

// Parses the options every front-end shares. Returns false with a message in
// error for an unknown option or a bad value.
bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         std::vector<std::string>& rest, std::string& error);

const char* ProgramOptionsHelp();

// The release of this build, as the package and the reports give it.
const char* ToolVersion();

// Applies the shared options: the folder becomes the current directory and
// the program folder; the divisor goes to the loop. False when the folder
// cannot be entered (error says why).
bool ApplyProgramOptions(const ProgramOptions& options, StartOptions& start, std::string& error);

} // namespace app
