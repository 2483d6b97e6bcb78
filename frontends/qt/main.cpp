// Update: the window of the update tool.
#include "app/Program.h"
#include "frontends/qt/WindowProgram.h"

#include <QApplication>
#include <cstdio>
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
    return qtfront::RunWindowProgram(options);
}
