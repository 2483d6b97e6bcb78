#include "frontends/console/ConsoleOptions.h"

#include "platform/Dialogs.h"

namespace console {

app::FrontEndOptions ConsoleFrontEnd(ConsoleOptions& options) {
    auto flag = [](bool& field) {
        return [&field](const std::string&, std::string&) { return field = true; };
    };
    auto answer = [&options](int value) {
        return [&options, value](const std::string&, std::string&) {
            options.QuestionAnswer = value;
            return true;
        };
    };
    return {
        {
            {"start", 0, nullptr, "press OK once start-up is done", flag(options.PressOkAtStart)},
            {"yes", 0, nullptr, "answer Yes to questions when nobody can be asked",
             answer(platform::IDYES)},
            {"no", 0, nullptr, "answer No to them (the default)", answer(platform::IDNO)},
            {"quiet", 'q', nullptr, "only errors and the result line", flag(options.Quiet)},
            {"trace", 0, nullptr, "each change of the window model on standard error",
             flag(options.Trace)},
            {"list-ports", 0, nullptr, "list the serial ports and who may open them",
             flag(options.ListPorts)},
            {"json", 0, nullptr, "with --list-ports: the list as JSON", flag(options.Json)},
        },
        {
            {"yes", "no"},
            {"quiet", "verbose"},
            {"quiet", "trace"},
            {"list-ports", "start"},
            {"list-ports", "identify"},
            {"list-ports", "report"},
            {"list-ports", "port"},
        },
    };
}

bool CheckConsoleOptions(const app::ProgramOptions&, const ConsoleOptions& options,
                         std::string& error) {
    if (options.Json && !options.ListPorts) {
        error = "--json goes with --list-ports";
        return false;
    }
    return true;
}

const char* ConsoleHelpAfterOptions() {
    return "\n"
           "Commands on standard input (one a line): ok or an empty line (press OK), quit,\n"
           "german, english, readme, version, open, multi, ph, oxi, cond, lab, clock, debug,\n"
           "swcheck, anyfile, help. When the input ends while no update runs, the program\n"
           "closes. Progress: a status line on a terminal, else lines on standard error.\n";
}

const char* ConsoleHelpExamples() {
    return "  update-console --dir /srv/update --port /dev/ttyUSB0 --start --report run.json\n"
           "  update-console --dir /srv/update --port COM3 --identify --report - -q\n";
}

} // namespace console
