#include "app/Program.h"

#include "app/ConfigFolders.h"
#include "app/FailureCauses.h"
#include "app/ReportWriter.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/PortMap.h"
#include "platform/Text.h"

#include <charconv>
#include <cstdio>

namespace app {

namespace {

// Relative to where the program was started, before --dir moves away.
std::string FromStartFolder(const std::string& path) {
    return path.front() == '/' ? path : platform::JoinPath(platform::CurrentDirectory(), path);
}

// The options of every front-end, before the front-end's own.
std::vector<platform::OptionSpec> SharedSpecs(ProgramOptions& options) {
    using platform::SetsFlag;
    using platform::StoresValue;
    return {
        {"dir", 0, "DIR",
         "program folder: configuration and firmware files;\n"
         "also the current directory (default: the program's)",
         StoresValue(options.Folder, "dir")},
        {"port", 'p', "PORT",
         "the instrument's port, in place of Com= of Update.ini:\n"
         "COM3, /dev/ttyUSB0, /dev/serial/by-id/...",
         [&options](const std::string& value, std::string& error) {
             if (value.find('/') != std::string::npos) {
                 options.Port = FromStartFolder(value);
                 return true;
             }
             if (platform::ComNameIndex(value) < 0) {
                 error = "--port needs a COM name (COM1..COM" + std::to_string(platform::MaxPorts) +
                         ") or a device path, not \"" + value + "\"";
                 return false;
             }
             options.Port = value;
             return true;
         }},
        {"ports", 0, "DIR",
         "folder of links COM1..COM256 to serial devices\n"
         "(default: $UPDATE_PORTS, else the machine's ports)",
         StoresValue(options.Ports, "ports")},
        {"time-divisor", 0, "N", "divide every pause and timer by N (tests, demo)",
         [&options](const std::string& value, std::string& error) {
             unsigned divisor = 0;
             auto [end, result] =
                 std::from_chars(value.data(), value.data() + value.size(), divisor);
             if (result != std::errc() || end != value.data() + value.size() || divisor < 1 ||
                 divisor > 100000) {
                 error =
                     "--time-divisor needs a whole number from 1 to 100000, not \"" + value + "\"";
                 return false;
             }
             options.TimeDivisor = divisor;
             return true;
         }},
        {"report", 0, "FILE",
         "write what the run did to FILE as JSON; - for\n"
         "standard output (all else then goes to standard error)",
         [&options, store = StoresValue(options.ReportFile, "report")](const std::string& value,
                                                                       std::string& error) {
             if (!store(value, error)) {
                 return false;
             }
             if (value != "-") {
                 options.ReportFile = FromStartFolder(value);
             }
             return true;
         }},
        {"identify", 0, nullptr, "identify the instrument, tell the decision, no update",
         SetsFlag(options.IdentifyOnly)},
        {"verbose", 'v', nullptr, "debug log: each command and reply (as DebugInfo=YES)",
         SetsFlag(options.DebugLog)},
    };
}

// The shared options, the front-end's own, then version and help, which end
// the list as the GNU tools print them.
std::vector<platform::OptionSpec> AllSpecs(ProgramOptions& options,
                                           const FrontEndOptions& frontEnd) {
    std::vector<platform::OptionSpec> specs = SharedSpecs(options);
    specs.insert(specs.end(), frontEnd.Specs.begin(), frontEnd.Specs.end());
    specs.push_back({"version", 'V', nullptr, "show the version of the tool",
                     platform::SetsFlag(options.ShowVersion)});
    specs.push_back({"help", 'h', nullptr, "show this text", platform::SetsFlag(options.ShowHelp)});
    return specs;
}

constexpr const char* ExitCodeHelp = "Exit status:\n"
                                     "  0   success (--identify: the instrument was identified)\n"
                                     "  1   programming failed or aborted\n"
                                     "  2   the serial port (Com= or --port) could not be opened\n"
                                     "  3   no instrument found\n"
                                     "  4   nothing newer to load (with AutoStart)\n"
                                     "  64  bad option\n"
                                     "  66  program folder missing\n"
                                     "  78  configuration file missing\n";

} // namespace

const char* ToolVersion() {
    return UPDATE_VERSION;
}

bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         const FrontEndOptions& frontEnd, std::string& error) {
    return platform::ParseCommandLine(args, AllSpecs(options, frontEnd), frontEnd.Conflicts, error);
}

