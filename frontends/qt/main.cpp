// Update: the window of the update tool.
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

int main(int argc, char** argv) {
    // Help needs no display.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("usage: Update [options]\n%s", app::ProgramOptionsHelp());
            return app::exitcode::Success;
        }
        if (arg == "--version") {
            std::printf("Update %s\n", app::ToolVersion());
            return app::exitcode::Success;
        }
    }
    QApplication qtApplication(argc, argv);
    // Qt has taken its own options (-platform, ...); the rest are ours.
    std::vector<std::string> args;
    for (const QString& arg : QCoreApplication::arguments().mid(1)) {
        args.push_back(arg.toLocal8Bit().toStdString());
    }
    app::ProgramOptions options;
    std::vector<std::string> rest;
    std::string error;
    if (!app::ParseProgramOptions(args, options, rest, error) || !rest.empty()) {
        if (error.empty()) {
            error = "unknown option \"" + rest.front() + "\"";
        }
        std::fprintf(stderr, "Update: %s (see --help)\n", error.c_str());
        return app::exitcode::BadOption;
    }
    app::StartOptions start;
    if (!app::ApplyProgramOptions(options, start, error)) {
        std::fprintf(stderr, "Update: %s\n", error.c_str());
        app::SessionReport report;
        return app::FinishRun(report, app::exitcode::FolderMissing, options, "Update");
    }

    platform::Application& loop = platform::Application::Instance();
    loop.SetBackend(std::make_unique<qtfront::QtLoop>());
    int exitCode = app::exitcode::Success;
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
        exitCode = app::FinishRun(form.Report, form.ExitCode, options, "Update");
        window.hide();
        window.Unbind();
    }
    // The Qt backend must go while Qt still runs.
    loop.SetBackend(nullptr);
    return exitCode;
}
