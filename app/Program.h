#pragma once

#include "app/Updatemain.h"
#include "platform/TerminationSignals.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace app {

// What a front-end takes from its command line.
struct ProgramOptions {
    std::string Folder; // --dir
    std::string Ports;  // --ports: a folder of links COM1..COM256
    std::uint32_t TimeDivisor = 1;
    bool ShowHelp = false;
    bool ShowVersion = false;  // --version
    std::string ReportFile;    // --report, made absolute while parsing
    bool IdentifyOnly = false; // --identify
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

// Without --dir, start-up finds no Update.ini in the folders it looks in:
// one line that names them and says what --dir is for.
std::string MissingUpdateIniText();

// The window's answer to that: the operator names the program folder, which
// then stands as if given by --dir. False when cancelled (error says why).
bool ChooseProgramFolder(platform::Dialogs& dialogs, ProgramOptions& options, StartOptions& start,
                         std::string& error);

// Once the loop has ended: completes the report and writes it when --report
// asked for one. A report that cannot be written is said on standard error
// under the program's name; the exit code (returned) stays the run's.
int FinishRun(SessionReport& report, int exitCode, const ProgramOptions& options,
              const char* program);

// SIGTERM and SIGINT end the form's run as closing its window does, for as
// long as the returned watch lives.
std::unique_ptr<platform::TerminationSignals> WatchTerminationSignals(TUpdateForm& form);

} // namespace app
