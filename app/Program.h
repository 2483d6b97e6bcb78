#pragma once

#include "app/Updatemain.h"
#include "platform/CommandLine.h"
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
    std::string Port;   // --port: COM name or device path, in place of Com=
    std::uint32_t TimeDivisor = 1;
    bool ShowHelp = false;
    bool ShowVersion = false;  // --version
    std::string ReportFile;    // --report, made absolute while parsing; "-": standard output
    bool IdentifyOnly = false; // --identify
    bool DebugLog = false;     // --verbose
    bool ReportToStandardOutput() const { return ReportFile == "-"; }
};

// A front-end's own options and the pairs of them (or of them and the
// shared ones) that exclude each other.
struct FrontEndOptions {
    std::vector<platform::OptionSpec> Specs;
    std::vector<platform::OptionConflict> Conflicts;
};

// Parses the options every front-end shares together with the front-end's
// own. False with one line in error for an unknown option, a bad value, an
// argument that is no option, or two options that exclude each other.
bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         const FrontEndOptions& frontEnd, std::string& error);

// The whole --help text: usage, the shared and the front-end's options,
// what follows them (commands, ...), the exit codes and examples.
std::string ProgramHelp(const char* program, const FrontEndOptions& frontEnd,
                        const char* afterOptions, const char* examples);

// The release of this build, as the package and the reports give it.
const char* ToolVersion();

// Applies the shared options: the folder becomes the current directory and
// the program folder; the divisor goes to the loop; --port and --verbose go
// to start-up. False when the folder cannot be entered (error says why).
bool ApplyProgramOptions(const ProgramOptions& options, StartOptions& start, std::string& error);

// Without --dir, start-up finds no Update.ini in the folders it looks in:
// one line that names them and says what --dir is for.
std::string MissingUpdateIniText();

// The window's answer to that: the operator names the program folder, which
// then stands as if given by --dir. False when cancelled (error says why).
bool ChooseProgramFolder(platform::Dialogs& dialogs, ProgramOptions& options, StartOptions& start,
                         std::string& error);

// Once the loop has ended, with the report completed (TUpdateForm::FinishReport):
// writes it when --report asked for one. A report that cannot be written is
// said on standard error under the program's name; the exit code (returned)
// stays the run's.
int FinishRun(const SessionReport& report, int exitCode, const ProgramOptions& options,
              const char* program);

// A run that ends before the window exists: error goes to standard error
// under the program's name and, as the cause, into the report.
int EndBeforeStart(int exitCode, const std::string& error, const ProgramOptions& options,
                   const char* program);

// SIGTERM and SIGINT end the form's run as closing its window does, for as
// long as the returned watch lives.
std::unique_ptr<platform::TerminationSignals> WatchTerminationSignals(TUpdateForm& form);

} // namespace app