std::string ProgramHelp(const char* program, const FrontEndOptions& frontEnd,
                        const char* afterOptions, const char* examples) {
    ProgramOptions unused;
    return std::string("usage: ") + program +
           " [options]\n"
           "Finds a measuring instrument on a serial port, identifies it and updates its\n"
           "firmware from the files of the program folder.\n\n"
           "Options:\n" +
           platform::OptionHelp(AllSpecs(unused, frontEnd)) + afterOptions + "\n" + ExitCodeHelp +
           "\nExamples:\n" + examples;
}

bool ApplyProgramOptions(const ProgramOptions& options, StartOptions& start, std::string& error) {
    platform::Application::Instance().SetTimeDivisor(options.TimeDivisor);
    start.IdentifyOnly = options.IdentifyOnly;
    start.Port = options.Port;
    start.DebugLog = options.DebugLog;
    if (!options.Ports.empty()) {
        std::string ports = FromStartFolder(options.Ports);
        if (!platform::DirectoryExists(ports)) {
            error = "the port folder \"" + options.Ports + "\" does not exist";
            return false;
        }
        platform::SetPortMapDirectory(ports);
    }
    if (options.Folder.empty()) {
        start.ProgramFolder = platform::ExecutableFolder();
        return true;
    }
    if (!platform::SetCurrentDirectory(options.Folder)) {
        error = "cannot enter the program folder \"" + options.Folder + "\"";
        return false;
    }
    start.ProgramFolder = platform::CurrentDirectory();
    return true;
}

std::string MissingUpdateIniText() {
    std::string folders;
    for (const std::string& folder : UpdateIniFolders()) {
        folders += (folders.empty() ? "" : " nor in ") + folder;
    }
    return std::string("no ") + UpdateIniName + " in " + folders +
           "; --dir DIR names the program folder";
}

bool ChooseProgramFolder(platform::Dialogs& dialogs, ProgramOptions& options, StartOptions& start,
                         std::string& error) {
    std::string folder = platform::CurrentDirectory();
    const std::string why = MissingUpdateIniText();
    if (!dialogs.ChooseFolder(platform::Utf8ToLatin1(why), folder)) {
        error = why;
        return false;
    }
    options.Folder = folder;
    return ApplyProgramOptions(options, start, error);
}

int FinishRun(const SessionReport& report, int exitCode, const ProgramOptions& options,
              const char* program) {
    if (options.ReportFile.empty()) {
        return exitCode;
    }
    if (options.ReportToStandardOutput()) {
        const std::string text = ReportJson(report, ToolVersion());
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0) {
            std::fprintf(stderr, "%s: report: cannot write to standard output\n", program);
        }
        return exitCode;
    }
    std::string error;
    if (!WriteReport(report, ToolVersion(), options.ReportFile, error)) {
        std::fprintf(stderr, "%s: report: %s\n", program, error.c_str());
    }
    return exitCode;
}

int EndBeforeStart(int exitCode, const std::string& error, const ProgramOptions& options,
                   const char* program) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    SessionReport report;
    report.Failure = FailureAt(step::StartUp, platform::Utf8ToLatin1(error));
    report.IdentifyOnly = options.IdentifyOnly;
    report.Finish(exitCode);
    return FinishRun(report, exitCode, options, program);
}

std::unique_ptr<platform::TerminationSignals> WatchTerminationSignals(TUpdateForm& form) {
    return std::make_unique<platform::TerminationSignals>([handle = form.Handle()](int signal) {
        platform::Application::Instance().PostMessage(handle, WM_TERMINATION_SIGNAL,
                                                      static_cast<std::uintptr_t>(signal), 0);
    });
}

} // namespace app
