#include "app/Program.h"

#include "app/ConfigFolders.h"
#include "app/ReportWriter.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/PortMap.h"
#include "platform/Text.h"

#include <charconv>
#include <cstdio>

namespace app {

const char* ProgramOptionsHelp() {
    return "  --dir DIR           program folder (configuration and firmware files);\n"
           "                      also made the current directory\n"
           "  --ports DIR         folder of links COM1..COM256 to serial devices\n"
           "                      (default: $UPDATE_PORTS, else the machine's serial ports)\n"
           "  --time-divisor N    divide every pause and timer by N (tests, demo)\n"
           "  --report FILE       write what the run did to FILE as JSON\n"
           "  --identify          identify the instrument and tell the decision, no update\n"
           "  --version           show the version of the tool\n"
           "  --help              show this text\n"
           "Exit codes: 0 success, 1 programming failed or aborted, 2 fixed port not opened,\n"
           "3 no instrument found, 4 nothing newer (AutoStart), 64 bad option, 66 program\n"
           "folder missing, 78 Update.ini or ProgDevice.ini missing.\n";
}

const char* ToolVersion() {
    return UPDATE_VERSION;
}

bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         std::vector<std::string>& rest, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto needValue = [&](std::string& value) {
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options.ShowHelp = true;
        } else if (arg == "--version") {
            options.ShowVersion = true;
        } else if (arg == "--identify") {
            options.IdentifyOnly = true;
        } else if (arg == "--report") {
            if (!needValue(options.ReportFile)) {
                return false;
            }
            if (options.ReportFile.empty()) {
                error = "--report needs a file name";
                return false;
            }
            // Relative to where the program was started, before --dir moves away.
            if (options.ReportFile.front() != '/') {
                options.ReportFile =
                    platform::JoinPath(platform::CurrentDirectory(), options.ReportFile);
            }
        } else if (arg == "--dir") {
            if (!needValue(options.Folder)) {
                return false;
            }
        } else if (arg == "--ports") {
            if (!needValue(options.Ports)) {
                return false;
            }
        } else if (arg == "--time-divisor") {
            std::string value;
            if (!needValue(value)) {
                return false;
            }
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
        } else {
            rest.push_back(arg);
        }
    }
    return true;
}

bool ApplyProgramOptions(const ProgramOptions& options, StartOptions& start, std::string& error) {
    platform::Application::Instance().SetTimeDivisor(options.TimeDivisor);
    start.IdentifyOnly = options.IdentifyOnly;
    if (!options.Ports.empty()) {
        // Relative to where the program was started, before --dir moves away.
        std::string ports = options.Ports.front() == '/'
                                ? options.Ports
                                : platform::JoinPath(platform::CurrentDirectory(), options.Ports);
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

int FinishRun(SessionReport& report, int exitCode, const ProgramOptions& options,
              const char* program) {
    report.IdentifyOnly = options.IdentifyOnly;
    report.Finish(exitCode);
    std::string error;
    if (!options.ReportFile.empty() &&
        !WriteReport(report, ToolVersion(), options.ReportFile, error)) {
        std::fprintf(stderr, "%s: report: %s\n", program, error.c_str());
    }
    return exitCode;
}

std::unique_ptr<platform::TerminationSignals> WatchTerminationSignals(TUpdateForm& form) {
    return std::make_unique<platform::TerminationSignals>([handle = form.Handle()](int signal) {
        platform::Application::Instance().PostMessage(handle, WM_TERMINATION_SIGNAL,
                                                      static_cast<std::uintptr_t>(signal), 0);
    });
}

} // namespace app
