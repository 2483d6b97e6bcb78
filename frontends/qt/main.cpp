// The window of the update tool.
#include "app/Program.h"
#include "frontends/qt/WindowProgram.h"

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* Program = qtfront::WindowProgramName;

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
    return qtfront::RunWindowProgram(options);
}
