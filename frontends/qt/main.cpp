// The window of the update tool.
#include "app/Program.h"
#include "app/Updatemain.h"
#include "frontends/qt/MainWindow.h"
#include "frontends/qt/QtDialogs.h"
#include "frontends/qt/QtLoop.h"
#include "platform/Application.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* Program = "instrument-update-gui";

constexpr const char* HelpAfterOptions =
    "\nQt's own options (-platform offscreen, -style NAME, ...) are taken as well.\n";
constexpr const char* HelpExamples =
    "  instrument-update-gui --dir /srv/update --port /dev/ttyUSB0\n"
    "  instrument-update-gui --dir /srv/update --identify --report identity.json\n";

// Help and the version need no display: they are answered before Qt starts,
// which without a display would end the program.
bool AnswersWithoutWindow(int argc, char** argv, int& exitCode) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            return false;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(app::ProgramHelp(Program, {}, HelpAfterOptions, HelpExamples).c_str(),
                       stdout);
            exitCode = app::exitcode::Success;
            return true;
        }
        if (arg == "--version" || arg == "-V") {
            std::printf("%s %s\n", Program, app::ToolVersion());
            exitCode = app::exitcode::Success;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    int exitCode = app::exitcode::Success;
    if (AnswersWithoutWindow(argc, argv, exitCode)) {
        return exitCode;
    }
    QApplication qtApplication(argc, argv);
    // Qt has taken its own options (-platform, ...); the rest are ours.
    std::vector<std::string> args;
    for (const QString& arg : QCoreApplication::arguments().mid(1)) {
        args.push_back(arg.toLocal8Bit().toStdString());
    }
    app::ProgramOptions options;
    std::string error;
    if (!app::ParseProgramOptions(args, options, {}, error)) {
        std::fprintf(stderr, "%s: %s (see --help)\n", Program, error.c_str());
        return app::exitcode::BadOption;
    }
    app::StartOptions start;
    if (!app::ApplyProgramOptions(options, start, error)) {
        std::fprintf(stderr, "%s: %s\n", Program, error.c_str());
        app::SessionReport report;
        return app::FinishRun(report, app::exitcode::FolderMissing, options, Program);
    }

    platform::Application& loop = platform::Application::Instance();
    loop.SetBackend(std::make_unique<qtfront::QtLoop>());
    {
        qtfront::MainWindow window;
        qtfront::QtDialogs dialogs(&window);
        start.Observer = window.Observer();
        app::TUpdateForm form(dialogs, start);
        window.Bind(form);
        window.show();
        {
            auto signalWatch = app::WatchTerminationSignals(form);
            loop.Run();
        }
        exitCode = app::FinishRun(form.Report, form.ExitCode, options, Program);
        window.hide();
        window.Unbind();
    }
    // The Qt backend must go while Qt still runs.
    loop.SetBackend(nullptr);
    return exitCode;
}
