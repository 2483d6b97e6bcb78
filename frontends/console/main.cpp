// update-console: the update tool for scripts, service benches and SSH.
#include "app/ConfigFolders.h"
#include "app/Program.h"
#include "app/Updatemain.h"
#include "frontends/console/ConsoleDialogs.h"
#include "frontends/console/ConsoleInput.h"
#include "frontends/console/ConsoleOptions.h"
#include "frontends/console/ConsoleView.h"
#include "frontends/console/PortListing.h"
#include "platform/Application.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    app::ProgramOptions options;
    console::ConsoleOptions consoleOptions;
    const app::FrontEndOptions frontEnd = console::ConsoleFrontEnd(consoleOptions);
    std::string error;
    if (!app::ParseProgramOptions(args, options, frontEnd, error) ||
        !console::CheckConsoleOptions(consoleOptions, error)) {
        std::fprintf(stderr, "update-console: %s (see --help)\n", error.c_str());
        return app::exitcode::BadOption;
    }
    if (options.ShowHelp) {
        const std::string help =
            app::ProgramHelp("update-console", frontEnd, console::ConsoleHelpAfterOptions(),
                             console::ConsoleHelpExamples());
        std::fputs(help.c_str(), stdout);
        return app::exitcode::Success;
    }
    if (options.ShowVersion) {
        std::printf("update-console %s\n", app::ToolVersion());
        return app::exitcode::Success;
    }
    app::StartOptions start;
    if (!app::ApplyProgramOptions(options, start, error)) {
        return app::EndBeforeStart(app::exitcode::FolderMissing, error, options, "update-console");
    }
    if (consoleOptions.ListPorts) {
        console::PrintPortList(stdout, consoleOptions.Json);
        return app::exitcode::Success;
    }
    // Installed, the program's own folder holds no configuration: say where
    // to point it instead of a box about a missing file.
    if (options.Folder.empty() && !app::UpdateIniPresent()) {
        return app::EndBeforeStart(app::exitcode::ConfigurationMissing, app::MissingUpdateIniText(),
                                   options, "update-console");
    }
    // With the report on standard output, everything else goes beside it.
    std::FILE* out = options.ReportToStandardOutput() ? stderr : stdout;
    const bool personAtTerminal = ::isatty(STDIN_FILENO) != 0;
    console::ConsoleDialogs dialogs(out, consoleOptions.Quiet);
    dialogs.SetQuestionAnswer(consoleOptions.QuestionAnswer);
    console::ConsoleView view(out, stderr, consoleOptions, ::isatty(STDERR_FILENO) != 0);
    if (personAtTerminal) {
        dialogs.SetInteractive([&view] { return view.WaitForLine(); });
    }
    start.Observer = view.Observer();
    view.Attach();
    app::TUpdateForm form(dialogs, start);
    console::ConsoleInput input;
    view.Connect(form, input);
    input.Start();
    {
        auto signalWatch = app::WatchTerminationSignals(form);
        platform::Application::Instance().Run();
    }
    const app::SessionReport& report = form.FinishReport();
    const int exitCode = app::FinishRun(report, form.ExitCode(), options, "update-console");
    view.PrintResult(report.Outcome, exitCode);
    return exitCode;
}
